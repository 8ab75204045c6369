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
#include <iterator>
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
    }
    return rows;
}

Tokens Words(std::istream&& in) {
    return {std::istream_iterator<std::string>(in), {}};
}

// The monitor's events in sigrok's terms: the byte they carry, as an address (a) or data (d),
// then the condition or ACK bit that ended it. Monitor on, missing START and bus idle give none;
// data after a NAK is a byte whose value and ACK bit the module keeps back.
void AddTokens(const MonitorEvent& e, Tokens& out) {
    static const std::map<int, std::pair<char, std::string>> kTokens = {
        {TWI_START, {0, "S"}},           {TWI_RESTART, {0, "Sr"}},
        {TWI_BAD_START, {0, "Sr"}},      {TWI_STOP, {0, "P"}},
        {TWI_BAD_STOP, {0, "P"}},        {TWI_ADDR_ACK, {'a', "A"}},
        {TWI_ADDR_NAK, {'a', "N"}},      {TWI_DATA_ACK, {'d', "A"}},
        {TWI_DATA_NAK, {'d', "N"}},      {TWI_ADDR_STOP, {'a', "P"}},
        {TWI_ADDR_RESTART, {'a', "Sr"}}, {TWI_DATA_STOP, {'d', "P"}},
        {TWI_DATA_RESTART, {'d', "Sr"}}, {TWI_DATA_AFTER_NAK, {'?', "?"}}};
    const auto found = kTokens.find(e.code);
    if (found == kTokens.end())
        return;
    const auto& [byte, then] = found->second;
    char text[8];
    if (byte == 'a')
        std::snprintf(text, sizeof text, "%c%02X", e.value & 1 ? 'R' : 'W', e.value >> 1);
    else
        std::snprintf(text, sizeof text, byte == 'd' ? "%02X" : "??", e.value);
    if (byte != 0)
        out.push_back(text);
    out.push_back(then);
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
#ifndef WIRELOG_HAVE_LIBZIP
    GTEST_SKIP() << "the captures are sigrok sessions, which this build cannot read";
#endif
    const std::set<std::string> reasons = {"idle-start",  "address-byte", "ninth-clock",
                                           "same-sample", "after-nak",    "capture-end"};
    std::map<std::string, std::vector<Edit>> differences;
    for (const auto& row : TabRows(kData / "differences.tsv")) {
        ASSERT_EQ(row.size(), 5u);
        EXPECT_TRUE(reasons.contains(row[4])) << row[0] << ": unexplained reason " << row[4];
        differences[row[0]].push_back({std::stoul(row[1]), Words(std::istringstream(row[2])),
                                       Words(std::istringstream(row[3]))});
    }
    const auto captures = TabRows(kData / "captures.tsv");
    ASSERT_GT(captures.size(), 80u);
    for (const auto& row : captures) {
        SCOPED_TRACE(row[0]);
        Tokens expected =
            Words(std::ifstream(kData / "sigrok" / fs::path(row[0]).stem().concat(".txt")));
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
