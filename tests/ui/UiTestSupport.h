#pragma once
// Shared fixtures of the window tests.
#include "Deployment.h"
#include "Form1.h"
#include "MessageBox.h"
#include "SimControl.h"

#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>

class QAbstractItemModel;

// Readable failure messages.
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
    const std::vector<MessageRequest>& All() const { return messages_; }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const MessageRequest& message : messages_)
            texts.push_back(message.text);
        return texts;
    }

private:
    std::vector<MessageRequest> messages_;
    ScopedMessageSink sink_{
        [this](const MessageRequest& message) { messages_.push_back(message); }};
};

// A scratch directory whose "wirlg000.dll" is the built adapter library, so a window made on it
// deploys nothing and binds the simulator. No module is attached until a test configures one.
class WindowFixture {
public:
    WindowFixture();
    std::unique_ptr<Form1> MakeWindow();
    QString Directory() const { return dir_.path(); }
    QString File(const char* name) const;

    test::SimControl sim;

private:
    QTemporaryDir dir_;
};

// The rows of a model as text, in order.
QStringList Rows(const QAbstractItemModel& model);

// Empties the event buffer and forgets the decoder's stop time, as a new capture does.
void StartNewCapture();

QByteArray ReadFile(const QString& path);

// While alive, no file this process writes grows beyond `bytes`: a write past it fails as on a
// full disk, without the signal that would end the process.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes);
    ~ScopedFileSizeLimit();

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

template <typename T> T& Child(QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr)
        throw std::runtime_error(std::string("no control named ") + name);
    return *child;
}

// A shown, active window over simulated modules, driven as the user drives it.
class CaptureWindowTest : public ::testing::Test {
protected:
    void Open(const std::string& modules);
    QPushButton& Button(const char* name) { return Child<QPushButton>(*window, name); }
    // Sent as the keyboard sends it: to the focused control, through the application's filters.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}, bool autoRepeat = false);
    QAbstractItemModel& Log() { return *Child<LogView>(*window, "listBox1").model(); }
    bool WaitForRows(int rows, int timeoutMs = 10'000);
    // The capture state as the user sees it: the button's caption and whether Save Log works.
    std::string State() {
        return Button("btnStartStop").text().toStdString() +
               (Button("bSave").isEnabled() ? ", Save Log enabled" : ", Save Log disabled");
    }

    RecordedMessages messages;
    WindowFixture fixture;
    std::unique_ptr<Form1> window;
};

} // namespace Wirelog::testing
