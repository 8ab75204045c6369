// SPDX-License-Identifier: MIT
#pragma once
// Bus events grouped into transactions: from a START or repeated START up to the next STOP or
// repeated START, one address byte and its data bytes in between. The module has already
// classified the bus, so an event's place in a transaction follows from its code alone; the
// grouper only tracks whether a transaction is open.
//
// Where each code goes:
//   START, repeated START         end the open transaction there and open the next
//   STOP                          ends the open transaction
//   address and data bytes        join the open one (or open one, without a START, if none is)
//   STOP inside a byte, address or data byte + STOP without ACK bit
//                                 join the open transaction as an error and end it
//   START inside a byte, address or data byte + repeated START without ACK bit
//                                 join the open transaction as an error, end it and open the next
//   data after NAK, buffer error  join the open transaction as an error
//   missing START                 ends the open transaction; an error of its own
//   monitor on, bus idle          end the open transaction; not part of any
// An error that finds no transaction open stands on its own.
#include "events/EventBuffer.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Wirelog {

// What one event does to the transaction that is open.
struct TransactionStep {
    bool endsBefore = false;  // the open transaction ended before this event
    bool endsAtEvent = false; // ... and its end time is this event's (a START or repeated START)
    bool joins = false;       // the event belongs to the open transaction (opened for it if needed)
    bool opensWith = false;   // the event opens a transaction it belongs to
    bool endsAfter = false;   // the transaction it joined ends with it
    bool opensAfter = false;  // a transaction opens after it, at its time
    bool standalone = false;  // the event belongs to no transaction
};

// Whether a code reports a fault on the bus or in the module's stream.
bool IsErrorCode(std::uint8_t code);
// Whether a code carries an address byte, a data byte, and its ACK bit.
bool CarriesAddress(std::uint8_t code);
bool CarriesData(std::uint8_t code);
enum class AckBit : std::uint8_t { Ack, Nak, Missing };
AckBit AckOf(std::uint8_t code);

// Tracks whether a transaction is open and says what each event does to it.
class TransactionTracker {
public:
    TransactionStep step(std::uint8_t code);
    bool open() const { return open_; }

private:
    bool open_ = false;
};

// One error, or the same error repeated back to back (a NAKed read the master goes on clocking
// gives a data-after-NAK per byte).
struct ErrorRun {
    std::uint8_t code = 0;
    std::uint64_t count = 0;
    std::int64_t time = 0; // of the first
};

struct Transaction {
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool hasAddress = false;
    std::uint8_t addressByte = 0; // as on the bus: the 7-bit address and the read bit
    AckBit addressAck = AckBit::Missing;
    std::vector<std::uint8_t> data;
    std::vector<AckBit> dataAcks;
    // Data bytes past what one transaction holds: counted, not kept.
    std::uint64_t bytesNotHeld = 0;
    std::vector<ErrorRun> errors;    // in order, as many runs as one transaction holds
    std::uint64_t errorsNotHeld = 0; // errors past the last run held

    bool read() const { return (addressByte & 1) != 0; }
    std::uint8_t address() const { return static_cast<std::uint8_t>(addressByte >> 1); }
};

// The 7-bit addresses an export keeps; keeps everything while none is named.
struct AddressSet {
    std::bitset<128> addresses;
    bool keepsAll() const { return addresses.none(); }
    // A transaction without an address byte is kept only when it carries an error, as every
    // error is.
    bool keeps(const Transaction& t) const {
        return keepsAll() || (t.hasAddress ? addresses.test(t.address()) : !t.errors.empty());
    }
};

// What a grouper hands on.
class TransactionSink {
public:
    virtual ~TransactionSink() = default;
    virtual void transaction(const Transaction& t) = 0;
    // An error event outside any transaction.
    virtual void error(const TWIevent& event) = 0;
};

// Groups events into transactions, holding only the open one, whose bytes and errors are capped
// so that memory stays bounded however long a transaction runs.
class TransactionGrouper {
public:
    static constexpr std::size_t kMaxHeldBytes = 262'144;
    static constexpr std::size_t kMaxHeldErrorRuns = 256;

    explicit TransactionGrouper(TransactionSink& sink, AddressSet keep = {})
        : sink_(sink), keep_(keep) {}

    void add(const TWIevent& event);
    // The capture ended: hands on the open transaction.
    void finish();
    bool open() const { return tracker_.open(); }

private:
    void openAt(std::int64_t time);
    void join(const TWIevent& event);
    void close();

    TransactionSink& sink_;
    AddressSet keep_;
    TransactionTracker tracker_;
    Transaction current_;
};

} // namespace Wirelog
