#pragma once
// A call that any thread may request and that runs on the thread of a context object.
//
// Requests made while one is still pending are merged into it; a request made while the call
// runs queues one more run, so the last request is never lost. The requester handed out by
// Requester() may outlive the context: once the context is gone, requests do nothing, and a
// run already queued is dropped with the context's events.
#include <functional>
#include <memory>

class QObject;

namespace Wirelog {

class CoalescedCall {
public:
    CoalescedCall(QObject& context, std::function<void()> call);
    ~CoalescedCall();
    CoalescedCall(const CoalescedCall&) = delete;
    CoalescedCall& operator=(const CoalescedCall&) = delete;

    // Queues one run unless one is already pending. Safe from any thread.
    void Request() const;

    // A free-standing Request, safe to call from any thread at any time.
    std::function<void()> Requester() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace Wirelog
