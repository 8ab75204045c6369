// SPDX-License-Identifier: MIT
// The window's start-up: the deployment of the adapter library, and what loading does after it
// succeeded or failed.
#include "FakeView.h"

#include <fstream>
#include <optional>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace Wirelog::testing {
namespace {

using Texts = std::vector<std::string>;

#ifndef _WIN32
// While alive, a write past `bytes` fails as on a full disk, without the ending signal.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        if (setrlimit(RLIMIT_FSIZE, &limited) != 0)
            throw std::runtime_error("cannot limit the file size");
    }
    ~ScopedFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = std::signal(SIGXFSZ, SIG_IGN);
};
#endif

// An existing file is the user's, whatever it holds, and is kept and bound; otherwise the image
// is written byte for byte. No image, a write cut short (here at a file size limit) or a directory
// named like the library: two messages, the window closes before it appears, and no truncated
// library is left for a later start to take for the real one.
TEST_F(FormTest, TheLibraryIsDeployedUnlessPresentAndAFailureEndsTheProgramAtLoad) {
    const struct {
        std::string_view name;
        std::string image, expectedFile; // no file expected: the deployment fails
    } cases[] = {
        {"present", "image", "mine"},
        {"written", std::string(100'000, 'w'), std::string(100'000, 'w')},
        {"no image", "", ""},
        {"a directory", "image", ""},
#ifndef _WIN32
        {"write cut short", std::string(100'000, 'w'), ""},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path dir = scratch.path / c.name;
        const std::filesystem::path library = dir / kSupportLibraryFile;
        std::filesystem::create_directories(c.name == "a directory" ? library : dir);
        if (c.name == "present")
            std::ofstream(library) << "mine";
        view.emplace();
        _isRunning = true;
        const auto image = [&] {
            const auto* bytes = reinterpret_cast<const std::byte*>(c.image.data());
            return std::vector<std::byte>(bytes, bytes + c.image.size());
        };
        {
#ifndef _WIN32
            std::optional<ScopedFileSizeLimit> limit;
            if (c.name == "write cut short")
                limit.emplace(16 * 1024);
#endif
            form = std::make_unique<FormBehaviour>(*view, SupportLibraryDeployment{dir, image});
        }
        const bool fails = c.expectedFile.empty();
        EXPECT_EQ(_isRunning, !fails);
        EXPECT_EQ(view->messages.empty(), !fails);
        form->Form1_Load();
        EXPECT_EQ(view->closed, fails);
        if (fails) {
            EXPECT_EQ(view->messages, (Texts{kDeploymentFailedMessage, kModuleNotActivated}));
            EXPECT_FALSE(std::filesystem::is_regular_file(library));
        } else { // the file is no library: reported once at load, no module to start
            EXPECT_EQ(WirelogTest::ReadFile(library), c.expectedFile);
            form->bStartStop_Click();
            ASSERT_EQ(view->messages.size(), 2u);
            EXPECT_TRUE(view->messages[0].starts_with("Couldn't load the adapter library \""));
            EXPECT_EQ(view->messages[1], kModuleNotActivated);
        }
        form.reset();
    }
    _isRunning = true;
    EXPECT_EQ(SupportLibraryPath({std::filesystem::current_path(), {}}),
              std::filesystem::path(kSupportLibraryFile))
        << "the program's own case binds the bare name";
}

} // namespace
} // namespace Wirelog::testing
