// SPDX-License-Identifier: MIT
#pragma once
// The receive-notification event registered with the adapter (FT_SetEventNotification).
//
// Windows: a Win32 event as CreateEventA makes it (no security attributes, automatic reset,
// initially not signalled, empty name). Elsewhere: the EVENT_HANDLE of FTDI's Linux D2XX
// (mutex, condition variable, flag), which the library signals when bytes arrive.
#include "ftd2xx.h"

#include <chrono>

namespace Wirelog {

class NotifyEvent {
public:
    NotifyEvent();
    ~NotifyEvent();
    NotifyEvent(const NotifyEvent&) = delete;
    NotifyEvent& operator=(const NotifyEvent&) = delete;

    // SetEvent: wakes one waiter, or the next one to wait.
    void Set();
    // Waits until the event is signalled and resets it; false when the time ran out first.
    bool Wait(std::chrono::milliseconds timeout);
    // What FT_SetEventNotification takes as its parameter.
    PVOID Param();

private:
#ifdef _WIN32
    HANDLE event_;
#else
    EVENT_HANDLE event_;
#endif
};

// The program's event, standing for CreateEventA. Created at the first call; later calls return
// the same event. It is never destroyed: the adapter library keeps it registered and may
// signal it from its own threads until the process ends.
NotifyEvent* CreateNotifyEvent();

} // namespace Wirelog
