// SPDX-License-Identifier: MIT
#include "ByteSchedule.h"

#include "events/EventCodes.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace Wirelog::d2xx {

namespace {

constexpr std::int64_t kBitNs = 10'000; // 100 kHz bus
constexpr std::int64_t kByteNs = 9 * kBitNs;
constexpr std::int64_t kMillisecondNs = 1'000'000;

constexpr std::uint8_t kStart = TWI_START;
constexpr std::uint8_t kStop = TWI_STOP;
constexpr std::uint8_t kMissingStart = TWI_MISSING_START;
constexpr std::uint8_t kDataAfterNak = TWI_DATA_AFTER_NAK;
constexpr std::uint8_t kBusIdle = TWI_BUS_IDLE;
constexpr std::uint8_t kRestart = TWI_RESTART;
constexpr std::uint8_t kAddrAck = TWI_ADDR_ACK;
constexpr std::uint8_t kAddrNak = TWI_ADDR_NAK;
constexpr std::uint8_t kDataAck = TWI_DATA_ACK;
constexpr std::uint8_t kDataNak = TWI_DATA_NAK;
constexpr std::uint8_t kBadStop = TWI_BAD_STOP;
constexpr std::uint8_t kAddrStop = TWI_ADDR_STOP;
constexpr std::uint8_t kBadStart = TWI_BAD_START;
constexpr std::uint8_t kAddrRestart = TWI_ADDR_RESTART;
constexpr std::uint8_t kDataRestart = TWI_DATA_RESTART;
constexpr std::uint8_t kDataStop = TWI_DATA_STOP;

constexpr std::uint8_t kEeprom = 0x50;
constexpr std::uint8_t kSensor = 0x48;
constexpr std::uint8_t kMissing = 0x3C;

constexpr std::uint8_t Write(std::uint8_t address) {
    return static_cast<std::uint8_t>(address << 1);
}
constexpr std::uint8_t Read(std::uint8_t address) {
    return static_cast<std::uint8_t>(address << 1 | 1);
}
constexpr std::uint8_t BitCount(std::uint8_t bits) {
    return BitCountValue(bits);
}

constexpr std::uint8_t kErrorCodes[] = {kMissingStart, kDataAfterNak, kBadStop,     kAddrStop,
                                        kBadStart,     kAddrRestart,  kDataRestart, kDataStop};

} // namespace

DemoTraffic::DemoTraffic(std::uint32_t seed) : random_(seed == 0 ? 1 : seed) {
    // The module reports the idle bus it waited for shortly after its code 0.
    Idle(kMillisecondNs);
    Report(kBusIdle, 0);
}

bool DemoTraffic::Next(std::uint8_t& byte, std::int64_t& dueNs) {
    if (pending_.empty()) {
        Generate();
    }
    byte = pending_.front().byte;
    dueNs = pending_.front().dueNs;
    pending_.pop_front();
    return true;
}

std::uint32_t DemoTraffic::Random(std::uint32_t bound) {
    random_ ^= random_ << 13;
    random_ ^= random_ >> 17;
    random_ ^= random_ << 5;
    return random_ % bound;
}

void DemoTraffic::Idle(std::int64_t ns) {
    nowNs_ += ns;
}

void DemoTraffic::Report(std::uint8_t code, std::uint8_t value) {
    pending_.push_back({code, nowNs_});
    if (code >= kAddrAck && code <= kDataStop) {
        pending_.push_back({value, nowNs_});
    }
}

void DemoTraffic::Condition(std::uint8_t code) {
    Idle(kBitNs);
    Report(code, 0);
}

void DemoTraffic::Transfer(std::uint8_t code, std::uint8_t value) {
    Idle(kByteNs);
    Report(code, value);
}

void DemoTraffic::Generate() {
    Idle((2 + Random(5)) * kMillisecondNs + Random(1000) * 1000);
    const std::uint64_t turn = transactions_++;
    if (turn % 16 == 15) {
        ProtocolError(kErrorCodes[errorTurn_++ % std::size(kErrorCodes)]);
        return;
    }
    switch (turn % 6) {
    case 0:
        EepromWrite();
        break;
    case 1:
        EepromRead();
        break;
    case 4:
        MissingDevice();
        break;
    default:
        SensorPoll();
        break;
    }
}

void DemoTraffic::EepromWrite() {
    eepromAddress_ = static_cast<std::uint16_t>((eepromAddress_ + 4) & 0x7FFF);
    Condition(kStart);
    Transfer(kAddrAck, Write(kEeprom));
    Transfer(kDataAck, static_cast<std::uint8_t>(eepromAddress_ >> 8));
    Transfer(kDataAck, static_cast<std::uint8_t>(eepromAddress_));
    for (std::uint8_t& value : eepromData_) {
        value = static_cast<std::uint8_t>(Random(256));
        Transfer(kDataAck, value);
    }
    Condition(kStop);
}

void DemoTraffic::EepromRead() {
    Condition(kStart);
    Transfer(kAddrAck, Write(kEeprom));
    Transfer(kDataAck, static_cast<std::uint8_t>(eepromAddress_ >> 8));
    Transfer(kDataAck, static_cast<std::uint8_t>(eepromAddress_));
    Condition(kRestart);
    Transfer(kAddrAck, Read(kEeprom));
    for (std::size_t i = 0; i < std::size(eepromData_); ++i) {
        const bool last = i + 1 == std::size(eepromData_);
        Transfer(last ? kDataNak : kDataAck, eepromData_[i]);
    }
    Condition(kStop);
}

void DemoTraffic::SensorPoll() {
    temperature_ = static_cast<std::uint16_t>(temperature_ + Random(65) - 32);
    Condition(kStart);
    Transfer(kAddrAck, Write(kSensor));
    Transfer(kDataAck, 0x00);
    Condition(kRestart);
    Transfer(kAddrAck, Read(kSensor));
    Transfer(kDataAck, static_cast<std::uint8_t>(temperature_ >> 8));
    Transfer(kDataNak, static_cast<std::uint8_t>(temperature_ & 0xF0));
    Condition(kStop);
}

void DemoTraffic::MissingDevice() {
    Condition(kStart);
    Transfer(kAddrNak, Write(kMissing));
    Condition(kStop);
}

void DemoTraffic::ProtocolError(std::uint8_t code) {
    const auto data = static_cast<std::uint8_t>(Random(256));
    switch (code) {
    case kMissingStart:
        Condition(kMissingStart);
        Condition(kBusIdle);
        break;
    case kDataAfterNak:
        Condition(kStart);
        Transfer(kAddrAck, Read(kSensor));
        Transfer(kDataNak, data);
        Transfer(kDataAfterNak, 0);
        Condition(kStop);
        break;
    case kBadStop:
        Condition(kStart);
        Transfer(kAddrAck, Write(kEeprom));
        Idle(3 * kBitNs);
        Report(kBadStop, BitCount(3));
        break;
    case kAddrStop:
        Condition(kStart);
        Transfer(kAddrStop, Write(kEeprom));
        break;
    case kBadStart:
        Condition(kStart);
        Transfer(kAddrAck, Write(kSensor));
        Idle(5 * kBitNs);
        Report(kBadStart, BitCount(5));
        Transfer(kAddrAck, Write(kSensor));
        Transfer(kDataAck, 0x01);
        Condition(kStop);
        break;
    case kAddrRestart:
        Condition(kStart);
        Transfer(kAddrRestart, Read(kSensor));
        Transfer(kAddrAck, Read(kSensor));
        Transfer(kDataNak, data);
        Condition(kStop);
        break;
    case kDataRestart:
        Condition(kStart);
        Transfer(kAddrAck, Write(kEeprom));
        Transfer(kDataRestart, data);
        Transfer(kAddrAck, Read(kEeprom));
        Transfer(kDataNak, data);
        Condition(kStop);
        break;
    default:
        Condition(kStart);
        Transfer(kAddrAck, Write(kEeprom));
        Transfer(kDataStop, data);
        break;
    }
}

PacedSchedule::PacedSchedule(std::unique_ptr<ByteSchedule> inner, std::uint64_t bytesPerSecond)
    : inner_(std::move(inner)), bytesPerSecond_(bytesPerSecond == 0 ? 1 : bytesPerSecond) {}

bool PacedSchedule::Next(std::uint8_t& byte, std::int64_t& dueNs) {
    std::int64_t ignored = 0;
    if (!inner_->Next(byte, ignored)) {
        return false;
    }
    // Split so that index * 1e9 cannot overflow in a long run.
    constexpr std::uint64_t kSecondNs = 1'000'000'000;
    const std::uint64_t whole = index_ / bytesPerSecond_;
    const std::uint64_t part = index_ % bytesPerSecond_;
    dueNs = static_cast<std::int64_t>(whole * kSecondNs + part * kSecondNs / bytesPerSecond_);
    ++index_;
    return true;
}

ReplaySchedule::ReplaySchedule(std::shared_ptr<const std::vector<TimedBatch>> batches)
    : batches_(std::move(batches)) {}

bool ReplaySchedule::Next(std::uint8_t& byte, std::int64_t& dueNs) {
    while (batch_ < batches_->size() && offset_ >= (*batches_)[batch_].bytes.size()) {
        ++batch_;
        offset_ = 0;
    }
    if (batch_ >= batches_->size()) {
        return false;
    }
    const TimedBatch& batch = (*batches_)[batch_];
    byte = batch.bytes[offset_++];
    // Stamps past some 292 years would overflow nanoseconds; they are never due anyway.
    constexpr std::uint64_t kLatestMicroseconds = std::numeric_limits<std::int64_t>::max() / 1000;
    dueNs = static_cast<std::int64_t>(std::min(batch.timeStamp, kLatestMicroseconds) * 1000);
    return true;
}

} // namespace Wirelog::d2xx
