// SPDX-License-Identifier: MIT
#include "export/Transactions.h"

#include "events/EventCodes.h"

namespace Wirelog {

bool IsErrorCode(std::uint8_t code) {
    switch (code) {
    case TWI_MONITOR_ON:
    case TWI_START:
    case TWI_STOP:
    case TWI_BUS_IDLE:
    case TWI_RESTART:
    case TWI_ADDR_ACK:
    case TWI_ADDR_NAK:
    case TWI_DATA_ACK:
    case TWI_DATA_NAK:
        return false;
    default:
        return true;
    }
}

bool CarriesAddress(std::uint8_t code) {
    return code == TWI_ADDR_ACK || code == TWI_ADDR_NAK || code == TWI_ADDR_STOP ||
           code == TWI_ADDR_RESTART;
}

bool CarriesData(std::uint8_t code) {
    return code == TWI_DATA_ACK || code == TWI_DATA_NAK || code == TWI_DATA_STOP ||
           code == TWI_DATA_RESTART;
}

AckBit AckOf(std::uint8_t code) {
    if (code == TWI_ADDR_ACK || code == TWI_DATA_ACK)
        return AckBit::Ack;
    if (code == TWI_ADDR_NAK || code == TWI_DATA_NAK)
        return AckBit::Nak;
    return AckBit::Missing;
}

TransactionStep TransactionTracker::step(std::uint8_t code) {
    TransactionStep s;
    const bool wasOpen = open_;
    switch (code) {
    case TWI_START:
    case TWI_RESTART:
        s.endsBefore = s.endsAtEvent = wasOpen;
        s.opensWith = s.joins = true;
        break;
    case TWI_MONITOR_ON:
    case TWI_BUS_IDLE:
    case TWI_MISSING_START:
        s.endsBefore = wasOpen;
        s.standalone = true;
        break;
    case TWI_STOP:
        s.joins = s.endsAfter = wasOpen;
        s.standalone = !wasOpen;
        break;
    case TWI_ADDR_ACK:
    case TWI_ADDR_NAK:
    case TWI_DATA_ACK:
    case TWI_DATA_NAK:
        s.opensWith = !wasOpen;
        s.joins = true;
        break;
    case TWI_ADDR_STOP:
    case TWI_DATA_STOP:
        s.opensWith = !wasOpen;
        s.joins = s.endsAfter = true;
        break;
    case TWI_ADDR_RESTART:
    case TWI_DATA_RESTART:
        s.opensWith = !wasOpen;
        s.joins = s.endsAfter = s.opensAfter = true;
        break;
    case TWI_BAD_STOP:
        s.joins = s.endsAfter = wasOpen;
        s.standalone = !wasOpen;
        break;
    case TWI_BAD_START:
        s.joins = s.endsAfter = wasOpen;
        s.standalone = !wasOpen;
        s.opensAfter = true;
        break;
    default: // data after NAK, buffer error, codes the module does not send
        s.joins = wasOpen;
        s.standalone = !wasOpen;
        break;
    }
    open_ = s.opensAfter || (s.joins && !s.endsAfter);
    return s;
}

void TransactionGrouper::add(const TWIevent& event) {
    const TransactionStep s = tracker_.step(event.cmd);
    if (s.endsBefore) {
        if (s.endsAtEvent)
            current_.end = event.timer;
        close();
    }
    if (s.opensWith)
        openAt(event.timer);
    if (s.joins)
        join(event);
    if (s.standalone && IsErrorCode(event.cmd))
        sink_.error(event);
    if (s.endsAfter)
        close();
    if (s.opensAfter)
        openAt(event.timer);
}

void TransactionGrouper::finish() {
    if (tracker_.open())
        close();
    tracker_ = {};
}

void TransactionGrouper::openAt(std::int64_t time) {
    // Reuses the vectors' storage: no allocation per transaction once they have grown.
    current_.start = current_.end = time;
    current_.hasAddress = false;
    current_.addressByte = 0;
    current_.addressAck = AckBit::Missing;
    current_.data.clear();
    current_.dataAcks.clear();
    current_.errors.clear();
    current_.bytesNotHeld = current_.errorsNotHeld = 0;
}

void TransactionGrouper::join(const TWIevent& event) {
    current_.end = event.timer;
    if (CarriesAddress(event.cmd) && !current_.hasAddress && current_.data.empty()) {
        current_.hasAddress = true;
        current_.addressByte = event.data;
        current_.addressAck = AckOf(event.cmd);
    } else if (CarriesAddress(event.cmd) || CarriesData(event.cmd)) {
        // A second address byte in one transaction can only be a byte the module took for one;
        // it is kept as data so no byte goes missing.
        if (current_.data.size() < kMaxHeldBytes) {
            current_.data.push_back(event.data);
            current_.dataAcks.push_back(AckOf(event.cmd));
        } else {
            ++current_.bytesNotHeld;
        }
    }
    if (!IsErrorCode(event.cmd))
        return;
    std::vector<ErrorRun>& runs = current_.errors;
    if (!runs.empty() && runs.back().code == event.cmd && current_.errorsNotHeld == 0)
        ++runs.back().count;
    else if (runs.size() < kMaxHeldErrorRuns)
        runs.push_back({event.cmd, 1, event.timer});
    else
        ++current_.errorsNotHeld;
}

void TransactionGrouper::close() {
    if (keep_.keeps(current_))
        sink_.transaction(current_);
}

} // namespace Wirelog
