// SPDX-License-Identifier: MIT
#pragma once
// Classic pcap (nanosecond time stamps) of link type LINKTYPE_I2C_LINUX (209), the one
// Wireshark's I2C dissector reads: one packet per transaction with an address byte, one event
// packet per error.
//
// Every packet starts with the link type's 5-byte pseudo-header: one byte with the bus number
// in bits 6 to 0 and bit 7 set for an event packet, then 4 bytes of flags, big-endian. A data
// packet has the read flag (bit 0) set for a read and carries the address byte as it went over
// the bus, then the data bytes. An event packet has no payload; its flags carry the event: the
// link type defines no bus-protocol errors, so the error's code stands in bits 31 to 24 and the
// number of times it came back to back in bits 23 to 16 (at most 255); a buffer error also sets
// 0x40 ("data buffer overrun; some data is lost"), the monitor switching on is 0x01
// ("promiscuous mode enabled").
#include "decode/EventWriter.h"
#include "export/Transactions.h"

#include <cstdint>
#include <string>

namespace Wirelog {

class PcapWriter final : public EventWriter, TransactionSink {
public:
    static constexpr std::uint32_t kLinkTypeI2cLinux = 209;
    static constexpr std::uint32_t kSnapLength = 5 + 1 + TransactionGrouper::kMaxHeldBytes;
    static constexpr std::uint32_t kReadFlag = 0x1;
    static constexpr std::uint32_t kEventPromiscuousOn = 0x01;
    static constexpr std::uint32_t kEventBufferOverrun = 0x40;
    static constexpr std::uint8_t kEventBit = 0x80;

    explicit PcapWriter(const CaptureClock& clock, AddressSet keep = {}, std::uint8_t bus = 0)
        : clock_(clock), bus_(bus & 0x7F), grouper_(*this, keep) {}

    void begin(std::string& out) override;
    void write(const TWIevent& event, std::string& out) override;
    void finish(std::string& out) override;
    bool atBoundary() const override { return !grouper_.open(); }

private:
    void transaction(const Transaction& t) override;
    void error(const TWIevent& event) override;
    void appendError(const ErrorRun& run);
    void appendRecordHeader(std::int64_t ticks, std::uint32_t captured, std::uint32_t length);
    void appendPseudoHeader(bool event, std::uint32_t flags);

    CaptureClock clock_;
    std::uint8_t bus_;
    TransactionGrouper grouper_;
    std::string* out_ = nullptr;
};

} // namespace Wirelog
