// SPDX-License-Identifier: MIT
// What the Win32 window draws and forwards: its geometry at the font's cell and on resizing,
// the tab order, the C and S keys seen before the focused control, a capture's events in the
// virtual log list, the save dialog's set-up and the refresh requests merged while one waits.
#include "Win32TestSupport.h"
#include "form/Design.h"

#include <cmath>
#include <thread>

namespace Wirelog::Win32::testing {
namespace {

const std::vector<std::string> kCaptureLines{
    "*** I2C Monitoring activated, waiting for idle bus... ***", "", "START (valid)",
    "Address + Write + ACK, addr = 0x50", "STOP (*** BUS IS IDLE ***)"};

class Win32ViewTest : public ::testing::Test {
protected:
    void Open(const std::string& simulation) {
        sim.Configure(simulation);
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
        if (modifier != 0)
            keys[modifier] = 0x80;
        SetKeyboardState(keys);
        MSG message{GetFocus(),
                    static_cast<UINT>(modifier == VK_MENU ? WM_SYSKEYDOWN : WM_KEYDOWN),
                    static_cast<WPARAM>(key),
                    1,
                    0,
                    {}};
        form->Dispatch(message);
        keys[modifier] = 0;
        SetKeyboardState(keys);
        PumpPending(*form);
    }
    std::size_t LogCount() const {
        return static_cast<std::size_t>(SendMessageW(Control("listBox1"), LB_GETCOUNT, 0, 0));
    }
    std::vector<std::string> ShownLines() const {
        const Wirelog::LogLines& lines = form->Behaviour().Lines();
        std::vector<std::string> all;
        for (std::size_t i = 0; i < lines.size(); ++i)
            all.emplace_back(lines[i]);
        return all;
    }
    RECT Place(HWND control) const {
        RECT place{};
        GetWindowRect(control, &place);
        MapWindowPoints(HWND_DESKTOP, form->Window(), reinterpret_cast<POINT*>(&place), 2);
        return place;
    }
    void Capture(const std::vector<std::uint8_t>& bytes, std::size_t lines) {
        ASSERT_TRUE(sim.Inject(0, bytes));
        ASSERT_TRUE(PumpUntil(*form, [&] { return LogCount() == lines; })) << LogCount();
    }

    test::SimControl sim;
    RecordedDesktop desktop;
    std::unique_ptr<Form1View> form;
};

// The controls the user sees, at the design cell.
const struct {
    const char* name;
    DesignRect design;
    bool sizedToText; // only placed: its size is its caption's
} kShown[] = {
    {"label2", {12, 15, 67, 21}, false},        {"bscan", {106, 12, 57, 20}, false},
    {"lbDevices", {14, 46, 149, 68}, false},    {"btnStartStop", {304, 12, 60, 20}, false},
    {"cbAutoScroll", {380, 12, 273, 21}, true}, {"label1", {500, 111, 57, 21}, false},
    {"bSave", {564, 106, 77, 23}, false},       {"label4", {11, 117, 486, 17}, true},
    {"listBox1", {16, 137, 627, 124}, false},
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

// Every shown control sits where the design puts it at the font's cell, none overlaps another,
// the eight others stay hidden; resizing moves only the log list's right and bottom edges.
TEST_F(Win32ViewTest, ControlsFollowTheScaledDesignAndOnlyTheLogListFollowsTheWindowsSize) {
    Open("hw:off");
    EXPECT_EQ(Text(form->Window()), L"Wirelog (TM) Protocol Analyzer - v1.003");
    const DesignScale scale(MeasuredCell(Control("bscan")));
    RECT client{};
    GetClientRect(form->Window(), &client);
    EXPECT_EQ(client.right, scale.X(657));
    EXPECT_EQ(client.bottom, scale.Y(302));
    std::size_t shown = 0;
    for (const ControlDesign& control : kControls)
        shown += IsWindowVisible(Control(control.name)) ? 1 : 0;
    EXPECT_EQ(shown, std::size(kShown));
    std::vector<RECT> before;
    for (const auto& expected : kShown) {
        SCOPED_TRACE(expected.name);
        const RECT place = Place(Control(expected.name));
        const DesignRect scaled = scale.Rect(expected.design);
        EXPECT_EQ(place.left, scaled.x);
        EXPECT_EQ(place.top, scaled.y);
        if (!expected.sizedToText) {
            EXPECT_EQ(place.right - place.left, scaled.width);
            EXPECT_EQ(place.bottom - place.top, scaled.height);
        }
        for (const RECT& other : before) {
            RECT overlap{};
            EXPECT_FALSE(IntersectRect(&overlap, &place, &other));
        }
        before.push_back(place);
    }
    HWND log = Control("listBox1");
    const RECT logBefore = Place(log);
    for (const SIZE change : {SIZE{200, 100}, SIZE{-400, -40}}) {
        RECT frame{};
        GetWindowRect(form->Window(), &frame);
        SetWindowPos(form->Window(), nullptr, 0, 0, frame.right - frame.left + change.cx,
                     frame.bottom - frame.top + change.cy, SWP_NOMOVE | SWP_NOZORDER);
        for (std::size_t i = 0; i + 1 < std::size(kShown); ++i) {
            const RECT now = Place(Control(kShown[i].name));
            EXPECT_TRUE(EqualRect(&before[i], &now)) << kShown[i].name;
        }
        const RECT logNow = Place(log);
        EXPECT_EQ(logNow.right - logBefore.right, change.cx);
        EXPECT_EQ(logNow.bottom - logBefore.bottom, change.cy);
        SetWindowPos(form->Window(), nullptr, 0, 0, frame.right - frame.left,
                     frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    }
    // Sideways up to 600 pixels at least; the vertical scroll bar even while the list is empty.
    EXPECT_GE(SendMessageW(log, LB_GETHORIZONTALEXTENT, 0, 0), 600);
    SCROLLBARINFO bar{sizeof bar, {}, 0, 0, 0, 0, {}};
    ASSERT_TRUE(GetScrollBarInfo(log, OBJID_VSCROLL, &bar));
    EXPECT_EQ(bar.rgstate[0] & STATE_SYSTEM_INVISIBLE, 0u);
}

// SCAN has the focus first; Tab visits the five input controls and never the log list.
TEST_F(Win32ViewTest, TabVisitsTheInputControlsInTheirOrder) {
    Open("hw:off;dev:stream=idle");
    std::vector<HWND> visited;
    for (int step = 0; step < 6; ++step) {
        visited.push_back(GetFocus());
        Press(VK_TAB);
    }
    EXPECT_EQ(visited,
              (std::vector<HWND>{Control("bscan"), Control("lbDevices"), Control("btnStartStop"),
                                 Control("cbAutoScroll"), Control("bSave"), Control("bscan")}));
}

// The window sees C and S before the focused control, not with Alt or Ctrl held; START shows
// the module's events exactly, and with auto-scroll the newest line is in view.
TEST_F(Win32ViewTest, KeysAndStartStopDriveTheCaptureAndTheLogListShowsItsEvents) {
    Open("hw:off;dev:stream=idle");
    HWND button = Control("btnStartStop");
    Press('S', VK_CONTROL);
    Press('S', VK_MENU);
    EXPECT_EQ(Text(button), L"START");
    EXPECT_EQ(sim.Stats(0).start_commands, 0u);
    Press('S');
    EXPECT_EQ(Text(button), L"STOP");
    EXPECT_FALSE(IsWindowEnabled(Control("bSave")));
    Capture({0x01, 0x07, 0xA0, 0x02}, kCaptureLines.size());
    EXPECT_EQ(ShownLines(), kCaptureLines);

    Press('C', VK_CONTROL);
    Press('C', VK_MENU);
    EXPECT_EQ(LogCount(), kCaptureLines.size());
    Press('C');
    EXPECT_EQ(LogCount(), 0u);

    SendMessageW(Control("cbAutoScroll"), BM_CLICK, 0, 0);
    std::vector<std::uint8_t> many;
    for (int i = 0; i < 100; ++i)
        many.insert(many.end(), {0x01, 0x02});
    Capture(many, 300);
    HWND log = Control("listBox1");
    RECT last{};
    RECT inside{};
    SendMessageW(log, LB_GETITEMRECT, LogCount() - 1, reinterpret_cast<LPARAM>(&last));
    GetClientRect(log, &inside);
    EXPECT_GT(SendMessageW(log, LB_GETTOPINDEX, 0, 0), 0);
    EXPECT_LE(last.bottom, inside.bottom);
    EXPECT_GT(last.bottom, inside.bottom - (last.bottom - last.top));

    Click("btnStartStop");
    EXPECT_EQ(Text(button), L"START");
    EXPECT_EQ(sim.Stats(0).stop_commands, 1u);
    EXPECT_TRUE(IsWindowEnabled(Control("bSave")));
}

// The older common dialog, titled and filtered for logs, asking before replacing a file, the
// last name offered again; the file holds each line and CR LF.
TEST_F(Win32ViewTest, SaveLogAsksTheOlderDialogAndWritesEveryLineWithCrLf) {
    const ScratchDirectory dir;
    const std::filesystem::path file = dir.path / "bus log.log";
    Open("hw:off;dev:stream=idle");
    Click("btnStartStop");
    Capture({0x01, 0x07, 0xA0, 0x02}, kCaptureLines.size());
    std::vector<std::wstring> offered;
    desktop.answer = [&](OPENFILENAMEW& dialog) {
        EXPECT_EQ(dialog.hwndOwner, form->Window());
        EXPECT_EQ(std::wstring_view(dialog.lpstrTitle), L"Save Bus Activity Log");
        EXPECT_EQ(std::wstring_view(dialog.lpstrFilter, 17),
                  std::wstring_view(L"Log Files\0*.log\0\0", 17));
        EXPECT_EQ(std::wstring_view(dialog.lpstrDefExt), L"txt");
        EXPECT_EQ(std::wstring_view(dialog.lpstrInitialDir), L"C:\\");
        const DWORD wanted = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_OVERWRITEPROMPT;
        EXPECT_EQ(dialog.Flags & wanted, wanted);
        EXPECT_EQ(dialog.Flags & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST), 0u);
        offered.emplace_back(dialog.lpstrFile);
        const std::wstring name = file.wstring();
        dialog.lpstrFile[name.copy(dialog.lpstrFile, dialog.nMaxFile - 1)] = L'\0';
        return true;
    };
    Click("bSave");
    EXPECT_EQ(Text(Control("btnStartStop")), L"START");
    std::string expected;
    for (const std::string& line : kCaptureLines)
        expected += line + "\r\n";
    EXPECT_EQ(WirelogTest::ReadFile(file), expected);
    Click("bSave");
    EXPECT_EQ(offered, (std::vector<std::wstring>{L"", file.wstring()}));
}

// Requests from another thread while one message waits merge into it; once taken, the next
// request posts again; once the window is gone, none does.
TEST(RefreshPosterTest, RequestsMergeWhileOneMessageWaits) {
    HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    RefreshPoster poster(window);
    const auto queued = [&] {
        int count = 0;
        for (MSG message{}; PeekMessageW(&message, window, RefreshPoster::kMessage,
                                         RefreshPoster::kMessage, PM_REMOVE);)
            ++count;
        return count;
    };
    std::thread reader([&] {
        for (int i = 0; i < 100; ++i)
            poster.Request();
    });
    reader.join();
    EXPECT_EQ(queued(), 1);
    poster.Request();
    EXPECT_EQ(queued(), 0);
    poster.Received();
    poster.Request();
    EXPECT_EQ(queued(), 1);
    poster.Received();
    poster.Attach(nullptr);
    poster.Request();
    EXPECT_EQ(queued(), 0);
    DestroyWindow(window);
}

} // namespace
} // namespace Wirelog::Win32::testing
