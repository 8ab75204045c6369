// SPDX-License-Identifier: MIT
// The log refresh at full size: a capture's whole buffer (999,999 events of mixed traffic)
// drained into the window's log list with auto-scroll on, its time and the resident memory it
// adds; the cost of one small refresh once the list holds millions of lines, for the table view
// the window uses and for a QListView; and a QListWidget fed the same lines one addItem at a
// time, for comparison.
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

// Bus traffic of a small board: an EEPROM at 0x50 written and read back, a sensor at 0x48
// polled, a device that is not there, and now and then a protocol error.
class Traffic {
public:
    void Fill(std::uint32_t events) {
        while (Wirelog::myevtHead.load() < events)
            Transaction();
    }

private:
    void Event(std::uint8_t cmd, std::uint8_t data = 0) {
        time_ += 90'000; // one byte at 100 kHz, in nanosecond ticks
        Wirelog::AppendEvent(cmd, data, time_);
    }
    void Start() {
        time_ += 1'000'000 + random_() % 4'000'000; // a few milliseconds of idle bus
        Event(1);
    }
    void Transaction() {
        switch (random_() % 8) {
        case 0: // EEPROM page write
            Start();
            Event(7, 0xA0);
            for (int i = 0; i < 18; ++i)
                Event(9, static_cast<std::uint8_t>(random_()));
            Event(2);
            break;
        case 1: // EEPROM read back
            Start();
            Event(7, 0xA0);
            Event(9, 0x00);
            Event(9, 0x40);
            Event(6);
            Event(7, 0xA1);
            for (int i = 0; i < 15; ++i)
                Event(9, static_cast<std::uint8_t>(random_()));
            Event(10, static_cast<std::uint8_t>(random_()));
            Event(2);
            break;
        case 2: // nobody answers at 0x3C
            Start();
            Event(8, 0x78);
            Event(2);
            break;
        case 3: // a protocol error now and then
            Error();
            break;
        default: // temperature sensor poll
            Start();
            Event(7, 0x90);
            Event(9, 0x00);
            Event(6);
            Event(7, 0x91);
            Event(9, static_cast<std::uint8_t>(random_()));
            Event(10, static_cast<std::uint8_t>(random_()));
            Event(2);
            break;
        }
    }
    void Error() {
        static constexpr std::uint8_t kErrors[] = {3, 4, 5, 11, 12, 13, 14, 15, 16, 17};
        const std::uint8_t code = kErrors[random_() % std::size(kErrors)];
        if (code == 3 || code == 13 || code == 14 || code == 15)
            Start();
        Event(code, static_cast<std::uint8_t>(random_()));
    }

    std::mt19937 random_{12345};
    std::int64_t time_ = 0;
};

void FillCapture() {
    Wirelog::ResetEventBuffer();
    Wirelog::ResetDecoder();
    Wirelog::AppendEvent(0, 0, 0);
    Traffic().Fill(Wirelog::kEventCapacity);
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
