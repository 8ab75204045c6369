// SPDX-License-Identifier: MIT
#pragma once
// The small modal dialog that asks which of a logic capture's channels carry SCL and SDA: two
// drop-down lists of the channel names, OK and Cancel. Built from a template in memory, so the
// program needs no dialog resource; run through the desktop's dialog seam.
#include "win32/Desktop.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Wirelog::Win32 {

// The drop-down lists' control identifiers.
inline constexpr int kSclChannelList = 1001;
inline constexpr int kSdaChannelList = 1002;

// The positions of the SCL and SDA channels the user confirmed, or nothing when cancelled.
std::optional<std::pair<std::size_t, std::size_t>>
AskChannels(const Desktop& desktop, HWND owner, const std::wstring& fileName,
            const std::vector<std::wstring>& channels);

} // namespace Wirelog::Win32
