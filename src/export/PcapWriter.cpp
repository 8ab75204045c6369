// SPDX-License-Identifier: MIT
#include "export/PcapWriter.h"

#include "events/EventCodes.h"
#include "export/EventNames.h"

namespace Wirelog {
namespace {

// pcap's file and record headers are in the writer's byte order, which the magic number tells
// readers; little-endian everywhere here, as on every machine the program runs on.
void AppendLittle32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>(value >> shift & 0xFF);
}

void AppendLittle16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

// The pseudo-header's flags are big-endian whatever the file's byte order.
void AppendBig32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(value >> shift & 0xFF);
}

// The magic of the nanosecond variant of classic pcap: sample-exact times of logic captures
// need more than microseconds.
constexpr std::uint32_t kMagicNanoseconds = 0xA1B23C4D;
constexpr std::uint32_t kPseudoHeaderBytes = 5;

} // namespace

void PcapWriter::begin(std::string& out) {
    AppendLittle32(out, kMagicNanoseconds);
    AppendLittle16(out, 2);
    AppendLittle16(out, 4);
    AppendLittle32(out, 0); // time zone: times are UTC
    AppendLittle32(out, 0); // accuracy of the time stamps
    AppendLittle32(out, kSnapLength);
    AppendLittle32(out, kLinkTypeI2cLinux);
}

void PcapWriter::write(const TWIevent& event, std::string& out) {
    out_ = &out;
    grouper_.add(event); // first, so the transaction it ends comes before it
    if (event.cmd == TWI_MONITOR_ON) {
        appendRecordHeader(event.timer, kPseudoHeaderBytes, kPseudoHeaderBytes);
        appendPseudoHeader(true, std::uint32_t{TWI_MONITOR_ON} << 24 | kEventPromiscuousOn);
    }
}

void PcapWriter::finish(std::string& out) {
    out_ = &out;
    grouper_.finish();
}

void PcapWriter::transaction(const Transaction& t) {
    // Wireshark's dissector takes a data packet's first byte as the address, so a transaction
    // whose address byte never completed has no packet; its errors still get theirs.
    if (t.hasAddress) {
        const auto held = static_cast<std::uint32_t>(kPseudoHeaderBytes + 1 + t.data.size());
        appendRecordHeader(t.start, held, static_cast<std::uint32_t>(held + t.bytesNotHeld));
        appendPseudoHeader(false, t.read() ? kReadFlag : 0);
        *out_ += static_cast<char>(t.addressByte);
        out_->append(t.data.begin(), t.data.end());
    }
    for (const ErrorRun& run : t.errors)
        appendError(run);
}

void PcapWriter::error(const TWIevent& event) {
    appendError({event.cmd, 1, event.timer});
}

void PcapWriter::appendError(const ErrorRun& run) {
    const std::uint32_t count = run.count < 0xFF ? static_cast<std::uint32_t>(run.count) : 0xFF;
    const std::uint32_t flags = std::uint32_t{run.code} << 24 | count << 16 |
                                (run.code == TWI_BUFFER_ERROR ? kEventBufferOverrun : 0);
    appendRecordHeader(run.time, kPseudoHeaderBytes, kPseudoHeaderBytes);
    appendPseudoHeader(true, flags);
}

void PcapWriter::appendRecordHeader(std::int64_t ticks, std::uint32_t captured,
                                    std::uint32_t length) {
    // Times before the capture's start cannot be written; they stand at its start.
    const std::uint64_t since = ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
    const auto [seconds, nanos] = SplitTicks(since, clock_.ticksPerSecond);
    const std::int64_t startMicros = clock_.startUnixMicros < 0 ? 0 : clock_.startUnixMicros;
    std::uint64_t totalNanos = nanos + static_cast<std::uint64_t>(startMicros % 1'000'000) * 1000;
    const std::uint64_t totalSeconds =
        seconds + static_cast<std::uint64_t>(startMicros / 1'000'000) + totalNanos / 1'000'000'000;
    totalNanos %= 1'000'000'000;
    AppendLittle32(*out_, static_cast<std::uint32_t>(totalSeconds));
    AppendLittle32(*out_, static_cast<std::uint32_t>(totalNanos));
    AppendLittle32(*out_, captured);
    AppendLittle32(*out_, length);
}

void PcapWriter::appendPseudoHeader(bool event, std::uint32_t flags) {
    *out_ += static_cast<char>(bus_ | (event ? kEventBit : 0));
    AppendBig32(*out_, flags);
}

} // namespace Wirelog
