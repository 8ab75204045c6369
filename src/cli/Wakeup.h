// SPDX-License-Identifier: MIT
#pragma once
// Wakes the command line's main thread: for a refresh request or a message from the reader
// thread, or for SIGINT/SIGTERM/SIGHUP (Ctrl+C and friends on Windows); a second of those ends
// the program at once. A wake that arrives while an
// earlier one of the same kind is still unclaimed merges with it, and none is ever lost.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>

#ifndef _WIN32
#include <csignal>
#endif

namespace Wirelog::cli {

class Wakeup {
public:
    enum Reason : unsigned { kRefresh = 1, kMessage = 2, kStopSignal = 4 };
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    // Keeps the stop signals waiting from the start of main() until a Wakeup
    // takes them, so that one sent while the program starts stops it like any other instead
    // of ending it with no log. Only the calling thread; threads it starts inherit the hold.
    static void HoldStopSignals();

    // Also routes the stop signals here until destruction, and lets held and blocked ones
    // through; only one Wakeup may exist at a time.
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // The file a second stop signal removes before it ends the program; `stage` must outlive
    // this Wakeup (an empty path: none).
    void RemoveOnSecondSignal(const std::filesystem::path& stage);

    // From any thread; returns at once.
    void Notify(Reason reason);

    // While one exists, stop signals sent to the process wait in the creating thread: hold one
    // from the stage's creation to its registration, so that no second signal falls between.
    // A thread of the adapter library's own that leaves them open can still take one then.
    class SignalsHeld {
    public:
        SignalsHeld();
        ~SignalsHeld();
        SignalsHeld(const SignalsHeld&) = delete;
        SignalsHeld& operator=(const SignalsHeld&) = delete;

    private:
#ifndef _WIN32
        sigset_t saved_;
#endif
    };

    // The reasons raised since the last call, waiting for one until the deadline (0 when it
    // passed first).
    unsigned Wait(Deadline deadline);

private:
    std::atomic<unsigned> pending_{0};
#ifdef _WIN32
    void* event_ = nullptr;
#else
    int readFd_ = -1;
    int writeFd_ = -1;
#endif
};

} // namespace Wirelog::cli
