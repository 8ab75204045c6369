// SPDX-License-Identifier: MIT
#pragma once
// A chip's bulk-in stream into a receive queue: several transfers in flight so the chip is
// polled while the host handles the last one, the two status bytes at the head of every packet
// stripped, the bytes of each completed transfer pushed (and the event signalled) at once.
#include "ReceiveQueue.h"
#include "UsbSeam.h"

#include <atomic>
#include <thread>

namespace Wirelog::d2xx {

class UsbReceiver {
public:
    UsbReceiver(UsbChip& chip, ReceiveQueue& queue);
    ~UsbReceiver() { Stop(); }
    UsbReceiver(const UsbReceiver&) = delete;
    UsbReceiver& operator=(const UsbReceiver&) = delete;

    // False when no transfer could be submitted.
    bool Start();
    // Cancels the transfers and returns once every one is back and the event thread has ended;
    // no byte is pushed after it returns. The queue must be closed first so that a push
    // waiting for room gives up.
    void Stop();

    // The chip went away (or failed); what was received stays in the queue.
    bool Gone() const { return gone_; }
    // Packets whose status said the chip's buffer had overrun.
    std::uint64_t Overruns() const { return overruns_; }

private:
    struct Slot {
        std::unique_ptr<BulkTransfer> transfer;
        bool submitted = false; // event thread only, after Start
    };

    void Complete(Slot& slot, TransferStatus status, std::span<std::uint8_t> data);
    std::size_t StripStatus(std::span<std::uint8_t> data);
    void Deliver(const std::uint8_t* bytes, std::size_t count);
    void MeasureRate(std::size_t payload);
    void RunEvents();

    UsbChip& chip_;
    ReceiveQueue& queue_;
    std::vector<Slot> slots_;
    // Event thread only, after Start:
    int inFlight_ = 0;
    std::size_t length_; // bytes each transfer asks for
    std::chrono::steady_clock::time_point windowStart_;
    std::size_t windowBytes_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> gone_{false};
    std::atomic<std::uint64_t> overruns_{0};
    std::thread events_;
};

} // namespace Wirelog::d2xx
