// SPDX-License-Identifier: MIT
#pragma once
// Opening and closing the module, the start and stop commands, and the reader thread.
//
// One object per program, owned by the thread that runs the capture's handlers (the window
// thread, or the command line's main thread) and used only from that thread. The reader thread
// it starts polls the module, frames the bytes into the event buffer and asks the owner for a
// log refresh after every successful read; the owner drains the buffer on its own thread.
//
// Exclusion: one mutex is held around every adapter call of the reader together with the work
// that follows it (framing, refresh request), and around ClosePort, OpenPort and the command
// writes. A handle is therefore closed exactly once and never used afterwards.
//
// A reader that does not end within a second of StopThread is aborted: its generation is
// retired under that mutex, after which it makes no adapter call, appends nothing, requests
// nothing and does not close the module. It is kept and joined later, never destroyed running.
#include "adapter/Adapter.h"
#include "capture/Modules.h"
#include "events/Counter.h"
#include "events/Framing.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Wirelog {

// How the reader reaches its owner. Both run on the reader thread while it holds the adapter
// mutex, so they must return at once: queue the work for the owner's thread, never wait for
// it, never call back into CaptureControl.
struct ReaderCallbacks {
    // Ask the owner's thread to drain the event buffer. Coalescing requests that are still
    // pending is fine; the last one must not be lost.
    std::function<void()> requestRefresh;
    // Show "RError!" or "Exception during Read". The reader waits until `closed` is called
    // (from any thread, any number of times, also after this object is gone) or until it is
    // aborted. Unset: the message is dropped and the read retried after the idle pause.
    std::function<void(const std::string& text, std::function<void()> closed)> showMessage;
    // Set: every successful read's bytes and stamp go here instead of being framed into the
    // event buffer, for an owner that frames them itself (the command line, which has no
    // event limit). The bytes are valid only during the call.
    std::function<void(const std::uint8_t* bytes, std::size_t count, std::int64_t stamp)> takeRead =
        nullptr;
};

class CaptureControl {
public:
    using Clock = std::function<std::int64_t()>;

    static constexpr std::size_t kReadBufferBytes = 32'768;
    // The request whenever a whole buffer's worth or more is queued.
    static constexpr DWORD kLargestRequest = 32'764;
    static constexpr std::chrono::milliseconds kIdlePause{1};
    static constexpr std::chrono::seconds kStopWait{1};
    // After the stop command, the reader takes in what the module sent before it stopped: the
    // module is closed once a poll begun this long after the command finds nothing queued...
    static constexpr std::chrono::milliseconds kStopQuiet{5};
    // ...or at once when a message holds the reader up, or, with a module that keeps sending
    // (or a reader the system does not run), after this long in all. A reader that is merely
    // slow to be scheduled is waited for: its bytes are the end of the user's log.
    static constexpr std::chrono::milliseconds kStopDrainLimit{1000};

    // The adapter must outlive this object. Only one CaptureControl may exist at a time (the
    // module handle is global); a second one throws std::logic_error.
    CaptureControl(Adapter& adapter, ReaderCallbacks callbacks, Clock clock = QueryCounter);
    // StopThread, then joins every reader thread ever started (aborted ones are released from
    // their message wait first) and closes a module that is still open.
    ~CaptureControl();

    CaptureControl(const CaptureControl&) = delete;
    CaptureControl& operator=(const CaptureControl&) = delete;

    // What the window does when it loads: no module open, the event created, the list built.
    ModuleList Load();
    ModuleList FillDeviceList();

    // Opens the device whose index the entry's text begins with, latency 2 ms; success shows as
    // IsPortOpen(). A module already open is closed first.
    void OpenPort(std::string_view selectedEntry);
    void ClosePort();
    bool IsPortOpen() const { return handle.load() != nullptr; }

    // The start sequence: opens the selected module unless one is open (false, nothing changed,
    // when none can be), stops an earlier reader, resets the event buffer and the pending code
    // byte, runs resetLog (clear the log, reset the decoder), starts the reader and sends the
    // start command. Call it on the thread that drains the buffer.
    bool StartCapture(std::string_view selectedEntry, const std::function<void()>& resetLog);
    // The Start/Stop toggle's stop: stop command, the bytes still on their way read in (see
    // kStopQuiet), ClosePort, StopThread.
    void StopCapture();

    // Starts a reader (stopping a running one first) on a freshly reset event buffer; returns
    // once it runs.
    void StartThread();
    // Tells the reader to end and waits up to a second; aborts it when it has not ended.
    // True when no reader runs any more, false when it had to be aborted.
    bool StopThread();

    // FT_SetEventNotification, then FT_Write of the two command bytes; statuses not tested.
    void SendStartCommand();
    void SendStopCommand();

    // Reader threads started and not yet joined (the running one and aborted ones).
    std::size_t LiveReaderThreads() const;

private:
    struct Reader;
    enum class Step { Ready, Idle, Failed, Aborted };

    void ReadingProc(Reader& self, std::int64_t base);
    Step PollQueue(Reader& self, DWORD& queued);
    Step ReadBatch(Reader& self, std::uint8_t* buffer, DWORD request, std::int64_t base,
                   DWORD& queued);
    bool WaitForMessageClosed(Reader& self);
    void CloseAtEnd(Reader& self);
    void ShowReaderMessage(Reader& self, const char* text);
    bool IsCurrent(const Reader& self) const;
    void Abort(Reader& reader);
    void ReapEndedReaders();
    void SendCommand(const std::uint8_t (&command)[2]);
    void ClosePortLocked();
    void NoteEmptyPoll(std::chrono::steady_clock::time_point began);
    void NoteReaderHeld(Reader& self, bool held);
    void WaitForQuietQueue();

    Adapter& adapter_;
    const ReaderCallbacks callbacks_;
    const Clock clock_;

    std::mutex adapterMutex_;
    // Raised for every new reader and every abort; a reader works only while it holds the
    // current value. Written under adapterMutex_.
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<bool> bContinue{false};
    // The pending code byte; reset before a reader starts, then the reader's alone.
    PendingCode pending_;

    std::mutex quietMutex_;
    std::condition_variable quiet_;
    // When the latest poll that found nothing queued began.
    std::chrono::steady_clock::time_point lastEmptyPoll_; // guarded by quietMutex_

    std::unique_ptr<Reader> thrdReader;
    std::vector<std::unique_ptr<Reader>> abandoned_;
};

} // namespace Wirelog
