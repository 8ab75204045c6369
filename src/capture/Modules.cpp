// SPDX-License-Identifier: MIT
#include "capture/Modules.h"

#include <cstring>
#include <limits>

namespace Wirelog {

std::atomic<FT_HANDLE> handle{nullptr};
NotifyEvent* hEvent = nullptr;
const mode Modes[1] = {{"I2C analyzer", 0x01, 0xFE, 1}};

namespace {

// The adapter fills the buffer; the last byte is kept zero so that a library writing all 64
// bytes without a terminator cannot make us read past it.
std::string_view DeviceText(const char (&buffer)[kDeviceTextBytes + 1]) {
    return {buffer, std::strlen(buffer)};
}

// Adapter faults that surface as C++ exceptions count as a failed call, as in the capture;
// the listing runs from the window's slots, which must not let one through.
FT_STATUS ListGuarded(Adapter& adapter, PVOID arg1, PVOID arg2, DWORD flags) {
    try {
        return adapter.ListDevices(arg1, arg2, flags);
    } catch (...) {
        return FT_OTHER_ERROR;
    }
}

PVOID IndexArg(std::uint32_t index) {
    return reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(index));
}

} // namespace

std::string ModuleEntry(std::uint32_t index, std::string_view serial) {
    std::string entry = std::to_string(index);
    entry += " (s/n ";
    entry += serial;
    entry += ')';
    return entry;
}

ModuleList ListModules(Adapter& adapter) {
    ModuleList list;
    DWORD count = 0;
    list.countStatus = ListGuarded(adapter, &count, nullptr, FT_LIST_NUMBER_ONLY);
    if (list.countStatus != FT_OK)
        return list;
    char buffer[kDeviceTextBytes + 1] = {};
    for (std::uint32_t index = 0; index < count; ++index) {
        if (ListGuarded(adapter, IndexArg(index), buffer,
                        FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) != FT_OK)
            continue;
        buffer[kDeviceTextBytes] = '\0';
        if (DeviceText(buffer) != kModuleDescription)
            continue;
        // The serial's status is not tested: the entry shows the buffer as it then stands.
        ListGuarded(adapter, IndexArg(index), buffer, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
        buffer[kDeviceTextBytes] = '\0';
        list.entries.push_back(ModuleEntry(index, DeviceText(buffer)));
    }
    return list;
}

std::optional<int> LeadingDeviceIndex(std::string_view entry) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (char ch : entry) {
        if (ch < '0' || ch > '9')
            break;
        value = value * 10 + (ch - '0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    return static_cast<int>(value);
}

} // namespace Wirelog
