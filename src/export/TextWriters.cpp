// SPDX-License-Identifier: MIT
#include "export/TextWriters.h"

#include "decode/ViewTWI.h"
#include "events/EventCodes.h"
#include "export/EventNames.h"

#include <charconv>

namespace Wirelog {
namespace {

std::string_view AckText(AckBit ack) {
    switch (ack) {
    case AckBit::Ack:
        return "ACK";
    case AckBit::Nak:
        return "NAK";
    case AckBit::Missing:
        break;
    }
    return "-";
}

std::string_view AckJson(AckBit ack) {
    switch (ack) {
    case AckBit::Ack:
        return "true";
    case AckBit::Nak:
        return "false";
    case AckBit::Missing:
        break;
    }
    return "null";
}

void AppendNumber(std::string& out, std::uint64_t value) {
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

} // namespace

void GroupingWriter::write(const TWIevent& event, std::string& out) {
    out_ = &out;
    grouper_.add(event);
}

void GroupingWriter::finish(std::string& out) {
    out_ = &out;
    grouper_.finish();
}

void GroupingWriter::appendSeconds(std::string& out, std::int64_t ticks) const {
    AppendSeconds(out, ticks, clock_.ticksPerSecond);
}

void TransactionsWriter::transaction(const Transaction& t) {
    std::string& line = out();
    appendSeconds(line, t.start);
    line += ' ';
    appendSeconds(line, t.end - t.start);
    if (t.hasAddress) {
        line += ' ';
        AppendHexByte(line, t.address());
        line += t.read() ? " R " : " W ";
        line += AckText(t.addressAck);
    } else {
        line += " -- -- --";
    }
    for (std::size_t i = 0; i < t.data.size(); ++i) {
        line += ' ';
        AppendHexByte(line, t.data[i]);
        line += ' ';
        line += AckText(t.dataAcks[i]);
    }
    if (t.bytesNotHeld != 0) {
        line += " (";
        AppendNumber(line, t.bytesNotHeld);
        line += " more bytes)";
    }
    for (const ErrorRun& run : t.errors) {
        line += " error ";
        line += EventCodeName(run.code);
        if (run.count > 1) {
            line += " x";
            AppendNumber(line, run.count);
        }
    }
    if (t.errorsNotHeld != 0) {
        line += " (";
        AppendNumber(line, t.errorsNotHeld);
        line += " more errors)";
    }
    line += '\n';
}

void TransactionsWriter::error(const TWIevent& event) {
    std::string& line = out();
    appendSeconds(line, event.timer);
    line += " error ";
    line += EventCodeName(event.cmd);
    line += '\n';
}

void JsonlWriter::transaction(const Transaction& t) {
    std::string& line = out();
    line += "{\"time\":";
    appendSeconds(line, t.start);
    line += ",\"duration\":";
    appendSeconds(line, t.end - t.start);
    if (t.hasAddress) {
        line += ",\"address\":";
        AppendNumber(line, t.address());
    }
    line += t.read() ? ",\"read\":true,\"data\":[" : ",\"read\":false,\"data\":[";
    for (std::size_t i = 0; i < t.data.size(); ++i) {
        if (i != 0)
            line += ',';
        AppendNumber(line, t.data[i]);
    }
    line += "],\"ack\":[";
    if (t.hasAddress)
        line += AckJson(t.addressAck);
    for (std::size_t i = 0; i < t.dataAcks.size(); ++i) {
        if (i != 0 || t.hasAddress)
            line += ',';
        line += AckJson(t.dataAcks[i]);
    }
    line += "],\"errors\":[";
    // Runs are listed name by name, up to a bound per line; the rest are counted.
    std::uint64_t listed = 0, notListed = t.errorsNotHeld;
    for (const ErrorRun& run : t.errors) {
        for (std::uint64_t i = 0; i < run.count; ++i) {
            if (listed == kMaxJsonErrors) {
                notListed += run.count - i;
                break;
            }
            line += listed++ == 0 ? "\"" : ",\"";
            line += EventCodeName(run.code);
            line += '"';
        }
    }
    line += ']';
    if (t.bytesNotHeld != 0) {
        line += ",\"bytes_not_held\":";
        AppendNumber(line, t.bytesNotHeld);
    }
    if (notListed != 0) {
        line += ",\"errors_not_held\":";
        AppendNumber(line, notListed);
    }
    line += "}\n";
}

void JsonlWriter::error(const TWIevent& event) {
    std::string& line = out();
    line += "{\"time\":";
    appendSeconds(line, event.timer);
    line += ",\"duration\":0.000000000,\"read\":false,\"data\":[],\"ack\":[],\"errors\":[\"";
    line += EventCodeName(event.cmd);
    line += "\"]}\n";
}

void AppendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void CsvWriter::begin(std::string& out) {
    out += "time,code,name,value,address,direction,ack,text\r\n";
}

void CsvWriter::write(const TWIevent& event, std::string& out) {
    AppendSeconds(out, event.timer, clock_.ticksPerSecond);
    out += ',';
    AppendNumber(out, event.cmd);
    out += ',';
    out += EventCodeName(event.cmd);
    out += ',';
    if (TakesValueByte(event.cmd) || event.cmd == TWI_BUFFER_ERROR)
        AppendHexByte(out, event.data);
    out += ',';
    if (CarriesAddress(event.cmd)) {
        AppendHexByte(out, static_cast<std::uint8_t>(event.data >> 1));
        out += event.data & 1 ? ",R," : ",W,";
    } else {
        out += ",,";
    }
    if (CarriesAddress(event.cmd) || CarriesData(event.cmd))
        out += AckText(AckOf(event.cmd));
    out += ',';
    char text[kMaxViewTWILength];
    AppendCsvField(out, {text, FormatViewTWI(text, event.cmd, event.data, event.timer)});
    out += "\r\n";
}

} // namespace Wirelog
