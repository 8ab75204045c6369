// SPDX-License-Identifier: MIT
#pragma once
// The text export formats: transactions (one line each), CSV (one row per event) and JSON lines
// (one object per transaction). Lines end in LF, but CSV's rows in CR LF as RFC 4180 has it.
#include "decode/EventWriter.h"
#include "export/Transactions.h"

#include <string>

namespace Wirelog {

// Writers built on the grouper: each event goes to it, each transaction or lone error it hands
// back is appended to the string the current call writes to.
class GroupingWriter : public EventWriter, protected TransactionSink {
public:
    void write(const TWIevent& event, std::string& out) final;
    void finish(std::string& out) final;
    bool atBoundary() const final { return !grouper_.open(); }

protected:
    GroupingWriter(const CaptureClock& clock, AddressSet keep)
        : clock_(clock), grouper_(*this, keep) {}
    void appendSeconds(std::string& out, std::int64_t ticks) const;
    std::string& out() { return *out_; }

private:
    CaptureClock clock_;
    TransactionGrouper grouper_;
    std::string* out_ = nullptr;
};

// "<start> <duration> <address> <R|W> <ACK|NAK|-> (<byte> <ACK|NAK|->)... (error <name> [xN])..."
// with "--" for the address, direction and its ACK bit when no address byte was completed, and
// "<time> error <name>" for an error outside any transaction.
class TransactionsWriter final : public GroupingWriter {
public:
    explicit TransactionsWriter(const CaptureClock& clock, AddressSet keep = {})
        : GroupingWriter(clock, keep) {}

private:
    void transaction(const Transaction& t) override;
    void error(const TWIevent& event) override;
};

// {"time":..,"duration":..,"address":..,"read":..,"data":[..],"ack":[..],"errors":[..]}
class JsonlWriter final : public GroupingWriter {
public:
    // Error names one line lists at most.
    static constexpr std::uint64_t kMaxJsonErrors = 1024;

    explicit JsonlWriter(const CaptureClock& clock, AddressSet keep = {})
        : GroupingWriter(clock, keep) {}

private:
    void transaction(const Transaction& t) override;
    void error(const TWIevent& event) override;
};

// time,code,name,value,address,direction,ack,text; the text is the log's line for the event,
// from the same decoder (so a START's gap depends on the events written before it).
class CsvWriter final : public EventWriter {
public:
    explicit CsvWriter(const CaptureClock& clock) : clock_(clock) {}
    void begin(std::string& out) override;
    void write(const TWIevent& event, std::string& out) override;

private:
    CaptureClock clock_;
};

// Appends `field` to out as one RFC 4180 field: quoted, quotes doubled, when it holds a comma,
// a quote, CR or LF.
void AppendCsvField(std::string& out, std::string_view field);

} // namespace Wirelog
