// SPDX-License-Identifier: MIT
// The library the program carries as its resource "BINARY" 255: written into the deployment
// directory byte for byte on a first start; and the program's end, before its window ever
// appears, when the file cannot be written.
#include "Win32TestSupport.h"
#include "form/FormTexts.h"

namespace Wirelog::Win32::testing {
namespace {

const std::string kLibraryFile = "wirlg000.dll";

// Runs the program's message loop as WinMain does; false when it had to be cut short.
bool RunToTheEnd(Form1View& form) {
    static bool cutShort = false;
    cutShort = false;
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 20'000, [](HWND, UINT, UINT_PTR, DWORD) {
        cutShort = true;
        PostQuitMessage(1);
    });
    RunMainWindow(form);
    KillTimer(nullptr, watchdog);
    return !cutShort;
}

TEST(Win32DeploymentTest, AFirstStartWritesTheCarriedLibraryAndBindsIt) {
    const ScratchDirectory dir;
    RecordedDesktop desktop;
    _isRunning = true;
    { const Form1View form({dir.path, EmbeddedSupportLibrary}, desktop.Seam()); }
    EXPECT_EQ(WirelogTest::ReadFile(dir.path / kLibraryFile),
              WirelogTest::ReadFile(std::filesystem::absolute(test::kAdapterLibraryPath)));
    EXPECT_TRUE(desktop.Messages().empty());
}

// A directory named like the library, and a directory that takes no new file (a system folder
// even the superuser cannot write in, where Wine maps one): two messages, and the program ends
// unseen.
TEST(Win32DeploymentTest, AFailedDeploymentReportsTwiceAndEndsTheProgramUnseen) {
    const ScratchDirectory dir;
    ASSERT_TRUE(std::filesystem::create_directory(dir.path / kLibraryFile));
    for (const std::filesystem::path& place : {dir.path, std::filesystem::path("Z:\\proc")}) {
        SCOPED_TRACE(WirelogTest::Utf8(place));
        if (!std::filesystem::is_directory(place))
            continue;
        RecordedDesktop desktop;
        _isRunning = true;
        Form1View form({place, EmbeddedSupportLibrary}, desktop.Seam());
        EXPECT_TRUE(RunToTheEnd(form)) << "the program did not end by itself";
        EXPECT_EQ(form.Window(), nullptr);
        EXPECT_EQ(desktop.Messages(),
                  (std::vector<std::string>{kDeploymentFailedMessage, kModuleNotActivated}));
    }
    EXPECT_EQ(WirelogTest::Listing(dir.path), std::vector<std::string>{kLibraryFile});
}

// A library lacking a function the window needs is reported at the function's first call: the
// user's choice of a listed module test-opens it, which cannot be done.
TEST(Win32DeploymentTest, ALibraryWithoutAFunctionIsReportedWhenTheWindowLoads) {
    const ScratchDirectory dir;
    std::filesystem::copy_file(std::filesystem::absolute(WIRELOG_TEST_PARTIAL_ADAPTER),
                               dir.path / kLibraryFile);
    RecordedDesktop desktop;
    _isRunning = true;
    Form1View form({dir.path, EmbeddedSupportLibrary}, desktop.Seam());
    form.Load();
    HWND modules = form.Control("lbDevices");
    ASSERT_EQ(SendMessageW(modules, LB_GETCOUNT, 0, 0), 3);
    SendMessageW(modules, LB_SETCURSEL, 1, 0);
    SendMessageW(form.Window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(modules), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(modules));
    const std::vector<std::string> messages = desktop.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].ends_with("has no function FT_Open.")) << messages[0];
    EXPECT_EQ(messages[1], kModuleNotActivated);
    EXPECT_NE(form.Window(), nullptr);
}

} // namespace
} // namespace Wirelog::Win32::testing
