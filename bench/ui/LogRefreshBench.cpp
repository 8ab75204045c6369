// SPDX-License-Identifier: MIT
// The log refresh at full size: a capture's whole buffer (999,999 events of mixed traffic)
// drained into the window's log list with auto-scroll on, its time and the resident memory it
// adds; the cost of one small refresh once the list holds millions of lines, for the table view
// the window uses and for a QListView; and a QListWidget fed the same lines one addItem at a
// time, for comparison.
#include "MixedTraffic.h"
#include "decode/LogDrain.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"
#include "ui/Form1.h"
#include "ui/LogModel.h"
#include "ui/LogView.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QListView>
#include <QListWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

namespace {

using Wirelog::bench::FillCapture;
using Wirelog::bench::Traffic;
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// Lets the views lay out and paint what the refresh changed.
void Settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// One refresh of a few dozen new events, as during a capture, and what it costs the views:
// the median of nine.
double SmallRefreshMilliseconds(const std::function<void()>& refresh) {
    Traffic traffic;
    std::vector<double> times;
    for (int i = 0; i < 9; ++i) {
        Wirelog::ResetEventBuffer();
        traffic.Fill(40);
        const auto start = Clock::now();
        refresh();
        Settle();
        times.push_back(MillisecondsSince(start));
    }
    std::nth_element(times.begin(), times.begin() + 4, times.end());
    return times[4];
}

// The C key, as the user empties the log.
void ClearLog(QWidget& window) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::NoModifier);
    QWidget* focus = QApplication::focusWidget();
    QApplication::sendEvent(focus != nullptr ? focus : &window, &press);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Windows"));

    // The window binds the built adapter library, with no module attached.
    qputenv("WIRELOG_SIM", "hw:off");
    QTemporaryDir scratch;
    if (!QFile::link(QStringLiteral(WIRELOG_BENCH_ADAPTER_LIBRARY),
                     QDir(scratch.path()).filePath(QStringLiteral("wirlg000.dll"))))
        return 1;
    Wirelog::Form1 window({QFile::encodeName(scratch.path()).toStdString(), {}});
    window.findChild<QCheckBox*>(QStringLiteral("cbAutoScroll"))->setChecked(true);
    window.show();
    Settle();
    auto& view = *window.findChild<Wirelog::LogView*>(QStringLiteral("listBox1"));
    auto& model = *qobject_cast<Wirelog::LogModel*>(view.model());

    Wirelog::AppendEvent(0, 0, 0); // the module's announcement opens every capture
    window.UpdateLoggingWindow();
    const double emptyMs = SmallRefreshMilliseconds([&] { window.UpdateLoggingWindow(); });
    std::printf("small refresh at %d lines, table view: %.2f ms\n", model.rowCount(), emptyMs);
    ClearLog(window);

    // The full buffer, in one refresh.
    FillCapture();
    const double residentBefore = ResidentMegabytes();
    auto start = Clock::now();
    window.UpdateLoggingWindow();
    const double drainMs = MillisecondsSince(start);
    Settle();
    const double totalMs = MillisecondsSince(start);
    const double addedMb = ResidentMegabytes() - residentBefore;
    const int lines = model.rowCount();
    std::printf("full buffer: %u events -> %d lines\n", Wirelog::kEventCapacity, lines);
    std::printf("  refresh %.0f ms, with layout and paint %.0f ms (target <= 500 ms)\n", drainMs,
                totalMs);
    std::printf("  resident memory added %.1f MB (target <= 120 MB); line store %.1f MB\n", addedMb,
                model.Lines().BytesReserved() / 1048576.0);

    const double fullMs = SmallRefreshMilliseconds([&] { window.UpdateLoggingWindow(); });
    std::printf("small refresh at %d lines, table view: %.2f ms\n", model.rowCount(), fullMs);

    // A second capture's worth on top, then small refreshes at that size.
    FillCapture();
    window.UpdateLoggingWindow();
    Settle();
    const double tableMs = SmallRefreshMilliseconds([&] { window.UpdateLoggingWindow(); });
    std::printf("small refresh at %d lines, table view: %.2f ms\n", model.rowCount(), tableMs);

    {
        // The same rows under a QListView with uniform item sizes, the table hidden.
        view.hide();
        QListView list;
        list.setUniformItemSizes(true);
        list.setModel(&model);
        list.resize(view.size());
        list.show();
        Settle();
        const double listViewMs = SmallRefreshMilliseconds([&] {
            window.UpdateLoggingWindow();
            list.scrollToBottom();
        });
        std::printf("small refresh at %d lines, QListView: %.2f ms\n", model.rowCount(),
                    listViewMs);
        view.show();
    }

    // A QListWidget fed the first capture again, decoded the same way, one addItem per line.
    {
        FillCapture();
        const double widgetBefore = ResidentMegabytes();
        QListWidget widget;
        widget.resize(view.size());
        widget.show();
        Settle();
        start = Clock::now();
        for (std::uint32_t i = 0; i < Wirelog::myevtHead.load(); ++i) {
            const Wirelog::TWIevent& event = Wirelog::MyEvents[i];
            if (Wirelog::IsSeparatorCode(event.cmd))
                widget.addItem(QString());
            widget.addItem(
                QString::fromStdString(Wirelog::ViewTWI(event.cmd, event.data, event.timer)));
        }
        widget.scrollToBottom();
        Settle();
        const double widgetMs = MillisecondsSince(start);
        std::printf("QListWidget, one addItem per line, %d lines: %.0f ms, %.1f MB added\n",
                    widget.count(), widgetMs, ResidentMegabytes() - widgetBefore);
        std::printf("ratio QListWidget / log list: time %.1fx, memory %.1fx\n", widgetMs / totalMs,
                    (ResidentMegabytes() - widgetBefore) / addedMb);
    }
    return 0;
}
