// SPDX-License-Identifier: MIT
#include "FakeUsbChip.h"

#include <algorithm>
#include <cmath>

namespace Wirelog::d2xx {

namespace {
constexpr std::uint8_t kModemStatus = 0x01;
constexpr std::uint8_t kLineStatusIdle = 0x60; // transmitter empty
constexpr std::uint8_t kOverrunBit = 0x02;
} // namespace

class FakeTransfer final : public BulkTransfer {
public:
    FakeTransfer(std::shared_ptr<FakeChip> chip, std::size_t length, Completion done)
        : chip_(std::move(chip)), buffer_(length), done_(std::move(done)) {}

    UsbResult Submit(std::size_t length) override {
        std::lock_guard lock(chip_->mutex_);
        if (chip_->unplugged_) {
            return UsbResult::NoDevice;
        }
        length_ = std::min(length, buffer_.size());
        filled_ = 0;
        cancelled_ = false;
        chip_->pending_.push_back(this);
        chip_->changed_.notify_all();
        return UsbResult::Ok;
    }

    void Cancel() override {
        std::lock_guard lock(chip_->mutex_);
        cancelled_ = true;
        chip_->changed_.notify_all();
    }

private:
    friend class FakeChip;
    friend class FakeHandle;
    std::shared_ptr<FakeChip> chip_;
    std::vector<std::uint8_t> buffer_;
    std::size_t length_ = 0;
    std::size_t filled_ = 0;
    bool cancelled_ = false;
    Completion done_;
};

class FakeHandle final : public UsbChip {
public:
    FakeHandle(std::shared_ptr<FakeChip> chip, int channel)
        : chip_(std::move(chip)), channel_(channel) {}

    UsbIdentity Identify() override {
        const FakeChipConfig& config = chip_->Config();
        return {config.vendor, config.product, config.serial};
    }
    UsbResult Take() override {
        return Control([&](FakeChipStats& stats) {
            ++stats.takes;
            stats.claimedChannel = channel_;
            taken_ = true;
        });
    }
    UsbResult ResetBitMode() override {
        return Control([](FakeChipStats& stats) { ++stats.bitModeResets; });
    }
    UsbResult Purge() override {
        return Control([&](FakeChipStats& stats) {
            ++stats.purges;
            chip_->Produce(FakeChip::Clock::now());
            chip_->position_ = chip_->produced_;
            chip_->lastPacket_ = FakeChip::Clock::now();
        });
    }
    UsbResult SetLatencyTimer(std::uint8_t milliseconds) override {
        return Control([&](FakeChipStats& stats) { stats.latency = milliseconds; });
    }
    UsbResult Write(const std::uint8_t*, std::size_t count, std::size_t& written) override {
        written = 0;
        return Control([&](FakeChipStats&) { written = count; });
    }
    void Release() override {
        std::lock_guard lock(chip_->mutex_);
        if (taken_) {
            ++chip_->stats_.releases; // and the kernel's serial driver gets it back
            taken_ = false;
        }
    }

    std::size_t MaxPacketSize() const override { return chip_->Config().packetSize; }
    std::unique_ptr<BulkTransfer> MakeBulkIn(std::size_t length,
                                             BulkTransfer::Completion done) override {
        return std::make_unique<FakeTransfer>(chip_, length, std::move(done));
    }

    void HandleEvents(std::chrono::milliseconds timeout) override {
        std::vector<FakeChip::Done> done;
        {
            std::unique_lock lock(chip_->mutex_);
            const auto deadline = FakeChip::Clock::now() + timeout;
            for (auto now = FakeChip::Clock::now();; now = FakeChip::Clock::now()) {
                chip_->Serve(now, done);
                if (!done.empty() || chip_->interrupted_ || now >= deadline) {
                    break;
                }
                chip_->changed_.wait_until(lock, std::min(deadline, chip_->NextEvent(now)));
            }
            chip_->interrupted_ = false;
        }
        for (const FakeChip::Done& finished : done) {
            FakeTransfer& transfer = *finished.transfer;
            transfer.done_(finished.status, std::span(transfer.buffer_.data(), transfer.filled_));
        }
    }

    void Interrupt() override {
        std::lock_guard lock(chip_->mutex_);
        chip_->interrupted_ = true;
        chip_->changed_.notify_all();
    }

private:
    template <class Change> UsbResult Control(Change change) {
        std::lock_guard lock(chip_->mutex_);
        if (chip_->unplugged_) {
            return UsbResult::NoDevice;
        }
        change(chip_->stats_);
        return UsbResult::Ok;
    }

    std::shared_ptr<FakeChip> chip_;
    const int channel_;
    bool taken_ = false; // under the chip's mutex
};

void FakeChip::Stream(double bytesPerSecond, std::uint64_t limit) {
    std::lock_guard lock(mutex_);
    Produce(Clock::now());
    rate_ = bytesPerSecond;
    limit_ = limit;
    rateBase_ = produced_;
    rateStart_ = Clock::now();
    changed_.notify_all();
}

void FakeChip::Unplug() {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
    changed_.notify_all();
}

bool FakeChip::Present() const {
    std::lock_guard lock(mutex_);
    return !unplugged_;
}

FakeChipStats FakeChip::Stats() {
    std::lock_guard lock(mutex_);
    Produce(Clock::now());
    return stats_;
}

std::size_t FakeChip::PendingTransfers() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

std::size_t FakeChip::Buffered() const {
    return static_cast<std::size_t>(produced_ - position_);
}

// Bytes the module has handed over by now. The host controller puts them into the submitted
// transfers without the host's thread; what the chip's buffer then cannot hold pushes out the
// oldest, and the next packet carries the overrun flag.
void FakeChip::Produce(Clock::time_point now) {
    if (rate_ > 0) {
        const double seconds = std::chrono::duration<double>(now - rateStart_).count();
        const auto due = rateBase_ + static_cast<std::uint64_t>(std::floor(seconds * rate_));
        produced_ = std::max(produced_, std::min(due, limit_));
    }
    FillPending(now);
    if (Buffered() > config_.bufferSize) {
        const std::uint64_t lost = Buffered() - config_.bufferSize;
        position_ += lost;
        stats_.bytesDropped += lost;
        overrunPending_ = true;
    }
}

void FakeChip::FillPending(Clock::time_point now) {
    while (!pending_.empty() && !unplugged_) {
        FakeTransfer& front = *pending_.front();
        if (front.cancelled_ || !FillTransfer(front, now)) {
            return;
        }
        stats_.largestTransfer = std::max(stats_.largestTransfer, front.filled_);
        finished_.push_back({&front, TransferStatus::Completed});
        pending_.pop_front();
        changed_.notify_all();
    }
}

// Packets into the transfer: full ones while the chip holds a packet's worth, then a short one
// (maybe status only) once the latency timer has run out, which ends the transfer as it ends a
// real bulk transfer. True when the transfer is done.
bool FakeChip::FillTransfer(FakeTransfer& transfer, Clock::time_point now) {
    const std::size_t payload = config_.packetSize - 2;
    while (transfer.filled_ + config_.packetSize <= transfer.length_) {
        if (rate_ <= 0) {
            produced_ = std::min(limit_, std::max(produced_, position_ + payload));
        }
        const bool full = Buffered() >= payload;
        if (!full && now - lastPacket_ < std::chrono::milliseconds(stats_.latency)) {
            return false;
        }
        const std::size_t count = std::min(payload, Buffered());
        std::uint8_t* packet = transfer.buffer_.data() + transfer.filled_;
        packet[0] = kModemStatus;
        packet[1] =
            static_cast<std::uint8_t>(kLineStatusIdle | (overrunPending_ ? kOverrunBit : 0));
        stats_.overrunPackets += overrunPending_ ? 1 : 0;
        overrunPending_ = false;
        for (std::size_t i = 0; i < count; ++i) {
            packet[2 + i] = PatternByte(position_ + i);
        }
        position_ += count;
        transfer.filled_ += count + 2;
        stats_.bytesSent += count;
        lastPacket_ = now;
        if (!full) {
            return true;
        }
    }
    return true;
}

void FakeChip::Serve(Clock::time_point now, std::vector<Done>& done) {
    Produce(now);
    done.insert(done.end(), finished_.begin(), finished_.end());
    finished_.clear();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (unplugged_) {
            (*it)->filled_ = 0;
            done.push_back({*it, TransferStatus::NoDevice});
        } else if ((*it)->cancelled_) {
            done.push_back({*it, TransferStatus::Cancelled});
        } else {
            ++it;
            continue;
        }
        it = pending_.erase(it);
    }
}

FakeChip::Clock::time_point FakeChip::NextEvent(Clock::time_point now) const {
    if (pending_.empty()) {
        return Clock::time_point::max();
    }
    const std::size_t payload = config_.packetSize - 2;
    Clock::time_point next = lastPacket_ + std::chrono::milliseconds(stats_.latency);
    if (rate_ > 0 && produced_ < limit_ && Buffered() < payload) {
        const double seconds =
            static_cast<double>(produced_ + (payload - Buffered()) - rateBase_) / rate_;
        next = std::min(next, rateStart_ + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(seconds)));
    }
    return std::max(next, now);
}

std::shared_ptr<FakeChip> FakeUsb::AddChip(FakeChipConfig config) {
    auto chip = std::make_shared<FakeChip>(std::move(config));
    std::lock_guard lock(mutex_);
    chips_.push_back(chip);
    return chip;
}

void FakeUsb::RemoveAll() {
    std::lock_guard lock(mutex_);
    chips_.clear();
}

std::vector<UsbDeviceRef> FakeUsb::ListFtdiDevices() {
    std::lock_guard lock(mutex_);
    std::vector<UsbDeviceRef> devices;
    for (const auto& chip : chips_) {
        const FakeChipConfig& config = chip->Config();
        if (!chip->Present() || config.vendor != 0x0403) {
            continue;
        }
        UsbDeviceRef ref{config.bus,
                         config.address,
                         config.vendor,
                         config.product,
                         config.channels,
                         UsbResult::AccessDenied,
                         {}};
        if (!config.accessDenied) {
            ref.strings = UsbResult::Ok;
            ref.text = {config.description, config.serial};
        }
        devices.push_back(std::move(ref));
    }
    return devices;
}

std::optional<UsbStrings> FakeUsb::ReadSystemStrings(const UsbDeviceRef& device) {
    const auto chip = At(device.bus, device.address);
    if (!chip) {
        return std::nullopt;
    }
    return UsbStrings{chip->Config().description, chip->Config().serial};
}

UsbResult FakeUsb::OpenChannel(const UsbDeviceRef& device, int channel,
                               std::unique_ptr<UsbChip>& chip) {
    const auto found = At(device.bus, device.address);
    if (!found) {
        return UsbResult::NoDevice;
    }
    if (found->Config().accessDenied) {
        return UsbResult::AccessDenied;
    }
    chip = std::make_unique<FakeHandle>(found, channel);
    return UsbResult::Ok;
}

std::shared_ptr<FakeChip> FakeUsb::At(std::uint8_t bus, std::uint8_t address) const {
    std::lock_guard lock(mutex_);
    for (auto it = chips_.rbegin(); it != chips_.rend(); ++it) {
        if ((*it)->Present() && (*it)->Config().bus == bus && (*it)->Config().address == address) {
            return *it;
        }
    }
    return nullptr;
}

} // namespace Wirelog::d2xx
