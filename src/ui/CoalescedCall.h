#pragma once
// A call that any thread may request and that runs on the thread this object lives on.
//
// Requests made while one is still pending are merged into it; a request made while the call
// runs queues one more run, so the last request is never lost. The requester handed out by
// Requester() may outlive this object: once it is gone, requests do nothing, and a run already
// queued is dropped with its other events.
#include <QObject>

#include <functional>
#include <memory>

namespace Wirelog {

class CoalescedCall : public QObject {
    Q_OBJECT

public:
    explicit CoalescedCall(std::function<void()> call, QObject* parent = nullptr);
    ~CoalescedCall() override;

    // Queues one run unless one is already pending. Safe from any thread.
    void Request() const;

    // A free-standing Request, safe to call from any thread at any time.
    std::function<void()> Requester() const;

private slots:
    void Run();

private:
    struct State;
    std::shared_ptr<State> state_;
    std::function<void()> call_;
};

} // namespace Wirelog
