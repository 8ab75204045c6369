// The binding and the notification event under several threads at once.
#include "AdapterLibrary.h"
#include "NotifyEvent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace Wirelog {
namespace {

using namespace std::chrono_literals;

TEST(AdapterThreadsTest, ConcurrentFirstCallsReportAMissingFunctionOnce) {
    std::atomic<int> reports{0};
    AdapterLibrary library(WIRELOG_TEST_PARTIAL_ADAPTER, [&](const std::string&) { ++reports; });

    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<int> failures{0};
    std::atomic<int> listed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            ++ready;
            while (ready.load() < kThreads) {
            }
            unsigned char buffer[4];
            DWORD received = 0;
            if (library.Read(nullptr, buffer, 4, &received) != FT_OK)
                ++failures;
            DWORD count = 0;
            if (library.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) == FT_OK && count == 3)
                ++listed;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(reports.load(), 1);
    EXPECT_EQ(failures.load(), kThreads);
    EXPECT_EQ(listed.load(), kThreads);
}

TEST(NotifyEventTest, SignalWakesOneWaitAndResetsItself) {
    NotifyEvent event;
    EXPECT_FALSE(event.Wait(1ms));
    event.Set();
    EXPECT_TRUE(event.Wait(0ms)) << "a signal given before the wait is kept";
    EXPECT_FALSE(event.Wait(1ms)) << "automatic reset";

    std::thread signaller([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(10s));
    signaller.join();
}

TEST(NotifyEventTest, TheProgramsEventIsCreatedOnce) {
    NotifyEvent* first = CreateNotifyEvent();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CreateNotifyEvent(), first);
    EXPECT_NE(first->Param(), nullptr);
}

} // namespace
} // namespace Wirelog
