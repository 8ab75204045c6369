// SPDX-License-Identifier: MIT
#pragma once
// The few operating-system calls the tests make themselves, for Linux and Windows alike:
// binding a library file by its path, the process id that keeps scratch names apart, and
// waiting for a condition with a deadline.
#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <chrono>
#include <string>
#include <thread>

namespace WirelogTest {

// Loads the file at that path (never a search) and keeps it loaded; null when it cannot.
inline void* OpenLibraryFile(const char* path) {
#ifdef _WIN32
    const std::filesystem::path full = std::filesystem::absolute(path);
    return reinterpret_cast<void*>(LoadLibraryExW(full.c_str(), nullptr, 0));
#else
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
}

inline void* LibrarySymbol(void* library, const char* name) {
    if (library == nullptr)
        return nullptr;
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
    return dlsym(library, name);
#endif
}

inline std::string ProcessId() {
#ifdef _WIN32
    return std::to_string(GetCurrentProcessId());
#else
    return std::to_string(getpid());
#endif
}

// Polls a real condition until it holds or the deadline passes.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    for (const auto deadline = std::chrono::steady_clock::now() + limit; !condition();) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace WirelogTest
