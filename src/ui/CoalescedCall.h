// SPDX-License-Identifier: MIT
#pragma once
// A call that any thread may request and that runs on the thread this object lives on.
//
// Requests made while one is still pending are merged into it; a request made while the call
// runs queues one more run, so the last request is never lost. Runs may be held to a minimum
// interval: a run due sooner waits for the rest of it, merging the requests that come meanwhile.
// A run already queued when this object goes is dropped with its other events.
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace Wirelog {

class CoalescedCall : public QObject {
    Q_OBJECT

public:
    explicit CoalescedCall(std::function<void()> call,
                           std::chrono::milliseconds minimumInterval = {},
                           QObject* parent = nullptr);
    ~CoalescedCall() override;

    // Queues one run unless one is already pending. Safe from any thread.
    void Request() const;

private slots:
    void Run();

private:
    struct State;
    std::shared_ptr<State> state_;
    std::function<void()> call_;
    std::chrono::milliseconds minimumInterval_;
    std::chrono::steady_clock::time_point nextRun_{};
    QTimer wait_; // the rest of the interval, for a run that came too soon
};

} // namespace Wirelog
