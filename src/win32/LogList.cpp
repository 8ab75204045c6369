// SPDX-License-Identifier: MIT
#include "win32/LogList.h"

#include <algorithm>

namespace Wirelog::Win32 {

namespace {

constexpr int kFontPoints = 8;
constexpr int kTextIndent = 2;

} // namespace

HWND LogList::Create(HWND parent, int id) {
    // Multiple selection where a click toggles a line; the vertical scroll bar always shown;
    // never a tab stop.
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NODATA |
                        LBS_OWNERDRAWFIXED | LBS_MULTIPLESEL | LBS_DISABLENOSCROLL |
                        LBS_NOINTEGRALHEIGHT;
    list_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"", style, 0, 0, 0, 0, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            GetModuleHandleW(nullptr), nullptr);
    // The input method is of no use in a list of log lines.
    ImmAssociateContextEx(list_, nullptr, 0);
    return list_;
}

void LogList::SetResolution(UINT dpi) {
    dpi_ = dpi;
    LOGFONTW face{};
    face.lfHeight = -MulDiv(kFontPoints, static_cast<int>(dpi), 72);
    face.lfWeight = FW_NORMAL;
    face.lfCharSet = ANSI_CHARSET;
    // Where Lucida Sans Typewriter is missing, the font mapper takes another fixed-pitch face.
    face.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpynW(face.lfFaceName, L"Lucida Sans Typewriter", LF_FACESIZE);
    font_.reset(CreateFontIndirectW(&face));
    SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);

    const WindowDC dc(list_);
    const SelectedObject selected(dc.get(), font_.get());
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc.get(), &metrics);
    charWidth_ = metrics.tmAveCharWidth;
    lineHeight_ = metrics.tmHeight;
    SendMessageW(list_, LB_SETITEMHEIGHT, 0, lineHeight_);
}

void LogList::ShowCount(std::size_t longestLine) {
    SendMessageW(list_, LB_SETCOUNT, lines_.size(), 0);
    // The longest decoder lines are wider than the narrowest scroll width.
    const int minimum = MulDiv(kScrollWidth, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI);
    const int needed = static_cast<int>(longestLine) * charWidth_ + 2 * kTextIndent;
    SendMessageW(list_, LB_SETHORIZONTALEXTENT, std::max(minimum, needed), 0);
}

void LogList::ScrollToEnd() {
    // The list box keeps the last full page in view.
    if (!lines_.empty())
        SendMessageW(list_, LB_SETTOPINDEX, lines_.size() - 1, 0);
}

void LogList::Draw(const DRAWITEMSTRUCT& item) const {
    if (item.itemID == static_cast<UINT>(-1) || item.itemID >= lines_.size())
        return;
    if (item.itemAction == ODA_FOCUS) {
        DrawFocusRect(item.hDC, &item.rcItem);
        return;
    }
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    SetBkColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    // Every line is ASCII, so the store's bytes are drawn as they are.
    const std::string_view line = lines_[item.itemID];
    ExtTextOutA(item.hDC, item.rcItem.left + kTextIndent, item.rcItem.top, ETO_OPAQUE, &item.rcItem,
                line.data(), static_cast<UINT>(line.size()), nullptr);
    if ((item.itemState & ODS_FOCUS) != 0)
        DrawFocusRect(item.hDC, &item.rcItem);
}

} // namespace Wirelog::Win32
