// SPDX-License-Identifier: MIT
// The binding's failure paths and file rule, through real dlopen'ed files. Round trips through
// the adapter library, and the event object, run in the support and capture tests.
#include "TestPlatform.h"
#include "adapter/AdapterLibrary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace Wirelog {
namespace {

namespace fs = std::filesystem;

// Runs in a directory of its own, the current directory while it runs.
class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir);
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(previous);
        // Windows keeps a loaded library's file locked, and the binding never unloads it: its
        // scratch copy may only go when the process ends.
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    const fs::path previous = fs::current_path();
    const fs::path dir =
        fs::temp_directory_path() / ("wirelog-adapter-" + WirelogTest::ProcessId());
    std::mutex mutex;
    std::vector<std::string> reports;
};

// A file that cannot be loaded fails every call, a missing function only the calls to it; either
// is reported once, however many first calls race. A bare name binds from the current directory
// only, never along the loader's search path, where a system library would be found.
TEST_F(AdapterTest, AnUnusableFileOrFunctionIsReportedOnceAndFailsOnlyItsCalls) {
    std::ofstream("junk.dll") << "not a shared library";
    fs::copy_file(WIRELOG_TEST_PARTIAL_ADAPTER, AdapterLibrary::kDefaultFile);
#ifdef _WIN32
    const std::string onSearchPath = "kernel32.dll";
#else
    const std::string onSearchPath = "libc.so.6";
#endif
    const std::pair<std::string, std::string> rows[] = {
        {"junk.dll", "Couldn't load"},
        {"/nonexistent/wirlg000.dll", "Couldn't load"},
        {onSearchPath, "Couldn't load"},
        {AdapterLibrary::kDefaultFile, "FT_Read"}};
    for (const auto& [path, report] : rows) {
        reports.clear();
        AdapterLibrary library(path, [this](const std::string& text) {
            std::lock_guard lock(mutex);
            reports.push_back(text);
        });
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] {
                std::uint8_t buffer[4];
                DWORD received = 0;
                failures += library.Read(nullptr, buffer, 4, &received) != FT_OK;
            });
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(failures.load(), 8);
        const AdapterFunction read[] = {AdapterFunction::Read};
        library.BindNow(read);
        const bool loads = report == "FT_Read";
        DWORD count = 0;
        EXPECT_EQ(library.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) == FT_OK, loads);
        EXPECT_EQ(count, loads ? 3u : 0u) << "the functions that are there still work";
        ASSERT_EQ(reports.size(), 1u) << path;
        EXPECT_NE(reports[0].find(report), std::string::npos) << reports[0];
        EXPECT_NE(reports[0].find(path), std::string::npos) << reports[0];
    }
}

} // namespace
} // namespace Wirelog
