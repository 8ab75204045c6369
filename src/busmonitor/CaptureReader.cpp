// SPDX-License-Identifier: MIT
#include "busmonitor/CaptureReader.h"

#include "busmonitor/CaptureFormats.h"

#include <algorithm>
#include <charconv>

namespace Wirelog {
namespace {

using namespace CaptureFormats;

struct Format {
    std::string_view name;
    bool (*looksLike)(std::string_view head);
    std::unique_ptr<CaptureReader> (*open)(InputFile&& file);
};

// Probed in this order: the zip signature and VCD's leading '$' are certain, CSV is whatever
// text is left.
constexpr Format kFormats[] = {
    {"sr", LooksLikeSr, OpenSr},
    {"vcd", LooksLikeVcd, OpenVcd},
    {"csv", LooksLikeCsv, OpenCsv},
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
}

std::string ChannelList(const std::vector<std::string>& channels) {
    constexpr std::size_t kShown = 16;
    std::string list;
    for (std::size_t i = 0; i < channels.size() && i < kShown; ++i) {
        list += (i == 0 ? "" : ", ") + Printable(channels[i]);
    }
    if (channels.size() > kShown) {
        list += ", ... (" + std::to_string(channels.size()) + " in all)";
    }
    return list;
}

} // namespace

std::unique_ptr<CaptureReader> OpenCapture(const std::string& path, std::string_view format) {
    InputFile file(path);
    const std::string_view head = file.Head();
    if (!format.empty()) {
        for (const Format& f : kFormats) {
            if (f.name == format) {
                return f.open(std::move(file));
            }
        }
        Fail(path, "unknown capture format " + Quote(format) + " (sr, vcd or csv)");
    }
    if (head.empty()) {
        Fail(path, "is empty");
    }
    for (const Format& f : kFormats) {
        if (f.looksLike(head)) {
            return f.open(std::move(file));
        }
    }
    Fail(path, "is no capture of a known format (sigrok session, VCD or CSV)");
}

std::optional<std::size_t> FindChannelNamed(const std::vector<std::string>& channels,
                                            std::string_view name) {
    auto found = std::find(channels.begin(), channels.end(), name);
    if (found == channels.end()) {
        found = std::find_if(channels.begin(), channels.end(), [&](const std::string& channel) {
            return EqualsIgnoringCase(channel, name);
        });
    }
    if (found == channels.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - channels.begin());
}

std::size_t ResolveChannel(const CaptureInfo& info, std::string_view nameOrIndex,
                           const std::string& path) {
    const auto& channels = info.channels;
    if (const auto named = FindChannelNamed(channels, nameOrIndex)) {
        return *named;
    }
    std::size_t index = 0;
    const char* end = nameOrIndex.data() + nameOrIndex.size();
    const auto [stop, error] = std::from_chars(nameOrIndex.data(), end, index);
    if (!nameOrIndex.empty() && error == std::errc() && stop == end && index < channels.size()) {
        return index;
    }
    Fail(path,
         "has no channel " + Quote(nameOrIndex) + " (channels: " + ChannelList(channels) + ")");
}

} // namespace Wirelog
