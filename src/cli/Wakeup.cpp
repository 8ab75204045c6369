// SPDX-License-Identifier: MIT
#include "cli/Wakeup.h"

#include <algorithm>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace Wirelog::cli {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(const Wakeup::Deadline& deadline) {
    if (!deadline)
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1'000'000));
}

} // namespace

#ifdef _WIN32

namespace {
// The console control handler has no argument to carry the event; it runs on its own thread.
std::atomic<Wakeup*> signalTarget{nullptr};
std::atomic<const std::filesystem::path*> stageToRemove{nullptr};
std::atomic<int> stopSignals{0};

BOOL WINAPI OnConsoleControl(DWORD) {
    if (stopSignals.fetch_add(1) > 0) {
        if (const std::filesystem::path* stage = stageToRemove.load(); stage && !stage->empty())
            DeleteFileW(stage->c_str());
        ExitProcess(1);
    }
    if (Wakeup* target = signalTarget.load())
        target->Notify(Wakeup::kStopSignal);
    return TRUE;
}
} // namespace

Wakeup::Wakeup() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    if (event_ == nullptr)
        throw std::runtime_error("cannot create an event");
    signalTarget.store(this);
    stopSignals.store(0);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

Wakeup::~Wakeup() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    signalTarget.store(nullptr);
    stageToRemove.store(nullptr);
    CloseHandle(static_cast<HANDLE>(event_));
}

void Wakeup::RemoveOnSecondSignal(const std::filesystem::path& stage) {
    stageToRemove.store(&stage);
}

void Wakeup::Notify(Reason reason) {
    if ((pending_.fetch_or(reason) & reason) == 0)
        SetEvent(static_cast<HANDLE>(event_));
}

unsigned Wakeup::Wait(Deadline deadline) {
    const int ms = MillisecondsUntil(deadline);
    WaitForSingleObject(static_cast<HANDLE>(event_), ms < 0 ? INFINITE : static_cast<DWORD>(ms));
    return pending_.exchange(0);
}

// The console control handler runs on a thread of the system's own; nothing to hold here.
void Wakeup::HoldStopSignals() {}
Wakeup::SignalsHeld::SignalsHeld() = default;
Wakeup::SignalsHeld::~SignalsHeld() = default;

#else

namespace {
// A signal handler can only reach what static storage holds. The first stop signal writes one
// byte and no more; a second removes the stage (unlink is async-signal-safe) and ends the
// program by the signal's default action.
std::atomic<int> signalPipe{-1};
std::atomic<const std::filesystem::path*> stageToRemove{nullptr};
std::atomic<int> stopSignals{0};
constexpr char kSignalByte = 's';
constexpr char kNotifyByte = 'n';
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnStopSignal(int signal) {
    const int savedErrno = errno;
    if (stopSignals.fetch_add(1) > 0) {
        if (const std::filesystem::path* stage = stageToRemove.load(); stage && !stage->empty())
            unlink(stage->c_str());
        ::signal(signal, SIG_DFL);
        raise(signal); // delivered as soon as this handler returns
        return;
    }
    const int fd = signalPipe.load();
    if (fd >= 0) {
        const ssize_t ignored = write(fd, &kSignalByte, 1);
        (void)ignored;
    }
    errno = savedErrno;
}

void MaskStopSignals(int how, sigset_t* saved = nullptr) {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : kStopSignals)
        sigaddset(&stops, signal);
    pthread_sigmask(how, &stops, saved);
}

void SetStopHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kStopSignals)
        sigaction(signal, &action, nullptr);
}
} // namespace

Wakeup::Wakeup() {
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("cannot create a pipe");
    for (int fd : fds) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
    signalPipe.store(writeFd_);
    stopSignals.store(0);
    SetStopHandler(OnStopSignal);
    // A capture must stop on these, whatever mask it was started with.
    MaskStopSignals(SIG_UNBLOCK);
}

Wakeup::~Wakeup() {
    SetStopHandler(SIG_DFL);
    signalPipe.store(-1);
    stageToRemove.store(nullptr);
    close(readFd_);
    close(writeFd_);
}

void Wakeup::RemoveOnSecondSignal(const std::filesystem::path& stage) {
    stageToRemove.store(&stage);
}

void Wakeup::HoldStopSignals() {
    MaskStopSignals(SIG_BLOCK);
}

Wakeup::SignalsHeld::SignalsHeld() {
    MaskStopSignals(SIG_BLOCK, &saved_);
}

Wakeup::SignalsHeld::~SignalsHeld() {
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

void Wakeup::Notify(Reason reason) {
    // Only the first of a kind writes; a full pipe already holds a wake-up for the reader.
    if ((pending_.fetch_or(reason) & reason) == 0) {
        const ssize_t ignored = write(writeFd_, &kNotifyByte, 1);
        (void)ignored;
    }
}

unsigned Wakeup::Wait(Deadline deadline) {
    pollfd wait{readFd_, POLLIN, 0};
    while (poll(&wait, 1, MillisecondsUntil(deadline)) < 0 && errno == EINTR) {
    }
    unsigned reasons = 0;
    char bytes[64];
    ssize_t got;
    while ((got = read(readFd_, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i)
            if (bytes[i] == kSignalByte)
                reasons |= kStopSignal;
    }
    return reasons | pending_.exchange(0);
}

#endif

} // namespace Wirelog::cli
