// SPDX-License-Identifier: MIT
#include "ui/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

namespace Wirelog {

namespace {

// Shows, on the window thread, the messages other threads left in the slot's queue.
class MessageRelay : public QObject {
    Q_OBJECT

public:
    Q_INVOKABLE void ShowQueued();
};

struct SinkSlot {
    std::mutex mutex;
    ScopedMessageSink::Sink sink;
    std::deque<MessageRequest> queued; // from other threads, not yet shown
    std::unique_ptr<MessageRelay> relay;
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

// The box deletes itself once closed, and goes with the program's end if still open then. It
// does not keep the program running after the main window has closed.
void ShowWithoutBlocking(const MessageRequest& request) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, QString::fromStdString(request.caption),
                                QString::fromStdString(request.text), QMessageBox::Ok);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    QObject::connect(box, &QDialog::finished, box, [closed = request.closed] { closed(); });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, box, &QObject::deleteLater);
    box->show();
}

void ShowOnWindowThread(const MessageRequest& request) {
    if (const auto sink = CurrentSink()) {
        sink(request);
        return;
    }
    if (request.closed) {
        ShowWithoutBlocking(request);
        return;
    }
    // No owner: the box stands on its own, as the program's messages always have.
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), QMessageBox::Ok);
    box.exec();
}

void MessageRelay::ShowQueued() {
    for (;;) {
        MessageRequest request;
        {
            SinkSlot& slot = Slot();
            const std::lock_guard lock(slot.mutex);
            if (slot.queued.empty())
                return;
            request = std::move(slot.queued.front());
            slot.queued.pop_front();
        }
        ShowOnWindowThread(request);
    }
}

// The request travels through our own locked queue and the relay is invoked by name, so the
// queued event carries nothing the calling thread wrote: every hand-over is one the thread
// sanitizer can see.
void QueueForWindowThread(MessageRequest request, QCoreApplication& app) {
    SinkSlot& slot = Slot();
    const std::lock_guard lock(slot.mutex);
    if (!slot.relay) {
        slot.relay = std::make_unique<MessageRelay>();
        slot.relay->moveToThread(app.thread());
    }
    slot.queued.push_back(std::move(request));
    QMetaObject::invokeMethod(slot.relay.get(), "ShowQueued", Qt::QueuedConnection);
}

void Deliver(MessageRequest request) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        // Before or after the application object there is no window to show a box in.
        std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
        if (request.closed)
            request.closed();
        return;
    }
    if (QThread::currentThread() == app->thread())
        ShowOnWindowThread(request);
    else
        QueueForWindowThread(std::move(request), *app);
}

} // namespace

int MessageBox(QWidget* owner, std::string_view text, std::string_view caption, unsigned type) {
    Deliver({owner, std::string(text), std::string(caption), type, {}});
    return kMessageResultOk;
}

void ShowMessageWithoutBlocking(std::string_view text, std::function<void()> closed) {
    Deliver(
        {nullptr, std::string(text), std::string(kMessageCaption), kMessageOk, std::move(closed)});
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

#include "MessageBox.moc"
