// SPDX-License-Identifier: MIT
// The library the program carries as its resource "BINARY" 255, written out on a first start;
// the program's end when it cannot be; a library lacking a function, reported at its first call.
#include "Win32TestSupport.h"
#include "form/FormTexts.h"

namespace Wirelog::Win32::testing {
namespace {

using WirelogTest::ReadFile;

// A first start writes the carried library byte for byte. A directory named like the library,
// or a directory that takes no new file (a system folder not even the superuser can write in,
// where Wine maps one), gives two messages, and the program's loop ends with the window unseen.
TEST(Win32DeploymentTest, TheCarriedLibraryIsWrittenOrItsFailureEndsTheProgramUnseen) {
    const ScratchDirectory dir;
    std::filesystem::create_directories(dir.path / "taken" / kSupportLibraryFile);
    for (const std::filesystem::path& place : {dir.path, dir.path / "taken", {"Z:\\proc"}}) {
        RecordedDesktop desktop;
        _isRunning = true;
        Form1View form({place, EmbeddedSupportLibrary}, desktop.Seam());
        const UINT_PTR deadline = SetTimer(nullptr, 0, 20'000, [](HWND, UINT, UINT_PTR, DWORD) {
            PostQuitMessage(1); // cut short: the window is still there
        });
        if (place != dir.path)
            RunMainWindow(form);
        KillTimer(nullptr, deadline);
        EXPECT_EQ(form.Window() == nullptr, place != dir.path) << "the program did not end";
        const std::vector<std::string> failed{kDeploymentFailedMessage, kModuleNotActivated};
        EXPECT_EQ(desktop.messages, place == dir.path ? std::vector<std::string>{} : failed);
    }
    EXPECT_EQ(ReadFile(dir.path / kSupportLibraryFile),
              ReadFile(std::filesystem::absolute(test::kAdapterLibraryPath)));
    EXPECT_EQ(WirelogTest::Listing(dir.path / "taken"),
              std::vector<std::string>{kSupportLibraryFile});
}

TEST(Win32DeploymentTest, ALibraryWithoutAFunctionIsReportedWhenAModuleIsChosen) {
    const ScratchDirectory dir;
    std::filesystem::copy_file(std::filesystem::absolute(WIRELOG_TEST_PARTIAL_ADAPTER),
                               dir.path / kSupportLibraryFile);
    RecordedDesktop desktop;
    _isRunning = true;
    Form1View form({dir.path, EmbeddedSupportLibrary}, desktop.Seam());
    form.Load();
    HWND modules = form.Control("lbDevices");
    SendMessageW(modules, LB_SETCURSEL, 1, 0);
    SendMessageW(form.Window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(modules), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(modules));
    const std::vector<std::string> messages = desktop.messages;
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].ends_with("has no function FT_Open.")) << messages[0];
    EXPECT_EQ(messages[1], kModuleNotActivated);
}

} // namespace
} // namespace Wirelog::Win32::testing
