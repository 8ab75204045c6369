// SPDX-License-Identifier: MIT
#pragma once
// The address filter for the formats that write events one by one (the log, CSV): passes the
// events of the transactions to the chosen addresses, every event outside a transaction, and
// drops the rest. A transaction's events are held from its START until its address byte
// decides, a handful at most.
#include "decode/EventWriter.h"
#include "export/Transactions.h"

#include <array>
#include <cstddef>
#include <memory>

namespace Wirelog {

class AddressFilter final : public EventWriter {
public:
    AddressFilter(std::unique_ptr<EventWriter> inner, AddressSet keep)
        : inner_(std::move(inner)), keep_(keep) {}

    void begin(std::string& out) override { inner_->begin(out); }
    void write(const TWIevent& event, std::string& out) override;
    void finish(std::string& out) override;
    bool atBoundary() const override { return !tracker_.open() && inner_->atBoundary(); }

private:
    enum class State { Outside, Deciding, Keeping, Dropping };
    // Events held before the address decides; past this the transaction is kept undecided.
    static constexpr std::size_t kMaxHeld = 8;

    void startDeciding();
    void joinCurrent(const TWIevent& event, std::string& out);
    void decide(bool keep, std::string& out);
    void endCurrent(std::string& out);

    std::unique_ptr<EventWriter> inner_;
    AddressSet keep_;
    TransactionTracker tracker_;
    State state_ = State::Outside;
    std::array<TWIevent, kMaxHeld> held_{};
    std::size_t heldCount_ = 0;
    bool heldError_ = false;
};

} // namespace Wirelog
