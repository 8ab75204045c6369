// SPDX-License-Identifier: MIT
#pragma once
// What a simulated module sends after its start command, byte by byte, each with the time it is
// due. The simulator asks for bytes only when a caller looks, so no thread runs per device.
#include "batchfile/TimedBatchFile.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace Wirelog::d2xx {

class ByteSchedule {
public:
    virtual ~ByteSchedule() = default;
    // The next byte and when it is due, in nanoseconds after the start command; false once the
    // stream has ended. Due times never decrease.
    virtual bool Next(std::uint8_t& byte, std::int64_t& dueNs) = 0;
};

// Endless traffic of a small board at 100 kHz: an EEPROM at 0x50 written and read back, a
// temperature sensor at 0x48 polled, a missing device at 0x3C that NAKs, and now and then each
// protocol error the module reports, with idle gaps of a few milliseconds between transactions.
// Deterministic for a given seed.
class DemoTraffic final : public ByteSchedule {
public:
    explicit DemoTraffic(std::uint32_t seed = 0x2545F491u);
    bool Next(std::uint8_t& byte, std::int64_t& dueNs) override;

private:
    struct TimedByte {
        std::uint8_t byte;
        std::int64_t dueNs;
    };

    void Generate();
    void Idle(std::int64_t ns);
    void Condition(std::uint8_t code);                    // START, STOP, RESTART, ...
    void Transfer(std::uint8_t code, std::uint8_t value); // one byte on the bus and its report
    void Report(std::uint8_t code, std::uint8_t value);   // a report with no bus byte of its own
    std::uint32_t Random(std::uint32_t bound);

    void EepromWrite();
    void EepromRead();
    void SensorPoll();
    void MissingDevice();
    void ProtocolError(std::uint8_t code);

    std::deque<TimedByte> pending_;
    std::int64_t nowNs_ = 0;
    std::uint32_t random_;
    std::uint64_t transactions_ = 0;
    std::uint8_t errorTurn_ = 0;
    std::uint16_t eepromAddress_ = 0x0100;
    std::uint8_t eepromData_[4] = {};
    std::uint16_t temperature_ = 0x1980;
};

// The bytes of another schedule at a steady rate instead of their own times.
class PacedSchedule final : public ByteSchedule {
public:
    PacedSchedule(std::unique_ptr<ByteSchedule> inner, std::uint64_t bytesPerSecond);
    bool Next(std::uint8_t& byte, std::int64_t& dueNs) override;

private:
    std::unique_ptr<ByteSchedule> inner_;
    std::uint64_t bytesPerSecond_;
    std::uint64_t index_ = 0;
};

// A recorded capture (timed read batches) played back at its time stamps.
class ReplaySchedule final : public ByteSchedule {
public:
    explicit ReplaySchedule(std::shared_ptr<const std::vector<TimedBatch>> batches);
    bool Next(std::uint8_t& byte, std::int64_t& dueNs) override;

private:
    std::shared_ptr<const std::vector<TimedBatch>> batches_;
    std::size_t batch_ = 0;
    std::size_t offset_ = 0;
};

} // namespace Wirelog::d2xx
