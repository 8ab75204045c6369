// SPDX-License-Identifier: MIT
// The window's start-up: the deployment of the adapter library into the current directory, and
// what loading does after it succeeded, failed, or left a file that is no library.
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

std::vector<std::byte> Image(std::size_t bytes) {
    std::vector<std::byte> image(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        image[i] = static_cast<std::byte>(i * 7);
    return image;
}

// An existing file is the user's, whatever it holds; otherwise the image is written byte for
// byte. No image, a write cut short (here at a file size limit) or a directory named like the
// library: two messages, the window closes before it appears, and no truncated library is left
// for a later start to take for the real one.
TEST_F(FormTest, TheLibraryIsDeployedUnlessPresentAndAFailureEndsTheProgramAtLoad) {
    const struct {
        std::string_view name;
        std::size_t imageBytes;
        bool fails;
    } cases[] = {
        {"present", 100, false},
        {"written", 100'000, false},
        {"no image", 0, true},
        {"a directory", 100, true},
#ifndef _WIN32
        {"write cut short", 100'000, true},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path dir = scratch.path() / c.name;
        const std::filesystem::path library = dir / kSupportLibraryFile;
        std::filesystem::create_directories(dir);
        if (c.name == "present")
            std::ofstream(library, std::ios::binary) << "mine";
        if (c.name == "a directory")
            std::filesystem::create_directory(library);
        view.emplace();
        _isRunning = true;
        int imageReads = 0;
        const SupportLibraryDeployment deployment{dir, [&] {
                                                      ++imageReads;
                                                      return Image(c.imageBytes);
                                                  }};
        {
#ifndef _WIN32
            std::optional<ScopedFileSizeLimit> limit;
            if (c.name == "write cut short")
                limit.emplace(16 * 1024);
#endif
            form = std::make_unique<FormBehaviour>(*view, deployment);
        }
        EXPECT_EQ(_isRunning, !c.fails);
        EXPECT_EQ(view->messages, c.fails ? Texts{kDeploymentFailedMessage} : Texts{});
        if (c.fails) {
            form->Form1_Load();
            EXPECT_EQ(view->messages, (Texts{kDeploymentFailedMessage, kModuleNotActivated}));
            EXPECT_TRUE(view->closed);
            EXPECT_FALSE(std::filesystem::is_regular_file(library));
        } else {
            const std::vector<std::byte> written = Image(c.imageBytes);
            EXPECT_EQ(imageReads, c.name == "present" ? 0 : 1);
            EXPECT_EQ(
                WirelogTest::ReadFile(library),
                c.name == "present"
                    ? "mine"
                    : std::string(reinterpret_cast<const char*>(written.data()), written.size()));
        }
        form.reset();
    }
    _isRunning = true;
    EXPECT_EQ(SupportLibraryPath({std::filesystem::current_path(), {}}),
              std::filesystem::path(kSupportLibraryFile))
        << "the program's own case binds the bare name";
}

// A file that is no library is kept and reported once when the window loads; the window then
// has no module to offer.
TEST_F(FormTest, ALibraryThatCannotBeLoadedIsKeptAndReportedOnceAtLoad) {
    const std::filesystem::path library = scratch.path() / kSupportLibraryFile;
    std::ofstream(library) << "not a library";
    view.emplace();
    _isRunning = true;
    form = std::make_unique<FormBehaviour>(*view, SupportLibraryDeployment{scratch.path(), {}});
    form->Form1_Load();
    form->bStartStop_Click();
    ASSERT_EQ(view->messages.size(), 2u);
    EXPECT_TRUE(view->messages[0].starts_with("Couldn't load the adapter library \""))
        << view->messages[0];
    EXPECT_EQ(view->messages[1], kModuleNotActivated);
    EXPECT_TRUE(view->modules.empty() && !view->closed);
    EXPECT_EQ(WirelogTest::ReadFile(library), "not a library");
}

} // namespace
} // namespace Wirelog::testing
