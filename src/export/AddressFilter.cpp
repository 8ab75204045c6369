// SPDX-License-Identifier: MIT
#include "export/AddressFilter.h"

namespace Wirelog {

void AddressFilter::write(const TWIevent& event, std::string& out) {
    const TransactionStep s = tracker_.step(event.cmd);
    if (s.endsBefore)
        endCurrent(out);
    if (s.opensWith)
        startDeciding();
    if (s.joins)
        joinCurrent(event, out);
    if (s.standalone)
        inner_->write(event, out);
    if (s.endsAfter)
        endCurrent(out);
    if (s.opensAfter)
        startDeciding();
}

void AddressFilter::finish(std::string& out) {
    endCurrent(out);
    tracker_ = {};
    inner_->finish(out);
}

void AddressFilter::startDeciding() {
    state_ = State::Deciding;
    heldCount_ = 0;
    heldError_ = false;
}

void AddressFilter::joinCurrent(const TWIevent& event, std::string& out) {
    switch (state_) {
    case State::Outside: // not reached: joining implies an open transaction
    case State::Keeping:
        inner_->write(event, out);
        return;
    case State::Dropping:
        return;
    case State::Deciding:
        break;
    }
    heldError_ = heldError_ || IsErrorCode(event.cmd);
    if (CarriesAddress(event.cmd)) {
        decide(keep_.addresses.test(event.data >> 1), out);
        joinCurrent(event, out);
    } else if (heldCount_ < kMaxHeld) {
        held_[heldCount_++] = event;
    } else {
        decide(true, out);
        inner_->write(event, out);
    }
}

void AddressFilter::decide(bool keep, std::string& out) {
    state_ = keep ? State::Keeping : State::Dropping;
    if (keep)
        for (std::size_t i = 0; i < heldCount_; ++i)
            inner_->write(held_[i], out);
    heldCount_ = 0;
}

void AddressFilter::endCurrent(std::string& out) {
    // A transaction that ends before its address byte is kept when it carried an error.
    if (state_ == State::Deciding)
        decide(heldError_ || keep_.keepsAll(), out);
    state_ = State::Outside;
}

} // namespace Wirelog
