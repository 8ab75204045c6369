// SPDX-License-Identifier: MIT
// The binding's failure paths and file rule, through real dlopen'ed files. Round trips through
// the adapter library, and the event object, run in the support and capture tests.
#include "TestPlatform.h"
#include "adapter/AdapterLibrary.h"

#include <gtest/gtest.h>

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
    AdapterLibrary::Report Sink() {
        return [this](const std::string& text) {
            std::lock_guard lock(mutex);
            reports.push_back(text);
        };
    }

    const fs::path previous = fs::current_path();
    const fs::path dir =
        fs::temp_directory_path() / ("wirelog-adapter-" + WirelogTest::ProcessId());
    std::mutex mutex;
    std::vector<std::string> reports;
};

TEST_F(AdapterTest, AFileThatCannotBeLoadedIsReportedOnceAndEveryCallFails) {
    std::ofstream("junk.dll") << "not a shared library";
#ifdef _WIN32
    const char* const onSearchPath = "kernel32.dll";
#else
    const char* const onSearchPath = "libc.so.6";
#endif
    // A system library is found along the loader's search path, which the binding must never use.
    for (const std::string path : {"junk.dll", "/nonexistent/wirlg000.dll", onSearchPath}) {
        reports.clear();
        AdapterLibrary library(path, Sink());
        DWORD count = 0;
        FT_HANDLE handle = nullptr;
        std::uint8_t bytes[2] = {};
        EXPECT_NE(library.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        EXPECT_NE(library.Open(0, &handle), FT_OK);
        EXPECT_NE(library.Write(handle, bytes, 2, &count), FT_OK);
        EXPECT_NE(library.Read(handle, bytes, 2, &count), FT_OK);
        ASSERT_EQ(reports.size(), 1u) << path;
        EXPECT_NE(reports[0].find("Couldn't load"), std::string::npos);
        EXPECT_NE(reports[0].find(path), std::string::npos) << reports[0];
    }
}

TEST_F(AdapterTest, ABareNameBindsFromTheCurrentDirectoryAndAMissingFunctionIsReportedOnce) {
    fs::copy_file(WIRELOG_TEST_PARTIAL_ADAPTER, AdapterLibrary::kDefaultFile);
    AdapterLibrary library(AdapterLibrary::kDefaultFile, Sink());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads; // the first calls, all at once
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
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("FT_Read"), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find(AdapterLibrary::kDefaultFile), std::string::npos) << reports[0];
    DWORD count = 0;
    EXPECT_EQ(library.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 3u) << "the functions that are there still work";
}

} // namespace
} // namespace Wirelog
