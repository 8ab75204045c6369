#include "CoalescedCall.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <mutex>

namespace Wirelog {

struct CoalescedCall::State {
    std::mutex mutex;
    QObject* context; // null once the owner is gone; guarded by mutex
    std::function<void()> call;
    std::atomic<bool> pending{false};

    // Runs happen on the context's thread, the one thread that also ends the context's life.
    bool Alive() {
        const std::lock_guard lock(mutex);
        return context != nullptr;
    }

    static void Request(const std::shared_ptr<State>& state) {
        if (state->pending.exchange(true, std::memory_order_acq_rel))
            return;
        const std::lock_guard lock(state->mutex);
        if (state->context == nullptr)
            return;
        // Posting under the lock keeps the context alive until the event is queued; Qt drops
        // the event if the context dies before it is delivered.
        QMetaObject::invokeMethod(
            state->context,
            [state] {
                // Cleared before the run, so a request made during the run queues another.
                state->pending.store(false, std::memory_order_release);
                if (state->Alive())
                    state->call();
            },
            Qt::QueuedConnection);
    }
};

CoalescedCall::CoalescedCall(QObject& context, std::function<void()> call)
    : state_(std::make_shared<State>()) {
    state_->context = &context;
    state_->call = std::move(call);
}

CoalescedCall::~CoalescedCall() {
    const std::lock_guard lock(state_->mutex);
    state_->context = nullptr;
}

void CoalescedCall::Request() const {
    State::Request(state_);
}

std::function<void()> CoalescedCall::Requester() const {
    return [state = state_] { State::Request(state); };
}

} // namespace Wirelog
