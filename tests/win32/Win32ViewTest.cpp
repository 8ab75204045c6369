// SPDX-License-Identifier: MIT
// What the Win32 window draws and forwards: its geometry at the font's cell and on resizing,
// the tab order, the C and S keys seen before the focused control, a capture's events in the
// virtual log list and the save dialog's set-up.
#include "Win32TestSupport.h"
#include "form/Design.h"

#include <cmath>

namespace Wirelog::Win32::testing {
namespace {

const std::vector<std::string> kCaptureLines{
    "*** I2C Monitoring activated, waiting for idle bus... ***", "", "START (valid)",
    "Address + Write + ACK, addr = 0x50", "STOP (*** BUS IS IDLE ***)"};

class Win32ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.Configure("hw:off;dev:stream=idle");
        _isRunning = true;
        const auto library = std::filesystem::absolute(test::kAdapterLibraryPath);
        form = std::make_unique<Form1View>(SupportLibraryDeployment{library.parent_path(), {}},
                                           desktop.Seam());
        form->Load();
    }
    HWND Control(std::string_view name) const { return form->Control(name); }
    void Click(std::string_view name) { SendMessageW(Control(name), BM_CLICK, 0, 0); }
    // A key press as the user makes it, to the control with the focus.
    void Press(int key, BYTE modifier = 0) {
        BYTE keys[256]{};
        keys[modifier] = 0x80;
        SetKeyboardState(keys);
        const UINT kind = modifier == VK_MENU ? WM_SYSKEYDOWN : WM_KEYDOWN;
        MSG message{GetFocus(), kind, static_cast<WPARAM>(key), 1, 0, {}};
        form->Dispatch(message);
        keys[modifier] = 0;
        SetKeyboardState(keys);
    }
    LRESULT Log(UINT message, WPARAM w = 0, LPARAM l = 0) const {
        return SendMessageW(Control("listBox1"), message, w, l);
    }
    RECT Place(std::string_view name) const {
        RECT place{};
        GetWindowRect(Control(name), &place);
        MapWindowPoints(HWND_DESKTOP, form->Window(), reinterpret_cast<POINT*>(&place), 2);
        return place;
    }
    void Capture(const std::vector<std::uint8_t>& bytes, LRESULT lines) {
        ASSERT_TRUE(sim.Inject(0, bytes));
        ASSERT_TRUE(PumpUntil(*form, [&] { return Log(LB_GETCOUNT) == lines; }));
    }

    test::SimControl sim;
    RecordedDesktop desktop;
    std::unique_ptr<Form1View> form;
};

// The shown controls at the design cell; the log list last. Controls sized to their caption
// are only placed.
const std::pair<const char*, DesignRect> kShown[] = {
    {"label2", {12, 15, 67, 21}},      {"bscan", {106, 12, 57, 20}},
    {"lbDevices", {14, 46, 149, 68}},  {"btnStartStop", {304, 12, 60, 20}},
    {"cbAutoScroll", {380, 12, 0, 0}}, {"label1", {500, 111, 57, 21}},
    {"bSave", {564, 106, 77, 23}},     {"label4", {11, 117, 0, 0}},
    {"listBox1", {16, 137, 627, 124}},
};

DesignCell MeasuredCell(HWND control) {
    const WindowDC dc(control);
    const SelectedObject font(dc.get(),
                              reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE letters{};
    GetTextExtentPoint32W(dc.get(), L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", 52,
                          &letters);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc.get(), &metrics);
    return {static_cast<int>(std::lround(letters.cx / 52.0)), static_cast<int>(metrics.tmHeight)};
}

// Every shown control where the design puts it at the font's cell, none overlapping another,
// the others hidden; resizing moves only the log list's right and bottom edges; Tab visits the
// five input controls in order; the list scrolls sideways to 600 pixels at least and always
// shows its vertical scroll bar.
TEST_F(Win32ViewTest, ControlsFollowTheScaledDesignAndOnlyTheLogListFollowsTheWindowsSize) {
    const DesignScale scale(MeasuredCell(Control("bscan")));
    RECT client{}, frame{};
    GetClientRect(form->Window(), &client);
    EXPECT_EQ(std::pair(client.right, client.bottom),
              std::pair(LONG{scale.X(657)}, LONG{scale.Y(302)}));
    EXPECT_EQ(
        std::ranges::count_if(kControls, [&](auto& c) { return IsWindowVisible(Control(c.name)); }),
        std::ssize(kShown));
    std::vector<RECT> before;
    for (const auto& [name, design] : kShown) {
        const RECT place = Place(name);
        const DesignRect s = scale.Rect(design);
        const RECT expected{s.x, s.y, design.width != 0 ? s.x + s.width : place.right,
                            design.width != 0 ? s.y + s.height : place.bottom};
        EXPECT_TRUE(EqualRect(&place, &expected)) << name;
        for (RECT overlap{}; const RECT& other : before)
            EXPECT_FALSE(IntersectRect(&overlap, &place, &other)) << name;
        before.push_back(place);
    }
    GetWindowRect(form->Window(), &frame);
    for (const SIZE change : {SIZE{200, 100}, SIZE{-200, -40}}) {
        SetWindowPos(form->Window(), nullptr, 0, 0, frame.right - frame.left + change.cx,
                     frame.bottom - frame.top + change.cy, SWP_NOMOVE | SWP_NOZORDER);
        std::vector<RECT> after;
        for (const auto& [name, design] : kShown)
            after.push_back(Place(name));
        // The log list: its margins to the window's edges.
        after.back().right -= change.cx;
        after.back().bottom -= change.cy;
        EXPECT_TRUE(std::ranges::equal(after, before, [](auto& a, auto& b) {
            return EqualRect(&a, &b) != 0;
        })) << change.cx;
    }
    std::vector<HWND> tabbed; // SCAN has the focus first; Tab never reaches the log list
    for (int step = 0; step < 6; ++step, Press(VK_TAB))
        tabbed.push_back(GetFocus());
    EXPECT_EQ(tabbed,
              (std::vector<HWND>{Control("bscan"), Control("lbDevices"), Control("btnStartStop"),
                                 Control("cbAutoScroll"), Control("bSave"), Control("bscan")}));
    EXPECT_GE(Log(LB_GETHORIZONTALEXTENT), 600);
    SCROLLBARINFO bar{sizeof bar, {}, 0, 0, 0, 0, {}};
    ASSERT_TRUE(GetScrollBarInfo(Control("listBox1"), OBJID_VSCROLL, &bar));
    EXPECT_EQ(bar.rgstate[0] & STATE_SYSTEM_INVISIBLE, 0u);
}

// The window sees C and S before the focused control, not with Alt or Ctrl held; START shows
// the module's events exactly; Save Log asks the older common dialog set up for logs (offering
// the last name again) and writes each line with CR LF.
TEST_F(Win32ViewTest, KeysStartStopAndSaveLogShowAndWriteTheModulesEvents) {
    Press('S', VK_MENU);
    EXPECT_EQ(sim.Stats(0).start_commands, 0u);
    Press('S');
    EXPECT_EQ(Text(Control("btnStartStop")), L"STOP");
    Capture({0x01, 0x07, 0xA0, 0x02}, std::ssize(kCaptureLines));
    const ScratchDirectory dir;
    const std::wstring file = (dir.path / "bus log.log").wstring();
    std::vector<std::wstring> offered;
    desktop.answer = [&](OPENFILENAMEW& dialog) {
        EXPECT_EQ(std::tuple(std::wstring_view(dialog.lpstrTitle),
                             std::wstring_view(dialog.lpstrFilter, 17), dialog.lpstrDefExt,
                             dialog.lpstrInitialDir, dialog.hwndOwner),
                  std::tuple(L"Save Bus Activity Log", std::wstring_view(L"Log Files\0*.log\0", 17),
                             std::wstring_view(L"txt"), std::wstring_view(L"C:\\"),
                             form->Window()));
        EXPECT_EQ(dialog.Flags & (OFN_EXPLORER | OFN_ENABLEHOOK | OFN_OVERWRITEPROMPT |
                                  OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST),
                  DWORD{OFN_EXPLORER | OFN_ENABLEHOOK | OFN_OVERWRITEPROMPT});
        offered.emplace_back(dialog.lpstrFile);
        dialog.lpstrFile[file.copy(dialog.lpstrFile, dialog.nMaxFile - 1)] = L'\0';
        return true;
    };
    Click("bSave");
    Click("bSave");
    std::string expected;
    for (const std::string& line : kCaptureLines)
        expected += line + "\r\n";
    EXPECT_EQ(WirelogTest::ReadFile(file), expected);
    EXPECT_EQ(offered, (std::vector<std::wstring>{L"", file}));

    Press('C', VK_CONTROL);
    EXPECT_EQ(Log(LB_GETCOUNT), std::ssize(kCaptureLines));
    Press('C');
    EXPECT_EQ(Log(LB_GETCOUNT), 0);
}

} // namespace
} // namespace Wirelog::Win32::testing
