// SPDX-License-Identifier: MIT
#include "SimConfig.h"

#include <charconv>
#include <cstdio>

namespace Wirelog::d2xx {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t begin = 0;
    while (true) {
        const std::size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end - begin));
        if (end == std::string_view::npos) {
            return parts;
        }
        begin = end + 1;
    }
}

template <typename Number> bool ParseNumber(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc{} && result.ptr == end;
}

// One fault key; false when the key is not a fault key or its value is bad.
bool ApplyFault(std::string_view key, std::string_view value, SimFaults& faults) {
    if (key == "open") {
        faults.openFails = true;
        return value == "fail";
    }
    if (key == "status") {
        faults.statusFails = true;
        return value == "fail";
    }
    if (key == "read") {
        if (value == "fail") {
            faults.read = ReadFault::Fail;
        } else if (value == "half") {
            faults.read = ReadFault::Half;
        } else if (value == "zero") {
            faults.read = ReadFault::Zero;
        } else if (value == "block") {
            faults.read = ReadFault::Block;
        } else {
            return false;
        }
        return true;
    }
    if (key == "block_ms") {
        return ParseNumber(value, faults.blockMilliseconds);
    }
    if (key == "unplug") {
        std::uint64_t bytes = 0;
        if (!ParseNumber(value, bytes)) {
            return false;
        }
        faults.unplugAfterBytes = bytes;
        return true;
    }
    return false;
}

bool ApplyDeviceKey(std::string_view key, std::string_view value, SimDeviceConfig& device) {
    if (key == "desc") {
        device.description = value;
    } else if (key == "serial") {
        device.serial = value;
    } else if (key == "stream") {
        if (value == "demo") {
            device.stream = StreamKind::Demo;
        } else if (value == "idle") {
            device.stream = StreamKind::Idle;
        } else if (value == "replay") {
            device.stream = StreamKind::Replay;
        } else {
            return false;
        }
    } else if (key == "file") {
        device.file = value;
        device.stream = StreamKind::Replay;
    } else if (key == "scl") {
        device.scl = value;
    } else if (key == "sda") {
        device.sda = value;
    } else if (key == "rate") {
        // Up to 1 GB/s: far beyond any module, and the pacing arithmetic stays within 64 bits.
        return ParseNumber(value, device.bytesPerSecond) && device.bytesPerSecond > 0 &&
               device.bytesPerSecond <= 1'000'000'000;
    } else {
        return ApplyFault(key, value, device.faults);
    }
    return true;
}

bool SplitPair(std::string_view pair, std::string_view& key, std::string_view& value) {
    const std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        return false;
    }
    key = pair.substr(0, equals);
    value = pair.substr(equals + 1);
    return true;
}

std::optional<SimDeviceConfig> ParseDevice(std::string_view options, std::size_t position) {
    SimDeviceConfig device;
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%05zu", position + 1);
    device.serial = serial;
    if (options.empty()) {
        return device;
    }
    for (std::string_view pair : Split(options, ',')) {
        std::string_view key;
        std::string_view value;
        if (!SplitPair(pair, key, value) || !ApplyDeviceKey(key, value, device)) {
            return std::nullopt;
        }
    }
    if (device.stream == StreamKind::Replay && device.file.empty()) {
        return std::nullopt;
    }
    return device;
}

std::optional<SimConfig> ParseClauses(std::string_view text) {
    SimConfig config;
    for (std::string_view clause : Split(text, ';')) {
        if (clause.empty()) {
            continue;
        }
        if (clause == "hw:off") {
            config.hideHardware = true;
        } else if (clause.substr(0, 4) == "dev:") {
            auto device = ParseDevice(clause.substr(4), config.devices.size());
            if (!device) {
                return std::nullopt;
            }
            config.devices.push_back(std::move(*device));
        } else {
            return std::nullopt;
        }
    }
    return config;
}

} // namespace

std::optional<SimConfig> ParseSimConfig(std::string_view text) {
    SimConfig config;
    if (text.empty()) {
        return config;
    }
    if (text == "demo") {
        config.devices.push_back(*ParseDevice({}, 0));
        return config;
    }
    if (text.substr(0, 4) == "dev:" || text.substr(0, 3) == "hw:") {
        return ParseClauses(text);
    }
    SimDeviceConfig replay = *ParseDevice({}, 0);
    replay.stream = StreamKind::Replay;
    replay.file = text;
    config.devices.push_back(std::move(replay));
    return config;
}

bool ParseSimFaults(std::string_view text, SimFaults& faults) {
    SimFaults parsed;
    if (!text.empty()) {
        for (std::string_view pair : Split(text, ',')) {
            std::string_view key;
            std::string_view value;
            if (!SplitPair(pair, key, value) || !ApplyFault(key, value, parsed)) {
                return false;
            }
        }
    }
    faults = parsed;
    return true;
}

} // namespace Wirelog::d2xx
