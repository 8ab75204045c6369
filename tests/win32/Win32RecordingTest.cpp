// SPDX-License-Identifier: MIT
// Recordings in the Win32 window: named on the command line or dropped on the log list, a file
// fills the list with the lines `decode` writes for it; the channel dialog (the real one, run
// modeless) comes only for a capture without channels named SCL and SDA; a bad file, a cancelled
// dialog or a cancelled opening leave the list as it was.
#include "Win32TestSupport.h"
#include "win32/ChannelDialog.h"

#include <shlobj.h>

#include <algorithm>

namespace Wirelog::Win32::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kCliData = WIRELOG_CLI_TEST_DATA;
const fs::path kCaptures = WIRELOG_CAPTURE_TEST_DATA;
const fs::path kBatches = kCliData / "gigabyte_6vle_vxl_i2c.batches.txt";
const fs::path kOtherNames = kCaptures / "braintechnology_usb_lps_powerup.vcd";

// As control `id` of window reports it.
void Notify(HWND window, int id, WORD code = BN_CLICKED) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void Choose(HWND dialog, int list, int index) {
    SendDlgItemMessageW(dialog, list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Notify(dialog, list, CBN_SELCHANGE);
}

class Win32RecordingTest : public ::testing::Test {
protected:
    void Open(const std::optional<fs::path>& startup = {}) {
        sim.Configure("hw:off");
        const auto library = fs::absolute(test::kAdapterLibraryPath);
        form = std::make_unique<Form1View>(SupportLibraryDeployment{library.parent_path(), {}},
                                           desktop.Seam());
        if (startup)
            form->OpenRecordingOnLoad(*startup);
        form->Load();
    }
    // As the shell hands a drop over: a global block the window frees.
    void Drop(const fs::path& file) {
        const std::wstring name = file.wstring();
        HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t));
        auto* header = static_cast<DROPFILES*>(GlobalLock(drop));
        header->pFiles = sizeof(DROPFILES);
        header->fWide = TRUE;
        name.copy(reinterpret_cast<wchar_t*>(header + 1), name.size());
        GlobalUnlock(drop);
        SendMessageW(form->Control("listBox1"), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    }
    // The list once the opening has ended, as Save Log would write it; the list box counts it.
    std::string Shown() {
        EXPECT_TRUE(PumpUntil(*form, [&] { return !form->Behaviour().IsOpeningRecording(); }));
        const LogLines& lines = form->Behaviour().Lines();
        EXPECT_EQ(SendMessageW(form->Control("listBox1"), LB_GETCOUNT, 0, 0), std::ssize(lines));
        std::string shown;
        for (std::size_t i = 0; i < lines.size(); ++i)
            shown.append(lines[i]).append("\r\n");
        return shown;
    }

    test::SimControl sim;
    RecordedDesktop desktop;
    std::unique_ptr<Form1View> form;
};

TEST_F(Win32RecordingTest, AFileOnTheCommandLineOrDroppedFillsTheListAsDecodeDoes) {
    EXPECT_EQ(RecordingArgument(LR"(wirelog.exe "C:\bus logs\a.vcd" x)"),
              fs::path(LR"(C:\bus logs\a.vcd)"));
    Open(kBatches);
    // Opened once the window is up.
    ASSERT_TRUE(PumpUntil(*form, [&] { return form->Behaviour().IsOpeningRecording(); }));
    EXPECT_EQ(Shown(), WirelogTest::ReadFile(kCliData / "gigabyte_6vle_vxl_i2c.log"));

    // SCL and SDA by name: no dialog (the default answer cancels). decode writes 8 lines for it.
    Drop(kCaptures / "wii_nunchuk_init.vcd");
    EXPECT_EQ(std::ranges::count(Shown(), '\n'), 8);
    // SCL on channel 2, SDA on 1, once OK refused the same channel for both.
    bool refusedSameChannel = false;
    std::vector<LRESULT> offered; // how many channels each dialog offered
    desktop.answerDialog = [&](HWND dialog) {
        offered.push_back(SendDlgItemMessageW(dialog, kSdaChannelList, CB_GETCOUNT, 0, 0));
        Choose(dialog, kSclChannelList, 2);
        Choose(dialog, kSdaChannelList, 2);
        refusedSameChannel = !IsWindowEnabled(GetDlgItem(dialog, IDOK));
        Choose(dialog, kSdaChannelList, 1);
        Notify(dialog, IDOK);
    };
    Drop(kOtherNames);
    Shown();
    EXPECT_EQ(offered, std::vector<LRESULT>{8}); // PB0 to PB5, D6, D7
    EXPECT_TRUE(refusedSameChannel);
    ASSERT_GT(form->Behaviour().Lines().size(), 4u);
    EXPECT_EQ(form->Behaviour().Lines()[4], "Address + Read  + ACK, addr = 0x50");
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(Win32RecordingTest, ABadFileOrACancelLeavesTheList) {
    Open();
    Drop(kCaptures / "wii_nunchuk_init.vcd");
    const std::string before = Shown();
    const ScratchDirectory dir;
    const fs::path bad = dir.path / "bad.txt";
    std::ofstream(bad) << "0 00 05\n12 0x\n";
    Drop(bad);
    EXPECT_EQ(Shown(), before);
    EXPECT_EQ(desktop.messages,
              std::vector<std::string>{"Couldn't open the recording \"" + Narrow(bad.wstring()) +
                                       "\": line 2: bad hex byte '0x' (expected two hex digits)"});

    Drop(kOtherNames); // the channel dialog is cancelled
    EXPECT_FALSE(form->Behaviour().IsOpeningRecording());
    Drop(kBatches); // cancelled before its first step
    ASSERT_TRUE(form->Behaviour().IsOpeningRecording());
    Notify(form->RecordingProgressWindow(), IDCANCEL);
    EXPECT_FALSE(form->Behaviour().IsOpeningRecording());
    EXPECT_EQ(Shown(), before);
    EXPECT_EQ(desktop.messages.size(), 1u);
}

} // namespace
} // namespace Wirelog::Win32::testing
