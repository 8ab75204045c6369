#pragma once
// Shared fixtures of the window tests.
#include "Deployment.h"
#include "Form1.h"
#include "MessageBox.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAbstractItemModel;

namespace Wirelog::testing {

// Collects every message instead of showing it.
class RecordedMessages {
public:
    RecordedMessages();
    const std::vector<MessageRequest>& All() const { return messages_; }
    std::vector<std::string> Texts() const;

private:
    std::vector<MessageRequest> messages_;
    ScopedMessageSink sink_;
};

// A scratch current directory that already holds a "wirlg000.dll", so a window built on it
// deploys nothing; _isRunning is set back to true for each window.
class WindowFixture {
public:
    WindowFixture();
    std::unique_ptr<Form1> MakeWindow();
    QString Directory() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

// The rows of a model as text, in order.
QStringList Rows(const QAbstractItemModel& model);

// Empties the event buffer and forgets the decoder's stop time, as a new capture does.
void StartNewCapture();

template <typename T> T& Child(QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr)
        throw std::runtime_error(std::string("no control named ") + name);
    return *child;
}

} // namespace Wirelog::testing
