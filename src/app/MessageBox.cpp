#include "MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <mutex>
#include <utility>

namespace Wirelog {

namespace {

struct SinkSlot {
    std::mutex mutex;
    ScopedMessageSink::Sink sink;
};

SinkSlot& Slot() {
    static SinkSlot slot;
    return slot;
}

ScopedMessageSink::Sink CurrentSink() {
    SinkSlot& slot = Slot();
    const std::lock_guard lock(slot.mutex);
    return slot.sink;
}

void ShowOnWindowThread(const MessageRequest& request) {
    if (const auto sink = CurrentSink()) {
        sink(request);
        return;
    }
    // No owner: the box stands on its own, as the program's messages always have.
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), QMessageBox::Ok);
    box.exec();
}

bool OnWindowThread(const QCoreApplication* app) {
    return QThread::currentThread() == app->thread();
}

} // namespace

int MessageBox(QWidget* owner, std::string_view text, std::string_view caption, unsigned type) {
    MessageRequest request{owner, std::string(text), std::string(caption), type};
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        // Before or after the application object there is no window to show a box in.
        std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
        return kMessageResultOk;
    }
    if (OnWindowThread(app)) {
        ShowOnWindowThread(request);
        return kMessageResultOk;
    }
    QMetaObject::invokeMethod(
        app, [request = std::move(request)] { ShowOnWindowThread(request); }, Qt::QueuedConnection);
    return kMessageResultOk;
}

ScopedMessageSink::ScopedMessageSink(Sink sink) {
    SinkSlot& slot = Slot();
    const std::lock_guard lock(slot.mutex);
    previous_ = std::exchange(slot.sink, std::move(sink));
}

ScopedMessageSink::~ScopedMessageSink() {
    SinkSlot& slot = Slot();
    const std::lock_guard lock(slot.mutex);
    slot.sink = std::move(previous_);
}

} // namespace Wirelog
