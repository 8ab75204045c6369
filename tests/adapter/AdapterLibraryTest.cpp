// The binding's failure paths, through real dlopen'ed files: a file that cannot be loaded and a
// library that lacks a function. Round trips through the adapter library itself live in
// AdapterRoundTripTest.cpp.
#include "AdapterLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace Wirelog {
namespace {

namespace fs = std::filesystem;

struct Reports {
    std::mutex mutex;
    std::vector<std::string> texts;

    AdapterLibrary::Report Sink() {
        return [this](const std::string& text) {
            std::lock_guard lock(mutex);
            texts.push_back(text);
        };
    }
    std::vector<std::string> Taken() {
        std::lock_guard lock(mutex);
        return texts;
    }
};

// Every entry point with harmless arguments; all of them must fail when nothing is bound.
std::vector<FT_STATUS> CallEveryFunction(AdapterLibrary& library) {
    DWORD count = 0;
    FT_HANDLE handle = nullptr;
    unsigned char bytes[4] = {};
    return {library.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY),
            library.Open(0, &handle),
            library.Close(nullptr),
            library.SetLatencyTimer(nullptr, 2),
            library.SetEventNotification(nullptr, FT_EVENT_RXCHAR, nullptr),
            library.GetQueueStatus(nullptr, &count),
            library.Read(nullptr, bytes, 1, &count),
            library.Write(nullptr, bytes, 1, &count)};
}

class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const fs::path& to) : previous_(fs::current_path()) {
        fs::current_path(to);
    }
    ~ScopedCurrentDirectory() { fs::current_path(previous_); }

private:
    fs::path previous_;
};

fs::path FreshDirectory(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() / ("wirelog-adapter-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(AdapterLibraryTest, UnloadableFileIsReportedOnceAndEveryCallFails) {
    const fs::path dir = FreshDirectory("unloadable");
    const fs::path notALibrary = dir / "wirlg000.dll";
    std::ofstream(notALibrary) << "not a shared library";

    for (const fs::path& path : {notALibrary, dir / "missing.dll"}) {
        Reports reports;
        AdapterLibrary library(path.string(), reports.Sink());
        for (FT_STATUS status : CallEveryFunction(library))
            EXPECT_NE(status, FT_OK);
        CallEveryFunction(library);

        const auto texts = reports.Taken();
        ASSERT_EQ(texts.size(), 1u) << path;
        EXPECT_NE(texts[0].find(path.string()), std::string::npos) << texts[0];
    }
    fs::remove_all(dir);
}

TEST(AdapterLibraryTest, MissingFunctionIsReportedOnceByNameAndOthersStillWork) {
    Reports reports;
    AdapterLibrary library(WIRELOG_TEST_PARTIAL_ADAPTER, reports.Sink());

    DWORD count = 0;
    EXPECT_EQ(library.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_TRUE(reports.Taken().empty());

    unsigned char buffer[8];
    DWORD received = 99;
    EXPECT_EQ(library.Read(nullptr, buffer, 8, &received), AdapterLibrary::kUnboundStatus);
    EXPECT_EQ(library.Read(nullptr, buffer, 8, &received), AdapterLibrary::kUnboundStatus);
    EXPECT_EQ(received, 99u) << "nothing may have been called";

    const auto texts = reports.Taken();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("FT_Read"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find(WIRELOG_TEST_PARTIAL_ADAPTER), std::string::npos) << texts[0];
}

TEST(AdapterLibraryTest, BindNowReportsAheadOfTheFirstCall) {
    Reports reports;
    AdapterLibrary library(WIRELOG_TEST_PARTIAL_ADAPTER, reports.Sink());
    const AdapterFunction functions[] = {AdapterFunction::GetQueueStatus, AdapterFunction::Read};
    library.BindNow(functions);
    ASSERT_EQ(reports.Taken().size(), 1u);

    DWORD queued = 7;
    EXPECT_EQ(library.GetQueueStatus(nullptr, &queued), FT_OK);
    EXPECT_EQ(queued, 0u);
    EXPECT_EQ(reports.Taken().size(), 1u);
}

TEST(AdapterLibraryTest, BareFileNameMeansTheCurrentDirectoryNeverTheSearchPath) {
    const fs::path dir = FreshDirectory("cwd");
    ScopedCurrentDirectory inside(dir);
    {
        // The dynamic loader would find the C library by this name along its search path.
        Reports reports;
        AdapterLibrary library("libc.so.6", reports.Sink());
        DWORD count = 0;
        EXPECT_NE(library.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        const auto texts = reports.Taken();
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_NE(texts[0].find("Couldn't load"), std::string::npos) << texts[0];
    }
    fs::copy_file(WIRELOG_TEST_PARTIAL_ADAPTER, dir / AdapterLibrary::kDefaultFile);
    {
        Reports reports;
        AdapterLibrary library(AdapterLibrary::kDefaultFile, reports.Sink());
        DWORD count = 0;
        EXPECT_EQ(library.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        EXPECT_EQ(count, 3u);
        EXPECT_TRUE(reports.Taken().empty());
    }
    fs::remove_all(dir);
}

} // namespace
} // namespace Wirelog
