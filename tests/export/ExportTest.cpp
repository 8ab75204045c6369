// SPDX-License-Identifier: MIT
// The export formats on short event sequences: how transactions form around every error code,
// the exact bytes of the text formats and of pcap, and the address filter on each kind of writer.
#include "decode/ViewTWI.h"
#include "events/EventCodes.h"
#include "export/AddressFilter.h"
#include "export/OutputFormat.h"
#include "export/PcapWriter.h"
#include "export/TextWriters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Wirelog {
namespace {

using Events = std::vector<TWIevent>;
constexpr CaptureClock kMicroseconds{1'000'000, 0};

TWIevent E(std::uint8_t code, std::uint8_t data, std::int64_t micros) {
    return {code, data, micros};
}

std::string WriteAll(EventWriter& writer, const Events& events) {
    std::string out;
    writer.begin(out);
    for (const TWIevent& e : events)
        writer.write(e, out);
    writer.finish(out);
    return out;
}

std::string Transactions(const Events& events, AddressSet keep = {}) {
    TransactionsWriter writer(kMicroseconds, keep);
    return WriteAll(writer, events);
}

// Each error code inside and outside a transaction, and what it does to the grouping.
TEST(Transactions, FormAroundEveryErrorCodeAsDocumented) {
    const std::vector<std::pair<Events, std::string>> cases = {
        {{E(0, 0, 0), E(5, 0, 1), E(1, 0, 10), E(7, 0xA0, 11), E(9, 0x10, 12), E(6, 0, 13),
          E(7, 0xA1, 14), E(9, 0x57, 15), E(10, 0x52, 16), E(2, 0, 17)},
         "0.000010000 0.000003000 0x50 W ACK 0x10 ACK\n"
         "0.000013000 0.000004000 0x50 R ACK 0x57 ACK 0x52 NAK\n"},
        {{E(1, 0, 1), E(8, 0x42, 2), E(4, 0, 3), E(2, 0, 4)},
         "0.000001000 0.000003000 0x21 W NAK error TWI_DATA_AFTER_NAK\n"},
        {{E(1, 0, 1), E(7, 0xA1, 2), E(10, 1, 3), E(4, 0, 4), E(4, 0, 5), E(4, 0, 6), E(17, 9, 7),
          E(4, 0, 8), E(2, 0, 9)},
         "0.000001000 0.000008000 0x50 R ACK 0x01 NAK error TWI_DATA_AFTER_NAK x3 error "
         "TWI_BUFFER_ERROR error TWI_DATA_AFTER_NAK\n"},
        {{E(1, 0, 1), E(7, 0xA0, 2), E(11, 6, 3), E(1, 0, 5), E(12, 0xA1, 6)},
         "0.000001000 0.000002000 0x50 W ACK error TWI_BAD_STOP\n"
         "0.000005000 0.000001000 0x50 R - error TWI_ADDR_STOP\n"},
        {{E(1, 0, 1), E(7, 0xA0, 2), E(13, 4, 3), E(7, 0xA1, 4), E(16, 0x33, 5)},
         "0.000001000 0.000002000 0x50 W ACK error TWI_BAD_START\n"
         "0.000003000 0.000002000 0x50 R ACK 0x33 - error TWI_DATA_STOP\n"},
        {{E(1, 0, 1), E(14, 0xA0, 2), E(15, 0x99, 3), E(2, 0, 4)},
         "0.000001000 0.000001000 0x50 W - error TWI_ADDR_RESTART\n"
         "0.000002000 0.000001000 -- -- -- 0x99 - error TWI_DATA_RESTART\n"
         "0.000003000 0.000001000 -- -- --\n"},
        {{E(3, 0, 1), E(1, 0, 2), E(7, 0xA0, 3), E(3, 0, 4), E(11, 0, 5), E(13, 0, 6), E(2, 0, 7),
          E(17, 0x42, 8)},
         "0.000001000 error TWI_MISSING_START\n"
         "0.000002000 0.000001000 0x50 W ACK\n"
         "0.000004000 error TWI_MISSING_START\n"
         "0.000005000 error TWI_BAD_STOP\n"
         "0.000006000 error TWI_BAD_START\n"
         "0.000006000 0.000001000 -- -- --\n"
         "0.000008000 error TWI_BUFFER_ERROR\n"},
        // Bytes without a START open a transaction; the capture's end hands on the open one.
        {{E(9, 0x01, 1), E(1, 0, 2), E(7, 0xA0, 3), E(17, 0x42, 4), E(9, 0x02, 5)},
         "0.000001000 0.000001000 -- -- -- 0x01 ACK\n"
         "0.000002000 0.000003000 0x50 W ACK 0x02 ACK error TWI_BUFFER_ERROR\n"},
    };
    for (const auto& [events, expected] : cases)
        EXPECT_EQ(Transactions(events), expected);
}

// A bus with three devices; a filter keeps exactly the transactions to the addresses named, and
// every error, in every format.
const Events kThreeDevices = {E(0, 0, 0),     E(5, 0, 1),   E(1, 0, 2),    E(7, 0xA0, 3),
                              E(9, 0x01, 4),  E(6, 0, 5),   E(7, 0x3C, 6), E(9, 0x02, 7),
                              E(2, 0, 8),     E(3, 0, 9),   E(1, 0, 10),   E(8, 0xD0, 11),
                              E(2, 0, 12),    E(1, 0, 13),  E(11, 2, 14),  E(1, 0, 15),
                              E(7, 0xA1, 16), E(10, 3, 17), E(2, 0, 18)};

AddressSet Keep(std::string_view list) {
    AddressSet set;
    std::string error;
    EXPECT_TRUE(ParseAddressList(list, set, error)) << error;
    return set;
}

class Codes final : public EventWriter {
public:
    void write(const TWIevent& event, std::string& out) override {
        out += std::to_string(event.cmd) + ' ';
    }
};

TEST(AddressFilter, KeepsTheNamedDevicesTransactionsAndEveryErrorInEachFormat) {
    EXPECT_EQ(Transactions(kThreeDevices, Keep("0x50")),
              "0.000002000 0.000003000 0x50 W ACK 0x01 ACK\n"
              "0.000009000 error TWI_MISSING_START\n"
              "0.000013000 0.000001000 -- -- -- error TWI_BAD_STOP\n"
              "0.000015000 0.000003000 0x50 R ACK 0x03 NAK\n");
    EXPECT_EQ(Transactions(kThreeDevices, Keep("30,104")),
              "0.000005000 0.000003000 0x1E W ACK 0x02 ACK\n"
              "0.000009000 error TWI_MISSING_START\n"
              "0.000010000 0.000002000 0x68 W NAK\n"
              "0.000013000 0.000001000 -- -- -- error TWI_BAD_STOP\n");
    const auto codes = [](std::string_view list) {
        AddressFilter filter(std::make_unique<Codes>(), Keep(list));
        return WriteAll(filter, kThreeDevices);
    };
    // The log and CSV see the events themselves: the opening START goes with its transaction.
    EXPECT_EQ(codes("0x50"), "0 5 1 7 9 3 1 11 1 7 10 2 ");
    EXPECT_EQ(codes("0x1E"), "0 5 6 7 9 2 3 1 11 ");
    EXPECT_EQ(codes("0x00"), "0 5 3 1 11 ");
    PcapWriter pcap(kMicroseconds, Keep("0x68"));
    const std::string bytes = WriteAll(pcap, kThreeDevices);
    // The file header, then monitor on, missing START, the 0x68 write, bad STOP: 16 + 5 bytes each.
    EXPECT_EQ(bytes.size(), 24 + 4u * (16 + 5) + 1);
    EXPECT_EQ(bytes[24 + 2 * 21 + 16 + 5], static_cast<char>(0xD0));
}

TEST(AddressFilter, RejectsListsThatAreNotSevenBitAddresses) {
    for (const std::string_view bad :
         {"", "0x80", "128", "0x", "5,", "abc", "0x5g", "-1", "1,,2"}) {
        AddressSet set;
        std::string error;
        EXPECT_FALSE(ParseAddressList(bad, set, error)) << bad;
        EXPECT_NE(error.find("7-bit"), std::string::npos);
    }
    const AddressSet set = Keep("0x7F,0,0X1e");
    EXPECT_EQ(set.addresses.count(), 3u);
    EXPECT_TRUE(set.addresses.test(0x7F) && set.addresses.test(0) && set.addresses.test(0x1E));
}

TEST(TextFormats, CsvRowsAndJsonObjectsCarryEachEventAndTransaction) {
    div = 1000.0;
    ResetDecoder();
    CsvWriter csv(kMicroseconds);
    EXPECT_EQ(
        WriteAll(csv,
                 {E(1, 0, 1), E(7, 0xA1, 2), E(10, 0x22, 3), E(2, 0, 1234567), E(13, 6, 1234568)}),
        "time,code,name,value,address,direction,ack,text\r\n"
        "0.000001000,1,TWI_START,,,,,START (valid)\r\n"
        "0.000002000,7,TWI_ADDR_ACK,0xA1,0x50,R,ACK,\"Address + Read  + ACK, addr = 0x50\"\r\n"
        "0.000003000,10,TWI_DATA_NAK,0x22,,,NAK,\"Data + NAK,            data = 0x22\"\r\n"
        "1.234567000,2,TWI_STOP,,,,,STOP (*** BUS IS IDLE ***)\r\n"
        "1.234568000,13,TWI_BAD_START,0x06,,,,Error: START detected within a data-byte "
        "transfer. (3 data bits were sent prior to the bad START.)\r\n");
    std::string quoted;
    AppendCsvField(quoted, "say \"hi\"\r\n");
    EXPECT_EQ(quoted, "\"say \"\"hi\"\"\r\n\"");

    JsonlWriter jsonl(kMicroseconds);
    EXPECT_EQ(WriteAll(jsonl, {E(3, 0, 1), E(1, 0, 2), E(7, 0xA1, 3), E(9, 7, 4), E(16, 255, 5),
                               E(1, 0, 6), E(11, 0, 7)}),
              "{\"time\":0.000001000,\"duration\":0.000000000,\"read\":false,\"data\":[],"
              "\"ack\":[],\"errors\":[\"TWI_MISSING_START\"]}\n"
              "{\"time\":0.000002000,\"duration\":0.000003000,\"address\":80,\"read\":true,"
              "\"data\":[7,255],\"ack\":[true,true,null],\"errors\":[\"TWI_DATA_STOP\"]}\n"
              "{\"time\":0.000006000,\"duration\":0.000001000,\"read\":false,\"data\":[],"
              "\"ack\":[],\"errors\":[\"TWI_BAD_STOP\"]}\n");
}

// Bytes past what one transaction holds are counted, so memory stays bounded.
TEST(TextFormats, AnEndlessTransactionIsHeldOnlyUpToItsCap) {
    TransactionsWriter writer(kMicroseconds);
    std::string out;
    writer.write(E(1, 0, 0), out);
    writer.write(E(7, 0xA1, 0), out);
    for (std::size_t i = 0; i < TransactionGrouper::kMaxHeldBytes + 5; ++i)
        writer.write(E(9, 0x11, 1), out);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(writer.atBoundary());
    writer.write(E(2, 0, 2), out);
    EXPECT_TRUE(writer.atBoundary());
    EXPECT_EQ(out.size(), 34 + TransactionGrouper::kMaxHeldBytes * 9 + 15 + 1);
    EXPECT_EQ(out.substr(out.size() - 16), " (5 more bytes)\n");
}

using namespace std::string_literals;

// The file header, a read packet with its pseudo-header and an error event, byte for byte;
// times add the capture's start and carry exact nanoseconds of a logic capture's samples.
TEST(Pcap, WritesLinkType209PacketsAtTheCapturesTimes) {
    PcapWriter writer(CaptureClock{3, 1'700'000'000'999'999}, {}, 1);
    const std::string out = WriteAll(writer, {E(1, 0, 3), E(7, 0xA1, 4), E(9, 0xDE, 5), E(4, 0, 5),
                                              E(4, 0, 6), E(10, 0xAD, 6), E(2, 0, 7)});
    const auto header = "\x4D\x3C\xB2\xA1\2\0\4\0\0\0\0\0\0\0\0\0\x06\0\4\0\xD1\0\0\0"s;
    // 1,700,000,000.999999 s + 1 s = 1,700,000,001 s + 999,999,000 ns.
    const auto packet =
        "\x01\xF1\x53\x65\x18\xC6\x9A\x3B\x08\0\0\0\x08\0\0\0\x01\0\0\0\x01\xA1\xDE\xAD"s;
    // Two data-after-NAK events in a row, one event packet at the first's tick 5 with the count 2:
    // 1 s + 666,666,666 ns + 999,999,000 ns carries a second.
    const auto event = "\x02\xF1\x53\x65\xC2\x82\xBC\x27\x05\0\0\0\x05\0\0\0\x81\x04\x02\0\0"s;
    EXPECT_EQ(out, header + packet + event);
}

} // namespace
} // namespace Wirelog
