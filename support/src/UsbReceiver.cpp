// SPDX-License-Identifier: MIT
#include "UsbReceiver.h"

#include "Overruns.h"

#include <cstring>

namespace Wirelog::d2xx {

namespace {

// Eight transfers of 32 packets: at an FT232H's 40 MB/s that is 3 ms of bytes the host
// controller can take while the event thread is busy, and a short packet ends a transfer early,
// so the size costs no latency.
constexpr std::size_t kTransfers = 8;
constexpr std::size_t kPacketsPerTransfer = 32;
constexpr std::size_t kStatusBytes = 2;
constexpr std::uint8_t kOverrunBit = 0x02; // second status byte
// How long the event thread waits in libusb before it looks at the stop flag again; Stop also
// interrupts the wait.
constexpr std::chrono::milliseconds kEventWait{100};
constexpr std::chrono::milliseconds kSpaceWait{50};

} // namespace

UsbReceiver::UsbReceiver(UsbChip& chip, ReceiveQueue& queue) : chip_(chip), queue_(queue) {
    const std::size_t length = chip_.MaxPacketSize() * kPacketsPerTransfer;
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
        if (slot.transfer->Submit() == UsbResult::Ok) {
            slot.submitted = true;
            ++inFlight_;
        }
    }
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
        Deliver(data.data(), StripStatus(data));
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
    if (slot.transfer->Submit() == UsbResult::Ok) {
        slot.submitted = true;
        ++inFlight_;
    } else {
        gone_ = true;
        queue_.Close();
    }
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
