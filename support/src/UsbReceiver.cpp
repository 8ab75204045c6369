// SPDX-License-Identifier: MIT
#include "UsbReceiver.h"

#include "Overruns.h"

#include <algorithm>
#include <cstring>

namespace Wirelog::d2xx {

namespace {

// A transfer completes when it is full or a short packet ends it, and a chip that has a whole
// packet ready at every poll never sends a short one: a long transfer then holds bytes back until
// it fills. So each transfer asks for what the chip sends in about kFillTime at the rate measured
// over the last kRateWindow: one packet at a trickle, up to kMaxPackets (16 KiB at high speed)
// at full rate. Many transfers in flight let the host controller keep taking bytes while the
// event thread is held up: at 100 KB/s, 32 one-packet transfers are 20 ms of bytes, at an
// FT232H's 40 MB/s, 32 full ones 13 ms.
constexpr std::size_t kTransfers = 32;
constexpr std::size_t kMaxPackets = 32;
constexpr std::chrono::microseconds kFillTime{1000};
constexpr std::chrono::milliseconds kRateWindow{4};
constexpr std::size_t kStatusBytes = 2;
constexpr std::uint8_t kOverrunBit = 0x02; // second status byte
// How long the event thread waits in libusb before it looks at the stop flag again; Stop also
// interrupts the wait.
constexpr std::chrono::milliseconds kEventWait{100};
constexpr std::chrono::milliseconds kSpaceWait{50};

} // namespace

UsbReceiver::UsbReceiver(UsbChip& chip, ReceiveQueue& queue)
    : chip_(chip), queue_(queue), length_(chip.MaxPacketSize()) {
    const std::size_t length = chip_.MaxPacketSize() * kMaxPackets;
    slots_.resize(kTransfers);
    for (Slot& slot : slots_) {
        slot.transfer = chip_.MakeBulkIn(
            length, [this, &slot](TransferStatus status, std::span<std::uint8_t> data) {
                Complete(slot, status, data);
            });
    }
}

bool UsbReceiver::Start() {
    for (Slot& slot : slots_) {
        if (slot.transfer->Submit(length_) == UsbResult::Ok) {
            slot.submitted = true;
            ++inFlight_;
        }
    }
    windowStart_ = std::chrono::steady_clock::now();
    if (inFlight_ == 0) {
        gone_ = true;
        return false;
    }
    events_ = std::thread([this] { RunEvents(); });
    return true;
}

void UsbReceiver::Stop() {
    stopping_ = true;
    if (events_.joinable()) {
        chip_.Interrupt();
        events_.join();
    }
}

void UsbReceiver::RunEvents() {
    bool cancelled = false;
    while (inFlight_ > 0) {
        // Completions run on this thread, so once the flag is seen here no completion can
        // resubmit behind the cancel.
        if (stopping_ && !cancelled) {
            for (Slot& slot : slots_) {
                if (slot.submitted) {
                    slot.transfer->Cancel();
                }
            }
            cancelled = true;
        }
        chip_.HandleEvents(kEventWait);
    }
}

void UsbReceiver::Complete(Slot& slot, TransferStatus status, std::span<std::uint8_t> data) {
    slot.submitted = false;
    --inFlight_;
    if (status == TransferStatus::Completed || status == TransferStatus::Cancelled) {
        const std::size_t payload = StripStatus(data);
        Deliver(data.data(), payload);
        MeasureRate(payload);
    }
    if (status == TransferStatus::NoDevice || status == TransferStatus::Failed) {
        gone_ = true;
    }
    if (status != TransferStatus::Completed || stopping_ || gone_) {
        if (gone_) {
            queue_.Close(); // wakes readers waiting for bytes that will never come
        }
        return;
    }
    if (slot.transfer->Submit(length_) == UsbResult::Ok) {
        slot.submitted = true;
        ++inFlight_;
    } else {
        gone_ = true;
        queue_.Close();
    }
}

void UsbReceiver::MeasureRate(std::size_t payload) {
    windowBytes_ += payload;
    const auto now = std::chrono::steady_clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - windowStart_);
    if (elapsed < kRateWindow) {
        return;
    }
    const std::size_t perFill = windowBytes_ * static_cast<std::size_t>(kFillTime.count()) /
                                static_cast<std::size_t>(elapsed.count());
    const std::size_t packet = chip_.MaxPacketSize();
    length_ = std::clamp<std::size_t>(perFill / (packet - kStatusBytes), 1, kMaxPackets) * packet;
    windowStart_ = now;
    windowBytes_ = 0;
}

// Every packet starts with the chip's two modem-status bytes; the payload is compacted in place.
std::size_t UsbReceiver::StripStatus(std::span<std::uint8_t> data) {
    const std::size_t packet = chip_.MaxPacketSize();
    std::size_t kept = 0;
    for (std::size_t start = 0; start < data.size(); start += packet) {
        const std::size_t length = std::min(packet, data.size() - start);
        if (length < kStatusBytes) {
            break;
        }
        if ((data[start + 1] & kOverrunBit) != 0) {
            ++overruns_;
            ++ChipOverrunTotal();
        }
        std::memmove(data.data() + kept, data.data() + start + kStatusBytes, length - kStatusBytes);
        kept += length - kStatusBytes;
    }
    return kept;
}

// A full queue holds the transfers back, as a D2XX driver whose buffer is full stops reading;
// the chip then overruns, which the status bytes report.
void UsbReceiver::Deliver(const std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count && !queue_.IsClosed()) {
        done += queue_.Push(bytes + done, count - done);
        if (done < count) {
            queue_.WaitForSpace(ReceiveQueue::Clock::now() + kSpaceWait);
        }
    }
    if (done < count && queue_.IsClosed() && !stopping_) {
        queue_.Push(bytes + done, count - done); // gone: keep what came before the end
    }
}

} // namespace Wirelog::d2xx
