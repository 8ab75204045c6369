// SPDX-License-Identifier: MIT
// The Win32 window's log list at full size: a capture's whole buffer (999,999 events of mixed
// traffic) drained into the virtual list with auto-scroll on, in one refresh; its time, with the
// list's repaint, and the resident memory it adds. The same figures as the Qt list's in
// bench/ui/LogRefreshBench.cpp, from the same traffic.
//
// usage: wirelog_win32_bench.exe   (under Wine: cmake/wine-run.sh PREFIX wirelog_win32_bench.exe)
#include "MixedTraffic.h"
#include "win32/Form1View.h"

#include <psapi.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ResidentMegabytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(counters.WorkingSetSize) / 1048576.0;
}

// Runs what the refresh left for the window: the list's repaint.
void Settle(Wirelog::Win32::Form1View& form) {
    UpdateWindow(form.Window());
    for (MSG message{}; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
        form.Dispatch(message);
}

} // namespace

int main() {
    // The window binds the built adapter library where it lies, with no module attached.
    _putenv("WIRELOG_SIM=hw:off");
    const auto library = std::filesystem::absolute(WIRELOG_BENCH_ADAPTER_LIBRARY);
    Wirelog::Win32::Desktop quiet{
        [](const std::wstring& text) { std::fwprintf(stderr, L"message: %ls\n", text.c_str()); },
        [](OPENFILENAMEW&) { return false; },
        [](const DLGTEMPLATE&, HWND, DLGPROC, LPARAM) {}}; // no recording is opened here
    Wirelog::Win32::Form1View form({library.parent_path(), {}}, quiet);
    form.Load();
    SendMessageW(form.Control("cbAutoScroll"), BM_SETCHECK, BST_CHECKED, 0);
    Settle(form);

    Wirelog::bench::FillCapture();
    const double residentBefore = ResidentMegabytes();
    const auto start = Clock::now();
    form.Behaviour().UpdateLoggingWindow();
    const double drainMs = MillisecondsSince(start);
    Settle(form);
    const double totalMs = MillisecondsSince(start);
    const double addedMb = ResidentMegabytes() - residentBefore;
    HWND list = form.Control("listBox1");
    std::printf("Win32 list, full buffer: %u events -> %ld lines (top line %ld)\n",
                Wirelog::kEventCapacity, static_cast<long>(SendMessageW(list, LB_GETCOUNT, 0, 0)),
                static_cast<long>(SendMessageW(list, LB_GETTOPINDEX, 0, 0)));
    std::printf("  refresh %.0f ms, with the list's repaint %.0f ms\n", drainMs, totalMs);
    std::printf("  resident memory added %.1f MB; line store %.1f MB\n", addedMb,
                static_cast<double>(form.Behaviour().Lines().BytesReserved()) / 1048576.0);
    return 0;
}
