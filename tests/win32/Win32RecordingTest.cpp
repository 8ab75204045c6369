// SPDX-License-Identifier: MIT
// Recordings in the Win32 window: named on the command line or dropped on the log list, a file
// fills the list with the lines `decode` writes for it; the channel dialog (the real one, run
// modeless) comes only for a capture without channels named SCL and SDA; a bad file, a cancelled
// dialog or a cancelled opening leave the list as it was.
#include "Win32TestSupport.h"
#include "win32/ChannelDialog.h"

#include <shlobj.h>

namespace Wirelog::Win32::testing {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

const fs::path kCliData = WIRELOG_CLI_TEST_DATA;
const fs::path kCaptures = WIRELOG_CAPTURE_TEST_DATA;
const fs::path kBatches = kCliData / "gigabyte_6vle_vxl_i2c.batches.txt";
const fs::path kOtherNames = kCaptures / "braintechnology_usb_lps_powerup.vcd";

// The lines of a log `decode` wrote, each ended by CR LF.
Texts LogFileLines(const fs::path& log) {
    const std::string bytes = WirelogTest::ReadFile(log);
    Texts lines;
    for (std::size_t at = 0, end = 0; (end = bytes.find("\r\n", at)) != std::string::npos;
         at = end + 2)
        lines.push_back(bytes.substr(at, end - at));
    return lines;
}

void Choose(HWND dialog, int list, int index) {
    SendDlgItemMessageW(dialog, list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, list)));
}

void Click(HWND dialog, int button) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
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
    // The list once the opening has ended, as the store holds it and as the list box counts it.
    Texts Shown() {
        EXPECT_TRUE(PumpUntil(*form, [&] { return !form->Behaviour().IsOpeningRecording(); }));
        const LogLines& lines = form->Behaviour().Lines();
        Texts shown;
        for (std::size_t i = 0; i < lines.size(); ++i)
            shown.emplace_back(lines[i]);
        EXPECT_EQ(SendMessageW(form->Control("listBox1"), LB_GETCOUNT, 0, 0), std::ssize(shown));
        return shown;
    }

    test::SimControl sim;
    RecordedDesktop desktop;
    std::vector<std::vector<std::wstring>> offered; // each channel dialog's channel names
    // Notes the channels offered, then answers as `answer` says.
    void Answer(std::function<void(HWND)> answer) {
        desktop.answerDialog = [this, answer](HWND dialog) {
            std::vector<std::wstring>& names = offered.emplace_back();
            const auto count = SendDlgItemMessageW(dialog, kSclChannelList, CB_GETCOUNT, 0, 0);
            for (int i = 0; i < count; ++i) {
                wchar_t name[64]{};
                SendDlgItemMessageW(dialog, kSclChannelList, CB_GETLBTEXT, i,
                                    reinterpret_cast<LPARAM>(name));
                names.emplace_back(name);
            }
            answer(dialog);
        };
    }
    std::unique_ptr<Form1View> form;
};

TEST_F(Win32RecordingTest, AFileOnTheCommandLineOrDroppedFillsTheListAsDecodeDoes) {
    EXPECT_EQ(RecordingArgument(LR"(wirelog.exe "C:\bus logs\a b.vcd" extra)"),
              fs::path(LR"(C:\bus logs\a b.vcd)"));
    EXPECT_EQ(RecordingArgument(L"wirelog.exe"), std::nullopt);
    const Texts decoded = LogFileLines(kCliData / "gigabyte_6vle_vxl_i2c.log");
    ASSERT_GT(decoded.size(), 50u);
    Open(kBatches);
    // Opened once the window is up.
    ASSERT_TRUE(PumpUntil(*form, [&] { return form->Behaviour().IsOpeningRecording(); }));
    EXPECT_EQ(Shown(), decoded);

    // SCL and SDA by name: no dialog. decode writes 8 lines for it, the last a STOP.
    Drop(kCaptures / "wii_nunchuk_init.vcd");
    const Texts nunchuk = Shown();
    EXPECT_EQ(nunchuk.size(), 8u);
    EXPECT_TRUE(offered.empty());
    // SCL on channel 2, SDA on 1, once OK refused the same channel for both.
    bool refusedSameChannel = false;
    Answer([&](HWND dialog) {
        Choose(dialog, kSclChannelList, 2);
        Choose(dialog, kSdaChannelList, 2);
        refusedSameChannel = !IsWindowEnabled(GetDlgItem(dialog, IDOK));
        Choose(dialog, kSdaChannelList, 1);
        Click(dialog, IDOK);
    });
    Drop(kOtherNames);
    const Texts other = Shown();
    EXPECT_EQ(offered,
              (std::vector<std::vector<std::wstring>>{
                  {L"PB0", L"PB1/SDA", L"PB2/SCL", L"PB3", L"PB4", L"PB5", L"D6", L"D7"}}));
    EXPECT_TRUE(refusedSameChannel);
    ASSERT_GT(other.size(), 4u);
    EXPECT_EQ(other[4], "Address + Read  + ACK, addr = 0x50");
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(Win32RecordingTest, ABadFileOrACancelLeavesTheList) {
    Open();
    Drop(kCaptures / "wii_nunchuk_init.vcd");
    const Texts before = Shown();
    ASSERT_FALSE(before.empty());
    const ScratchDirectory dir;
    const fs::path bad = dir.path / "bad.txt";
    std::ofstream(bad) << "0 00 05\n12 0x\n";
    Drop(bad);
    EXPECT_EQ(Shown(), before);
    EXPECT_EQ(desktop.messages, Texts{"Couldn't open the recording \"" + Narrow(bad.wstring()) +
                                      "\": line 2: bad hex byte '0x' (expected two hex digits)"});

    Answer([](HWND dialog) { Click(dialog, IDCANCEL); });
    Drop(kOtherNames);
    EXPECT_FALSE(form->Behaviour().IsOpeningRecording());
    Drop(kBatches); // cancelled before its first step
    ASSERT_TRUE(form->Behaviour().IsOpeningRecording());
    SendMessageW(form->RecordingProgressWindow(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(form->RecordingProgressWindow(), IDCANCEL)));
    EXPECT_FALSE(form->Behaviour().IsOpeningRecording());
    EXPECT_EQ(Shown(), before);
    EXPECT_EQ(offered.size(), 1u);
    EXPECT_EQ(desktop.messages.size(), 1u);
}

} // namespace
} // namespace Wirelog::Win32::testing
