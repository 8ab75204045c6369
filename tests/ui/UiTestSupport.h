// SPDX-License-Identifier: MIT
#pragma once
// The one fixture of the window tests: a scratch directory holding the built adapter library as
// "wirlg000.dll" (so a window deploys nothing and binds the simulator), the recorded messages and
// a window driven as the user drives it.
#include "SimControl.h"
#include "app/Deployment.h"
#include "app/MessageBox.h"
#include "ui/Form1.h"

#include <QAbstractItemModel>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace Wirelog::testing {

inline const QString kMonitoring = "*** I2C Monitoring activated, waiting for idle bus... ***";
inline const QString kStartLine = "START (valid)";
inline const QString kStopLine = "STOP (*** BUS IS IDLE ***)";
inline const std::string kNotActivated = "Couldn't activate the selected module.";

// Collects every message instead of showing it.
class RecordedMessages {
public:
    std::vector<MessageRequest> all;
    std::vector<std::string> Texts() const;

private:
    ScopedMessageSink sink_{[this](const MessageRequest& message) { all.push_back(message); }};
};

template <typename T> T& Child(QObject& parent, const char* name) {
    if (T* child = parent.findChild<T*>(QString::fromLatin1(name)))
        return *child;
    throw std::runtime_error(std::string("no control named ") + name);
}

QStringList Rows(const QAbstractItemModel& model);
QByteArray ReadFile(const QString& path);
// A new capture's start: an empty event buffer and a decoder with no stop time.
void StartNewCapture();

// While alive, a write past `bytes` fails as on a full disk, without the ending signal.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes);
    ~ScopedFileSizeLimit();

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

class UiTest : public ::testing::Test {
protected:
    UiTest();
    std::unique_ptr<Form1> MakeWindow();
    // A shown, active window over the simulated `modules`, in place of any earlier one.
    void Open(const std::string& modules);
    QString File(const char* name) const;
    QPushButton& Button(const char* name) { return Child<QPushButton>(*window, name); }
    // Sent as the keyboard sends it: to the focused control, through the application's filters.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}, bool autoRepeat = false);
    QAbstractItemModel& Log() { return *Child<LogView>(*window, "listBox1").model(); }
    bool WaitForRows(int rows) {
        return QTest::qWaitFor([&] { return Log().rowCount() >= rows; }, 10'000);
    }
    // The log cleared by the C key, then a new capture of these event codes refreshed into it.
    void ShowEvents(const std::vector<std::uint8_t>& codes);
    // The capture state as the user sees it: the button's caption and whether Save Log works.
    std::string State();

    RecordedMessages messages;
    QTemporaryDir dir;
    test::SimControl sim;
    std::unique_ptr<Form1> window;
};

} // namespace Wirelog::testing
