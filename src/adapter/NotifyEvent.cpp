// SPDX-License-Identifier: MIT
#include "adapter/NotifyEvent.h"

#include <new>

#ifndef _WIN32
#include <cerrno>
#include <ctime>
#endif

namespace Wirelog {

#ifdef _WIN32
NotifyEvent::NotifyEvent() : event_(CreateEventA(nullptr, FALSE, FALSE, "")) {}

NotifyEvent::~NotifyEvent() {
    if (event_ != nullptr)
        CloseHandle(event_);
}

void NotifyEvent::Set() {
    SetEvent(event_);
}

bool NotifyEvent::Wait(std::chrono::milliseconds timeout) {
    return WaitForSingleObject(event_, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

PVOID NotifyEvent::Param() {
    return event_;
}
#else
NotifyEvent::NotifyEvent() {
    pthread_mutex_init(&event_.eMutex, nullptr);
    // The monotonic clock keeps time-outs immune to wall-clock changes.
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&event_.eCondVar, &attributes);
    pthread_condattr_destroy(&attributes);
    event_.iVar = 0;
}

NotifyEvent::~NotifyEvent() {
    pthread_cond_destroy(&event_.eCondVar);
    pthread_mutex_destroy(&event_.eMutex);
}

void NotifyEvent::Set() {
    pthread_mutex_lock(&event_.eMutex);
    event_.iVar = 1;
    pthread_cond_signal(&event_.eCondVar);
    pthread_mutex_unlock(&event_.eMutex);
}

bool NotifyEvent::Wait(std::chrono::milliseconds timeout) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count() +
                    static_cast<long long>(deadline.tv_nsec);
    deadline.tv_sec += static_cast<time_t>(ns / 1'000'000'000);
    deadline.tv_nsec = static_cast<long>(ns % 1'000'000'000);

    pthread_mutex_lock(&event_.eMutex);
    int result = 0;
    while (event_.iVar == 0 && result != ETIMEDOUT)
        result = pthread_cond_timedwait(&event_.eCondVar, &event_.eMutex, &deadline);
    const bool signalled = event_.iVar != 0;
    event_.iVar = 0; // automatic reset
    pthread_mutex_unlock(&event_.eMutex);
    return signalled;
}

PVOID NotifyEvent::Param() {
    return &event_;
}
#endif

NotifyEvent* CreateNotifyEvent() {
    // Constructed in place and never destroyed, so no exit-time destructor can pull it away
    // from under a library thread that still signals it.
    alignas(NotifyEvent) static unsigned char storage[sizeof(NotifyEvent)];
    static NotifyEvent* const event = new (storage) NotifyEvent;
    return event;
}

} // namespace Wirelog
