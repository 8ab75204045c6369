// SPDX-License-Identifier: MIT
#pragma once
// The one fixture of the window tests: a scratch directory holding the built adapter library as
// "wirlg000.dll" (so a window deploys nothing and binds the simulator), the recorded messages and
// a window driven as the user drives it.
#include "SimControl.h"
#include "TestPlatform.h"
#include "app/Deployment.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"
#include "ui/Form1.h"
#include "ui/MessageBox.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace Wirelog::testing {

using WirelogTest::ReadFile;

inline const QString kMonitoring = "*** I2C Monitoring activated, waiting for idle bus... ***";
inline const QString kStartLine = "START (valid)";
inline const std::string kNotActivated = "Couldn't activate the selected module.";

// Collects every message instead of showing it. Like a box, a message takes the focus away.
class RecordedMessages {
public:
    std::vector<MessageRequest> all;
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const MessageRequest& message : all)
            texts.push_back(message.text);
        return texts;
    }

private:
    ScopedMessageSink sink_{[this](const MessageRequest& message) {
        all.push_back(message);
        if (QWidget* focus = QApplication::focusWidget())
            focus->clearFocus();
    }};
};

inline std::filesystem::path Path(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

template <typename T> T& Child(QObject& parent, const char* name) {
    if (T* child = parent.findChild<T*>(QString::fromLatin1(name)))
        return *child;
    throw std::runtime_error(std::string("no control named ") + name);
}

inline QStringList Rows(const QAbstractItemModel& model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows << model.data(model.index(row, 0)).toString();
    return rows;
}

// A new capture's start: an empty event buffer and a decoder with no stop time.
inline void StartNewCapture() {
    ResetEventBuffer();
    ResetDecoder();
}

class UiTest : public ::testing::Test {
protected:
    UiTest() {
        if (!dir.isValid() || !QFile::link(QString::fromUtf8(WIRELOG_TEST_ADAPTER_LIBRARY),
                                           File(kSupportLibraryFile)))
            throw std::runtime_error("cannot prepare the scratch directory");
    }
    // A shown, active window over the simulated `modules`, in place of any earlier one.
    void Open(const std::string& modules) {
        window.reset(); // one window, so one capture, at a time
        sim.Configure(modules);
        _isRunning = true;
        window = std::make_unique<Form1>(SupportLibraryDeployment{Path(dir.path()), {}});
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    QString File(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QPushButton& Button(const char* name) { return Child<QPushButton>(*window, name); }
    // Sent as the keyboard sends it: to the focused control, through the application's filters.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}, bool autoRepeat = false) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
        QWidget* focus = QApplication::focusWidget();
        QApplication::sendEvent(focus != nullptr ? focus : window.get(), &press);
    }
    QAbstractItemModel& Log() { return *Child<LogView>(*window, "listBox1").model(); }
    bool WaitForRows(int rows) {
        return QTest::qWaitFor([&] { return Log().rowCount() >= rows; }, 10'000);
    }
    // The log cleared by the C key, then a new capture of these event codes refreshed into it.
    void ShowEvents(const std::vector<std::uint8_t>& codes) {
        Press(Qt::Key_C);
        StartNewCapture();
        for (const std::uint8_t code : codes)
            AppendEvent(code, 0, 0);
        window->UpdateLoggingWindow();
    }
    // The capture state as the user sees it: the button's caption and whether Save Log works.
    std::string State() {
        return Button("btnStartStop").text().toStdString() +
               (Button("bSave").isEnabled() ? ", Save Log enabled" : ", Save Log disabled");
    }

    RecordedMessages messages;
    QTemporaryDir dir;
    test::SimControl sim;
    std::unique_ptr<Form1> window;
};

} // namespace Wirelog::testing
