// SPDX-License-Identifier: MIT
#pragma once
// The log list: a list box that holds no lines of its own (LBS_NODATA), only their count, and
// draws each visible row from the behaviour's line store. A million lines cost it one count.
#include "decode/LogLines.h"
#include "win32/Handles.h"

#include <windows.h>

#include <cstddef>

namespace Wirelog::Win32 {

class LogList {
public:
    // The narrowest scroll width: lines can be scrolled sideways whenever the list is narrower.
    static constexpr int kScrollWidth = 600; // at 96 dots per inch

    explicit LogList(const LogLines& lines) : lines_(lines) {}

    // Creates the list box as child `id` of parent, with the extended styles it needs.
    HWND Create(HWND parent, int id);
    HWND Handle() const { return list_; }

    // "Lucida Sans Typewriter" 8 pt at the window's resolution; one row per font line.
    void SetResolution(UINT dpi);

    // The list now holds the store's lines; the longest is longestLine characters.
    void ShowCount(std::size_t longestLine);
    void ScrollToEnd();

    // WM_DRAWITEM for the list.
    void Draw(const DRAWITEMSTRUCT& item) const;

private:
    const LogLines& lines_;
    HWND list_ = nullptr;
    FontHandle font_;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    int charWidth_ = 0;
    int lineHeight_ = 0;
};

} // namespace Wirelog::Win32
