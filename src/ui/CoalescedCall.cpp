// SPDX-License-Identifier: MIT
#include "ui/CoalescedCall.h"

#include <QMetaObject>

#include <atomic>
#include <mutex>

namespace Wirelog {

struct CoalescedCall::State {
    std::mutex mutex;
    CoalescedCall* target; // null once the target is gone; guarded by mutex
    std::atomic<bool> pending{false};

    static void Request(State& state) {
        if (state.pending.exchange(true, std::memory_order_acq_rel))
            return;
        const std::lock_guard lock(state.mutex);
        if (state.target == nullptr)
            return;
        // Posting under the lock keeps the target alive until the event is queued; Qt drops the
        // event if the target dies before it is delivered. The slot is named rather than given
        // as a functor so that the queued event carries nothing this thread wrote: the hand-over
        // happens entirely inside Qt.
        QMetaObject::invokeMethod(state.target, "Run", Qt::QueuedConnection);
    }
};

CoalescedCall::CoalescedCall(std::function<void()> call, std::chrono::milliseconds minimumInterval,
                             QObject* parent)
    : QObject(parent), state_(std::make_shared<State>()), call_(std::move(call)),
      minimumInterval_(minimumInterval) {
    state_->target = this;
    wait_.setSingleShot(true);
    connect(&wait_, &QTimer::timeout, this, &CoalescedCall::Run);
}

CoalescedCall::~CoalescedCall() {
    const std::lock_guard lock(state_->mutex);
    state_->target = nullptr;
}

void CoalescedCall::Request() const {
    State::Request(*state_);
}

void CoalescedCall::Run() {
    const auto now = std::chrono::steady_clock::now();
    if (now < nextRun_) {
        // Still pending, so requests meanwhile merge into this run.
        wait_.start(std::chrono::ceil<std::chrono::milliseconds>(nextRun_ - now));
        return;
    }
    nextRun_ = now + minimumInterval_;
    // Cleared before the run, so a request made during the run queues another.
    state_->pending.store(false, std::memory_order_release);
    call_();
}

} // namespace Wirelog
