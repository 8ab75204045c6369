// SPDX-License-Identifier: MIT
// The monitor against an established decoder on real captures: sigrok's I2C decoder gives the
// START/Sr/P/address/data/ACK-NAK sequence (data/sigrok/, made by scripts/sigrok_expected.py),
// and the monitor must give the same one, except where data/differences.tsv lists a departure
// with one of the reasons docs/busmonitor.md explains.
#include "busmonitor/CaptureMonitor.h"
#include "events/EventCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
using Tokens = std::vector<std::string>;

const fs::path kData = WIRELOG_TEST_DATA;

std::vector<std::vector<std::string>> TabRows(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string>& fields = rows.emplace_back();
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (line.back() == '\t')
            fields.emplace_back();
    }
    return rows;
}

std::string ReadText(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

Tokens Split(const std::string& text) {
    Tokens tokens;
    std::istringstream words(text);
    for (std::string word; words >> word;)
        tokens.push_back(word);
    return tokens;
}

std::string Hex(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

std::string Address(std::uint8_t value) {
    return (value & 1 ? "R" : "W") + Hex(static_cast<std::uint8_t>(value >> 1));
}

// The monitor's events in sigrok's terms; codes with no bus condition or byte of their own
// (monitor on, missing START, bus idle) give none.
void AddTokens(const MonitorEvent& e, Tokens& out) {
    const auto two = [&out](std::string a, std::string b) {
        out.push_back(std::move(a));
        out.push_back(std::move(b));
    };
    switch (e.code) {
    case TWI_START:
        out.push_back("S");
        break;
    case TWI_RESTART:
    case TWI_BAD_START:
        out.push_back("Sr");
        break;
    case TWI_STOP:
    case TWI_BAD_STOP:
        out.push_back("P");
        break;
    case TWI_ADDR_ACK:
        two(Address(e.value), "A");
        break;
    case TWI_ADDR_NAK:
        two(Address(e.value), "N");
        break;
    case TWI_DATA_ACK:
        two(Hex(e.value), "A");
        break;
    case TWI_DATA_NAK:
        two(Hex(e.value), "N");
        break;
    case TWI_DATA_AFTER_NAK:
        two("??", "?");
        break; // a byte whose value the module keeps back
    case TWI_ADDR_STOP:
        two(Address(e.value), "P");
        break;
    case TWI_ADDR_RESTART:
        two(Address(e.value), "Sr");
        break;
    case TWI_DATA_STOP:
        two(Hex(e.value), "P");
        break;
    case TWI_DATA_RESTART:
        two(Hex(e.value), "Sr");
        break;
    default:
        break;
    }
}

Tokens MonitorTokens(const CaptureSource& source) {
    CaptureMonitor monitor(source);
    Tokens tokens;
    std::vector<MonitorEvent> events;
    while (monitor.Next(events))
        for (const MonitorEvent& e : events)
            AddTokens(e, tokens);
    return tokens;
}

struct Edit {
    std::size_t at;
    Tokens removed, inserted;
};

// Applies the listed departures, last first so earlier positions stay valid; each must find
// exactly the tokens it says sigrok has there.
void ApplyEdits(std::vector<Edit> edits, Tokens& tokens) {
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at > b.at; });
    for (const Edit& edit : edits) {
        const auto at = tokens.begin() + static_cast<std::ptrdiff_t>(edit.at);
        ASSERT_LE(edit.at + edit.removed.size(), tokens.size()) << "edit at " << edit.at;
        ASSERT_TRUE(std::equal(edit.removed.begin(), edit.removed.end(), at))
            << "sigrok has other tokens at " << edit.at;
        tokens.insert(tokens.erase(at, at + static_cast<std::ptrdiff_t>(edit.removed.size())),
                      edit.inserted.begin(), edit.inserted.end());
    }
}

std::string Around(const Tokens& tokens, std::size_t at) {
    std::string text;
    for (std::size_t i = at < 8 ? 0 : at - 8; i < std::min(tokens.size(), at + 8); ++i)
        text += (i == at ? " [" : " ") + tokens[i] + (i == at ? "]" : "");
    return text;
}

TEST(SigrokAgreement, CapturesGiveSigroksSequenceButForTheListedDifferences) {
    const std::set<std::string> reasons = {"idle-start",  "address-byte", "ninth-clock",
                                           "same-sample", "after-nak",    "capture-end"};
    std::map<std::string, std::vector<Edit>> differences;
    for (const auto& row : TabRows(kData / "differences.tsv")) {
        ASSERT_EQ(row.size(), 5u);
        EXPECT_TRUE(reasons.contains(row[4])) << row[0] << ": unexplained reason " << row[4];
        differences[row[0]].push_back({std::stoul(row[1]), Split(row[2]), Split(row[3])});
    }
    const auto captures = TabRows(kData / "captures.tsv");
    ASSERT_GT(captures.size(), 80u);
    for (const auto& row : captures) {
        SCOPED_TRACE(row[0]);
        const fs::path sigrok = kData / "sigrok" / fs::path(row[0]).stem().concat(".txt");
        Tokens expected = Split(ReadText(sigrok));
        ApplyEdits(differences[row[0]], expected);
        differences.erase(row[0]);
        const Tokens actual = MonitorTokens({(kData / row[0]).string(), "", row[1], row[2], {}});
        const auto [a, e] =
            std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
        const auto at = static_cast<std::size_t>(a - actual.begin());
        EXPECT_TRUE(a == actual.end() && e == expected.end())
            << "from token " << at << " on\n  monitor:" << Around(actual, at)
            << "\n  sigrok: " << Around(expected, at);
    }
    for (const auto& [capture, edits] : differences)
        ADD_FAILURE() << "differences listed for a capture not checked: " << capture;
}

} // namespace
} // namespace Wirelog
