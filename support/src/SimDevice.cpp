// SPDX-License-Identifier: MIT
#include "SimDevice.h"

#include "CaptureSchedule.h"
#include "events/EventCodes.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

namespace Wirelog::d2xx {

namespace {

constexpr std::uint8_t kStartCommand = 0x01;
constexpr std::uint8_t kStopCommand = 0xF0;
constexpr std::uint8_t kMonitorOn = 0x00;
constexpr std::size_t kPumpChunk = 16384;
// The most one call generates. A simulator that runs slower than real time (a sanitizer build
// on a loaded machine) then lags behind its schedule instead of spending ever longer calls
// catching up until the queue is full.
constexpr std::size_t kPumpBudget = 16 * kPumpChunk;

std::int64_t Nanoseconds(SimDevice::Clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
}

} // namespace

SimDevice::SimDevice(SimDeviceConfig config, std::shared_ptr<const std::vector<TimedBatch>> replay,
                     std::size_t queueCapacity)
    : config_(std::move(config)), replay_(std::move(replay)), queueCapacity_(queueCapacity) {
    stats_.present = 1;
}

DeviceInfo SimDevice::Info() const {
    return {config_.description, config_.serial, true};
}

bool SimDevice::Present() const {
    std::lock_guard lock(mutex_);
    return present_;
}

FT_STATUS SimDevice::Open(std::shared_ptr<Port>& port) {
    std::lock_guard lock(mutex_);
    if (!present_) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (config_.faults.openFails || session_ != 0) {
        return FT_DEVICE_NOT_OPENED;
    }
    session_ = ++lastSession_;
    queue_ = std::make_shared<ReceiveQueue>(queueCapacity_);
    commandFirst_ = -1;
    stats_.open = 1;
    ++stats_.opens;
    // A module that kept streaming while nobody listened lost those bytes; it goes on from now.
    if (schedule_) {
        const std::int64_t elapsed = Nanoseconds(Clock::now() - streamStart_);
        while (lookahead_ || schedule_->Next(nextByte_, nextDueNs_)) {
            lookahead_ = true;
            if (nextDueNs_ > elapsed) {
                break;
            }
            lookahead_ = false;
        }
    }
    port = std::make_shared<SimPort>(shared_from_this(), session_);
    return FT_OK;
}

void SimDevice::SetFaults(const SimFaults& faults) {
    std::lock_guard lock(mutex_);
    config_.faults = faults;
}

bool SimDevice::Inject(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard lock(mutex_);
    if (session_ == 0 || !present_) {
        return false;
    }
    PumpLocked(Clock::now());
    if (count == 0) {
        return true;
    }
    if (bytes == nullptr || queue_->Space() < count) {
        return false;
    }
    EmitLocked(bytes, count);
    return true;
}

void SimDevice::Unplug() {
    std::lock_guard lock(mutex_);
    VanishLocked();
}

WirelogSimStats SimDevice::Stats() {
    std::lock_guard lock(mutex_);
    if (session_ != 0 && present_) {
        PumpLocked(Clock::now());
    }
    WirelogSimStats stats = stats_;
    stats.bytes_queued = queue_ && session_ != 0 ? queue_->Size() : 0;
    return stats;
}

FT_STATUS SimDevice::CheckLocked(std::uint64_t session) const {
    if (session == 0 || session != session_) {
        return FT_INVALID_HANDLE;
    }
    return present_ ? FT_OK : FT_IO_ERROR;
}

FT_STATUS SimDevice::Check(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    return CheckLocked(session);
}

FT_STATUS SimDevice::GetQueueStatus(std::uint64_t session, DWORD& queued) {
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = CheckLocked(session); status != FT_OK) {
        return status;
    }
    if (config_.faults.statusFails) {
        // Zero rather than a stale count, so a caller that ignores the status asks for nothing.
        queued = 0;
        return FT_IO_ERROR;
    }
    PumpLocked(Clock::now());
    queued = static_cast<DWORD>(std::min<std::size_t>(queue_->Size(), 0xFFFFFFFFu));
    return FT_OK;
}

FT_STATUS SimDevice::Read(std::uint64_t session, std::uint8_t* buffer, DWORD count,
                          DWORD& returned) {
    std::unique_lock lock(mutex_);
    if (const FT_STATUS status = CheckLocked(session); status != FT_OK) {
        return status;
    }
    const SimFaults faults = config_.faults;
    if (faults.read == ReadFault::Fail) {
        return FT_IO_ERROR;
    }
    if (faults.read == ReadFault::Block) {
        const auto queue = queue_;
        lock.unlock();
        // A closed queue ends the wait at once, so FT_Close never waits for this.
        queue->WaitForBytes(std::numeric_limits<std::size_t>::max(),
                            Clock::now() + std::chrono::milliseconds(faults.blockMilliseconds));
        lock.lock();
        if (const FT_STATUS status = CheckLocked(session); status != FT_OK) {
            return status;
        }
    }
    DWORD wanted = count;
    if (faults.read == ReadFault::Half) {
        wanted = count / 2;
    } else if (faults.read == ReadFault::Zero) {
        wanted = 0;
    }
    if (const FT_STATUS status = ReadWaitingLocked(lock, session, wanted); status != FT_OK) {
        return status;
    }
    returned = static_cast<DWORD>(queue_->Pop(buffer, wanted));
    stats_.bytes_read += returned;
    return FT_OK;
}

// Like the D2XX driver without a read time-out: a request beyond the queued count waits for the
// rest, or for the handle to close or the device to vanish.
FT_STATUS SimDevice::ReadWaitingLocked(std::unique_lock<std::mutex>& lock, std::uint64_t session,
                                       DWORD count) {
    while (true) {
        const Clock::time_point nextDue = PumpLocked(Clock::now());
        if (queue_->Size() >= count) {
            return FT_OK;
        }
        const auto queue = queue_;
        lock.unlock();
        queue->WaitForBytes(count, nextDue);
        lock.lock();
        if (const FT_STATUS status = CheckLocked(session); status != FT_OK) {
            return status;
        }
    }
}

FT_STATUS SimDevice::Write(std::uint64_t session, const std::uint8_t* bytes, DWORD count) {
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = CheckLocked(session); status != FT_OK) {
        return status;
    }
    // What was due before the command still arrives before its effect.
    PumpLocked(Clock::now());
    stats_.bytes_written += count;
    for (DWORD i = 0; i < count; ++i) {
        CommandByteLocked(bytes[i]);
    }
    return FT_OK;
}

FT_STATUS SimDevice::SetEventNotification(std::uint64_t session, std::uint32_t mask, void* event) {
    std::lock_guard lock(mutex_);
    if (const FT_STATUS status = CheckLocked(session); status != FT_OK) {
        return status;
    }
    queue_->SetNotification(mask, event);
    return FT_OK;
}

void SimDevice::Close(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    if (session == 0 || session != session_) {
        return;
    }
    session_ = 0;
    stats_.open = 0;
    ++stats_.closes;
    queue_->Close();
    queue_.reset();
}

void SimDevice::CommandByteLocked(std::uint8_t byte) {
    const bool completes = commandFirst_ >= 0 && byte == static_cast<std::uint8_t>(~commandFirst_);
    if (completes && commandFirst_ == kStartCommand) {
        StartStreamLocked(Clock::now());
    } else if (completes && commandFirst_ == kStopCommand) {
        ++stats_.stop_commands;
        stats_.streaming = 0;
        schedule_.reset();
        lookahead_ = false;
    }
    const bool begins = byte == kStartCommand || byte == kStopCommand;
    commandFirst_ = !completes && begins ? byte : -1;
}

void SimDevice::StartStreamLocked(Clock::time_point now) {
    ++stats_.start_commands;
    stats_.streaming = 1;
    stats_.bytes_emitted = 0;
    stats_.events_emitted = 0;
    stats_.bytes_read = 0;
    valuePending_ = false;
    streamStart_ = now;
    lookahead_ = false;
    schedule_ = MakeSchedule();
    // A recorded stream already holds the module's own code 0, and the bus monitor sends its
    // own.
    if (config_.stream != StreamKind::Replay && config_.stream != StreamKind::Capture) {
        EmitLocked(&kMonitorOn, 1);
    }
}

std::unique_ptr<ByteSchedule> SimDevice::MakeSchedule() const {
    std::unique_ptr<ByteSchedule> schedule;
    if (config_.stream == StreamKind::Demo) {
        schedule = std::make_unique<DemoTraffic>();
    } else if (config_.stream == StreamKind::Replay) {
        schedule = std::make_unique<ReplaySchedule>(
            replay_ ? replay_ : std::make_shared<const std::vector<TimedBatch>>());
    } else if (config_.stream == StreamKind::Capture) {
        schedule = MakeCaptureSchedule();
    }
    if (schedule && config_.bytesPerSecond > 0) {
        schedule = std::make_unique<PacedSchedule>(std::move(schedule), config_.bytesPerSecond);
    }
    return schedule;
}

std::unique_ptr<ByteSchedule> SimDevice::MakeCaptureSchedule() const {
    CaptureSource source;
    source.path = config_.file;
    source.scl = config_.scl.value_or(source.scl);
    source.sda = config_.sda.value_or(source.sda);
    try {
        return std::make_unique<CaptureSchedule>(source);
    } catch (const CaptureError& error) {
        // Checked when the device was made; a file spoilt since gives a module that stays silent.
        std::fprintf(stderr, "WIRELOG_SIM: %s\n", error.what());
        return nullptr;
    }
}

SimDevice::Clock::time_point SimDevice::PumpLocked(Clock::time_point now) {
    if (!schedule_ || !queue_ || !present_) {
        return Clock::time_point::max();
    }
    const std::int64_t elapsed = Nanoseconds(now - streamStart_);
    std::uint8_t chunk[kPumpChunk];
    std::size_t budget = kPumpBudget;
    while (schedule_ && present_ && budget > 0) {
        const std::size_t room = std::min({queue_->Space(), kPumpChunk, budget});
        std::size_t filled = 0;
        while (filled < room) {
            if (!lookahead_ && !schedule_->Next(nextByte_, nextDueNs_)) {
                schedule_.reset();
                break;
            }
            lookahead_ = true;
            if (nextDueNs_ > elapsed) {
                break;
            }
            chunk[filled++] = nextByte_;
            lookahead_ = false;
        }
        if (filled > 0) {
            EmitLocked(chunk, filled);
            budget -= filled;
        }
        if (room == 0) {
            // The host is far behind; the module waits for room like one that is throttled.
            return now + std::chrono::milliseconds(1);
        }
        if (filled < room) {
            break;
        }
    }
    if (!schedule_ || !present_) {
        return Clock::time_point::max();
    }
    return DueTime(streamStart_, nextDueNs_);
}

SimDevice::Clock::time_point SimDevice::DueTime(Clock::time_point start, std::int64_t dueNs) {
    if (start.time_since_epoch().count() > 0 &&
        dueNs >= Nanoseconds(Clock::time_point::max() - start)) {
        return Clock::time_point::max();
    }
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(dueNs));
}

void SimDevice::EmitLocked(const std::uint8_t* bytes, std::size_t count) {
    if (const auto limit = config_.faults.unplugAfterBytes) {
        const std::uint64_t left =
            *limit > stats_.bytes_emitted ? *limit - stats_.bytes_emitted : 0;
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
    }
    const std::size_t taken = queue_->Push(bytes, count);
    CountLocked(bytes, taken);
    if (const auto limit = config_.faults.unplugAfterBytes;
        limit && stats_.bytes_emitted >= *limit) {
        VanishLocked();
    }
}

void SimDevice::CountLocked(const std::uint8_t* bytes, std::size_t count) {
    stats_.bytes_emitted += count;
    for (std::size_t i = 0; i < count; ++i) {
        if (valuePending_) {
            valuePending_ = false;
            continue;
        }
        ++stats_.events_emitted;
        valuePending_ = TakesValueByte(bytes[i]);
    }
}

void SimDevice::VanishLocked() {
    present_ = false;
    stats_.present = 0;
    stats_.streaming = 0;
    schedule_.reset();
    lookahead_ = false;
    if (queue_) {
        queue_->Close();
    }
}

SimPort::SimPort(std::shared_ptr<SimDevice> device, std::uint64_t session)
    : device_(std::move(device)), session_(session) {}

FT_STATUS SimPort::SetLatencyTimer(std::uint8_t milliseconds) {
    return milliseconds == 0 ? FT_STATUS{FT_INVALID_PARAMETER} : device_->Check(session_);
}

FT_STATUS SimPort::SetEventNotification(std::uint32_t mask, void* event) {
    return device_->SetEventNotification(session_, mask, event);
}

FT_STATUS SimPort::GetQueueStatus(DWORD& queued) {
    return device_->GetQueueStatus(session_, queued);
}

FT_STATUS SimPort::Read(std::uint8_t* buffer, DWORD count, DWORD& returned) {
    return device_->Read(session_, buffer, count, returned);
}

FT_STATUS SimPort::Write(const std::uint8_t* bytes, DWORD count, DWORD& written) {
    const FT_STATUS status = device_->Write(session_, bytes, count);
    written = status == FT_OK ? count : 0;
    return status;
}

void SimPort::Close() {
    device_->Close(session_);
}

} // namespace Wirelog::d2xx
