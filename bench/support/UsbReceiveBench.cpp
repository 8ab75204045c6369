// SPDX-License-Identifier: MIT
// The real-module receive path against the fake USB chip, through the D2XX calls: how soon the
// first bytes of a stream are readable (and signalled) at several rates, the sustained rate into
// the queue, the receive thread's CPU time per MB, and how long FT_Close takes while the chip
// streams. The fake chip runs on the receive thread (it fills the transfers when the thread
// handles events), so that thread's CPU time includes making the bytes.
#include "FakeUsbChip.h"
#include "FtdiBackend.h"
#include "ftd2xx.h"
#include "wirelog_sim.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Wirelog::d2xx::FakeChip;
using Wirelog::d2xx::FakeChipConfig;
using Wirelog::d2xx::FakeUsb;

constexpr std::uint8_t kLatencyMs = 2; // what the program sets
constexpr int kTrials = 20;

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double CpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Event {
    EVENT_HANDLE handle{};
    Event() {
        pthread_mutex_init(&handle.eMutex, nullptr);
        pthread_cond_init(&handle.eCondVar, nullptr);
    }
    ~Event() {
        pthread_cond_destroy(&handle.eCondVar);
        pthread_mutex_destroy(&handle.eMutex);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    // Waits for the signal as the program's reader does; returns when it came.
    Clock::time_point Wait() {
        pthread_mutex_lock(&handle.eMutex);
        while (handle.iVar == 0)
            pthread_cond_wait(&handle.eCondVar, &handle.eMutex);
        const Clock::time_point when = Clock::now();
        pthread_mutex_unlock(&handle.eMutex);
        return when;
    }
};

FT_HANDLE OpenOnly() {
    DWORD count = 0;
    FT_HANDLE handle = nullptr;
    if (FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK || count != 1 ||
        FT_Open(0, &handle) != FT_OK || FT_SetLatencyTimer(handle, kLatencyMs) != FT_OK) {
        std::fprintf(stderr, "cannot open the fake chip\n");
        std::exit(2);
    }
    return handle;
}

std::shared_ptr<FakeChip> Install(FakeUsb& usb, std::size_t packet) {
    usb.RemoveAll();
    FakeChipConfig config;
    config.packetSize = packet;
    config.bufferSize = packet == 512 ? 1024 : 256;
    return usb.AddChip(config);
}

void Summarise(const char* what, std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    std::printf("%-44s median %7.2f ms   max %7.2f ms\n", what, samples[samples.size() / 2],
                samples.back());
}

// From the moment the chip holds the first byte to the event that says it is readable.
void FirstByteLatency(FakeUsb& usb, std::size_t packet, double rate, const char* what) {
    std::vector<double> samples;
    for (int trial = 0; trial < kTrials; ++trial) {
        const auto chip = Install(usb, packet);
        FT_HANDLE handle = OpenOnly();
        Event event;
        FT_SetEventNotification(handle, FT_EVENT_RXCHAR, &event.handle);
        const Clock::time_point start = Clock::now();
        chip->Stream(rate);
        const Clock::time_point signalled = event.Wait();
        const auto firstByte =
            rate > 0 ? std::chrono::duration<double>(1.0 / rate) : std::chrono::duration<double>(0);
        samples.push_back(Ms(signalled - start) - firstByte.count() * 1000);
        FT_Close(handle);
    }
    Summarise(what, samples);
}

void Throughput(FakeUsb& usb, std::size_t packet, std::uint64_t bytes) {
    const auto chip = Install(usb, packet);
    FT_HANDLE handle = OpenOnly();
    std::vector<std::uint8_t> buffer(1 << 20);
    const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double readerCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const Clock::time_point start = Clock::now();
    chip->Stream(0, bytes);
    std::uint64_t read = 0;
    while (read < bytes) {
        DWORD queued = 0, got = 0;
        FT_GetQueueStatus(handle, &queued);
        const auto want = static_cast<DWORD>(
            std::min<std::uint64_t>({std::max<DWORD>(queued, 1), buffer.size(), bytes - read}));
        if (FT_Read(handle, buffer.data(), want, &got) != FT_OK)
            break;
        read += got;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double receiveCpu = (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpu) -
                              (CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - readerCpu);
    const double megabytes = static_cast<double>(read) / 1e6;
    std::printf("%3zu-byte packets, unpaced: %8.1f MB/s into the queue (%.0f MB), receive "
                "thread %.2f ms CPU per MB, overrun packets %llu\n",
                packet, megabytes / seconds, megabytes, receiveCpu * 1000 / megabytes,
                static_cast<unsigned long long>(chip->Stats().overrunPackets));
    FT_Close(handle);
}

// CPU of the receive thread at a paced rate, where it mostly waits for the chip.
void PacedCpu(FakeUsb& usb, std::size_t packet, double rate, double seconds) {
    const auto chip = Install(usb, packet);
    FT_HANDLE handle = OpenOnly();
    Event event;
    FT_SetEventNotification(handle, FT_EVENT_RXCHAR, &event.handle);
    std::vector<std::uint8_t> buffer(1 << 20);
    const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double readerCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    chip->Stream(rate);
    std::uint64_t read = 0;
    for (const auto end = Clock::now() + std::chrono::duration<double>(seconds);
         Clock::now() < end;) {
        pthread_mutex_lock(&event.handle.eMutex);
        while (event.handle.iVar == 0)
            pthread_cond_wait(&event.handle.eCondVar, &event.handle.eMutex);
        event.handle.iVar = 0;
        pthread_mutex_unlock(&event.handle.eMutex);
        DWORD queued = 0, got = 0;
        FT_GetQueueStatus(handle, &queued);
        FT_Read(handle, buffer.data(), std::min<DWORD>(queued, buffer.size()), &got);
        read += got;
    }
    const double receiveCpu = (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpu) -
                              (CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - readerCpu);
    std::printf("%3zu-byte packets at %.0f KB/s: receive thread %.2f ms CPU per MB (%.1f%% of a "
                "core)\n",
                packet, rate / 1000, receiveCpu * 1000 / (static_cast<double>(read) / 1e6),
                receiveCpu * 100 / seconds);
    FT_Close(handle);
}

void CloseWhileStreaming(FakeUsb& usb, std::size_t packet, double rate, const char* what) {
    std::vector<double> samples;
    for (int trial = 0; trial < kTrials; ++trial) {
        const auto chip = Install(usb, packet);
        FT_HANDLE handle = OpenOnly();
        Event event;
        FT_SetEventNotification(handle, FT_EVENT_RXCHAR, &event.handle);
        chip->Stream(rate);
        event.Wait();
        const Clock::time_point start = Clock::now();
        FT_Close(handle);
        samples.push_back(Ms(Clock::now() - start));
    }
    Summarise(what, samples);
}

} // namespace

int main() {
    WirelogSim_Configure("");
    const auto usb = std::make_shared<FakeUsb>();
    Wirelog::d2xx::SetUsbLayer(usb);
    std::printf("latency timer %u ms, %d trials each\n", kLatencyMs, kTrials);
    FirstByteLatency(*usb, 64, 1000, "first byte, FT232R, 1 KB/s");
    FirstByteLatency(*usb, 64, 100000, "first byte, FT232R, 100 KB/s");
    FirstByteLatency(*usb, 64, 300000, "first byte, FT232R, 300 KB/s (3 Mbaud)");
    FirstByteLatency(*usb, 512, 1000, "first byte, FT232H, 1 KB/s");
    FirstByteLatency(*usb, 512, 100000, "first byte, FT232H, 100 KB/s");
    FirstByteLatency(*usb, 512, 0, "first byte, FT232H, unpaced");
    Throughput(*usb, 64, std::uint64_t{64} << 20);
    Throughput(*usb, 512, std::uint64_t{512} << 20);
    PacedCpu(*usb, 64, 100000, 2);
    PacedCpu(*usb, 64, 300000, 2);
    PacedCpu(*usb, 512, 10e6, 2);
    CloseWhileStreaming(*usb, 64, 1000, "FT_Close streaming, FT232R, 1 KB/s");
    CloseWhileStreaming(*usb, 64, 300000, "FT_Close streaming, FT232R, 300 KB/s");
    CloseWhileStreaming(*usb, 512, 0, "FT_Close streaming, FT232H, unpaced");
    return 0;
}
