// SPDX-License-Identifier: MIT
#pragma once
// A simulated capture module. It answers the start and stop commands like a module, and its
// stream reaches the receive queue lazily: every call that looks at the queue first moves in
// the bytes whose time has come, measured on the monotonic clock from the start command.
#include "ByteSchedule.h"
#include "Port.h"
#include "ReceiveQueue.h"
#include "SimConfig.h"
#include "wirelog_sim.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

namespace Wirelog::d2xx {

class SimDevice : public std::enable_shared_from_this<SimDevice> {
public:
    using Clock = std::chrono::steady_clock;

    SimDevice(SimDeviceConfig config, std::shared_ptr<const std::vector<TimedBatch>> replay,
              std::size_t queueCapacity = ReceiveQueue::kDefaultCapacity);

    DeviceInfo Info() const;
    bool Present() const;
    FT_STATUS Open(std::shared_ptr<Port>& port);

    void SetFaults(const SimFaults& faults);
    bool Inject(const std::uint8_t* bytes, std::size_t count);
    void Unplug();
    WirelogSimStats Stats();

    // When a byte `dueNs` after `start` is due; one beyond the clock's range is never due.
    static Clock::time_point DueTime(Clock::time_point start, std::int64_t dueNs);

    // The calls of an open port; session tells a stale port from the current one.
    FT_STATUS GetQueueStatus(std::uint64_t session, DWORD& queued);
    FT_STATUS Read(std::uint64_t session, std::uint8_t* buffer, DWORD count, DWORD& returned);
    FT_STATUS Write(std::uint64_t session, const std::uint8_t* bytes, DWORD count);
    FT_STATUS SetEventNotification(std::uint64_t session, std::uint32_t mask, void* event);
    FT_STATUS Check(std::uint64_t session);
    void Close(std::uint64_t session);

private:
    FT_STATUS CheckLocked(std::uint64_t session) const;
    // Moves the bytes due by now into the queue; returns when the next byte is due.
    Clock::time_point PumpLocked(Clock::time_point now);
    void EmitLocked(const std::uint8_t* bytes, std::size_t count);
    void CountLocked(const std::uint8_t* bytes, std::size_t count);
    void StartStreamLocked(Clock::time_point now);
    void CommandByteLocked(std::uint8_t byte);
    void VanishLocked();
    std::unique_ptr<ByteSchedule> MakeSchedule() const;
    std::unique_ptr<ByteSchedule> MakeCaptureSchedule() const;
    FT_STATUS ReadWaitingLocked(std::unique_lock<std::mutex>& lock, std::uint64_t session,
                                DWORD count);

    SimDeviceConfig config_;
    std::shared_ptr<const std::vector<TimedBatch>> replay_;
    std::size_t queueCapacity_;

    mutable std::mutex mutex_;
    bool present_ = true;
    std::uint64_t session_ = 0; // of the open port, 0 when closed
    std::uint64_t lastSession_ = 0;
    std::shared_ptr<ReceiveQueue> queue_;
    std::unique_ptr<ByteSchedule> schedule_;
    Clock::time_point streamStart_{};
    bool lookahead_ = false;
    std::uint8_t nextByte_ = 0;
    std::int64_t nextDueNs_ = 0;
    bool valuePending_ = false;
    int commandFirst_ = -1; // first byte of a command not yet completed
    WirelogSimStats stats_{};
};

class SimPort final : public Port {
public:
    SimPort(std::shared_ptr<SimDevice> device, std::uint64_t session);

    FT_STATUS SetLatencyTimer(std::uint8_t milliseconds) override;
    FT_STATUS SetEventNotification(std::uint32_t mask, void* event) override;
    FT_STATUS GetQueueStatus(DWORD& queued) override;
    FT_STATUS Read(std::uint8_t* buffer, DWORD count, DWORD& returned) override;
    FT_STATUS Write(const std::uint8_t* bytes, DWORD count, DWORD& written) override;
    void Close() override;

private:
    std::shared_ptr<SimDevice> device_;
    std::uint64_t session_;
};

} // namespace Wirelog::d2xx
