// SPDX-License-Identifier: MIT
#include "events/Counter.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace Wirelog {

#ifdef _WIN32
std::int64_t QueryCounter() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

std::int64_t CounterFrequency() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
}
#else
std::int64_t QueryCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::int64_t CounterFrequency() {
    return 1'000'000'000;
}
#endif

} // namespace Wirelog
