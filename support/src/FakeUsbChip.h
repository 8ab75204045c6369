// SPDX-License-Identifier: MIT
#pragma once
// A USB layer of FTDI chips that exist only in memory, for the tests and the benchmark: listing
// with chosen ids and strings, the control requests, and a bulk-in stream shaped as a real chip
// shapes it (packets of 64 or 512 bytes with two status bytes each, a short packet when the
// latency timer expires, the overrun flag when the host did not take bytes in time) and an
// unplug on command. Install it with SetUsbLayer (FtdiBackend.h).
#include "UsbSeam.h"

#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>

namespace Wirelog::d2xx {

struct FakeChipConfig {
    std::uint8_t bus = 1;
    std::uint8_t address = 2;
    std::uint16_t vendor = 0x0403;
    std::uint16_t product = 0x6001; // FT232R
    int channels = 1;
    std::string description = "wirlg000";
    std::optional<std::string> serial = "FT000001";
    bool accessDenied = false;
    std::size_t packetSize = 64;  // 512 for an FT232H at high speed
    std::size_t bufferSize = 256; // the chip's buffer toward the host
};

struct FakeChipStats {
    int takes = 0;
    int releases = 0;
    int bitModeResets = 0;
    int purges = 0;
    int claimedChannel = -1;
    std::uint8_t latency = 16;
    std::uint64_t bytesSent = 0;    // payload bytes in completed packets
    std::uint64_t bytesDropped = 0; // lost in the chip because the host fell behind
    std::uint64_t overrunPackets = 0;
    std::size_t largestTransfer = 0; // bytes of the fullest transfer completed
};

class FakeTransfer;

class FakeChip {
public:
    static constexpr std::uint64_t kEndless = std::numeric_limits<std::uint64_t>::max();

    explicit FakeChip(FakeChipConfig config)
        : config_(std::move(config)), lastPacket_(Clock::now()) {}

    const FakeChipConfig& Config() const { return config_; }

    // The module hands the chip a counter pattern (PatternByte) at this rate from now on, limit
    // bytes in all; a rate of 0 means as fast as the host takes them.
    void Stream(double bytesPerSecond, std::uint64_t limit = kEndless);
    void Unplug();
    bool Present() const;
    // Brings the chip's buffer up to now first, so a stalled host shows as dropped bytes.
    FakeChipStats Stats();
    // Transfers the host has submitted and not got back.
    std::size_t PendingTransfers() const;

    // Byte p of the stream: byte p % 4 of the little-endian 32-bit counter p / 4.
    static std::uint8_t PatternByte(std::uint64_t position) {
        return static_cast<std::uint8_t>((position / 4) >> (8 * (position % 4)));
    }

private:
    friend class FakeHandle;
    friend class FakeTransfer;
    using Clock = std::chrono::steady_clock;
    struct Done {
        FakeTransfer* transfer;
        TransferStatus status;
    };

    // Everything below runs under mutex_.
    void Serve(Clock::time_point now, std::vector<Done>& done);
    void Produce(Clock::time_point now);
    void FillPending(Clock::time_point now);
    bool FillTransfer(FakeTransfer& transfer, Clock::time_point now);
    std::size_t Buffered() const;
    Clock::time_point NextEvent(Clock::time_point now) const;

    const FakeChipConfig config_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    FakeChipStats stats_;
    bool unplugged_ = false;
    bool interrupted_ = false;
    bool overrunPending_ = false;
    double rate_ = 0;
    std::uint64_t limit_ = 0;
    std::uint64_t produced_ = 0; // stream bytes that reached the chip, dropped ones included
    std::uint64_t position_ = 0; // stream position of the oldest byte in the chip's buffer
    std::uint64_t rateBase_ = 0; // produced_ when the rate was set
    Clock::time_point rateStart_{};
    Clock::time_point lastPacket_; // the latency timer runs from here
    std::deque<FakeTransfer*> pending_;
    std::vector<Done> finished_; // filled, not yet handed back by HandleEvents
};

class FakeUsb final : public UsbLayer {
public:
    std::shared_ptr<FakeChip> AddChip(FakeChipConfig config);
    void RemoveAll();

    std::vector<UsbDeviceRef> ListFtdiDevices() override;
    std::optional<UsbStrings> ReadSystemStrings(const UsbDeviceRef& device) override;
    UsbResult OpenChannel(const UsbDeviceRef& device, int channel,
                          std::unique_ptr<UsbChip>& chip) override;

private:
    std::shared_ptr<FakeChip> At(std::uint8_t bus, std::uint8_t address) const;

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FakeChip>> chips_;
};

} // namespace Wirelog::d2xx
