// SPDX-License-Identifier: MIT
#include "adapter/AdapterLibrary.h"

#ifdef _WIN32
#include <filesystem>
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace Wirelog {

namespace {

constexpr const char* kFunctionNames[kAdapterFunctionCount] = {
    "FT_ListDevices",          "FT_Open",           "FT_Close", "FT_SetLatencyTimer",
    "FT_SetEventNotification", "FT_GetQueueStatus", "FT_Read",  "FT_Write",
};

#ifdef _WIN32
std::string WindowsErrorText(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return (message.empty() ? "Windows error" : message) + " (" + std::to_string(code) + ")";
}

// LoadLibrary with a full path loads that file and no other; a bare name would be searched for,
// so it is made the full path of the file in the current directory. The path is UTF-8.
void* LoadLibraryFile(const std::string& path, std::string& error) {
    const std::u8string text(reinterpret_cast<const char8_t*>(path.data()), path.size());
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(std::filesystem::path(text), ec);
    HMODULE library = ec ? nullptr : LoadLibraryW(full.c_str());
    if (library == nullptr)
        error = WindowsErrorText(ec ? ERROR_BAD_PATHNAME : GetLastError());
    return reinterpret_cast<void*>(library);
}

void* LookUp(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
// dlopen searches the library path only for a name without a slash, so a bare name is made
// explicit as a file in the current directory.
void* LoadLibraryFile(const std::string& path, std::string& error) {
    const std::string explicitPath = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    void* library = dlopen(explicitPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "unknown error";
    }
    return library;
}

void* LookUp(void* library, const char* name) {
    return dlsym(library, name);
}
#endif

} // namespace

std::string_view AdapterFunctionName(AdapterFunction function) {
    return kFunctionNames[static_cast<std::size_t>(function)];
}

AdapterLibrary::AdapterLibrary(std::string path, Report report)
    : path_(std::move(path)), report_(std::move(report)) {}

void* AdapterLibrary::Address(AdapterFunction function) {
    Slot& slot = slots_[static_cast<std::size_t>(function)];
    void* address = slot.address.load(std::memory_order_acquire);
    if (address != nullptr || slot.resolved.load(std::memory_order_acquire))
        return address;
    return Resolve(function);
}

void* AdapterLibrary::Resolve(AdapterFunction function) {
    Slot& slot = slots_[static_cast<std::size_t>(function)];
    std::string failure;
    void* address = nullptr;
    {
        std::lock_guard lock(bindMutex_);
        if (slot.resolved.load(std::memory_order_relaxed))
            return slot.address.load(std::memory_order_relaxed);
        const bool firstLoad = !loadTried_;
        const std::string loadError = LoadOnce();
        const char* name = kFunctionNames[static_cast<std::size_t>(function)];
        if (library_ != nullptr) {
            address = LookUp(library_, name);
            if (address == nullptr)
                failure = "The adapter library \"" + path_ + "\" has no function " + name + ".";
        } else if (firstLoad) {
            // An unloadable file is reported once, not once per function.
            failure = "Couldn't load the adapter library \"" + path_ + "\" (" + loadError + "); " +
                      name + " cannot be called.";
        }
        slot.address.store(address, std::memory_order_release);
        slot.resolved.store(true, std::memory_order_release);
    }
    // Outside the lock: the report may wait for the user while other threads call on.
    if (!failure.empty() && report_)
        report_(failure);
    return address;
}

std::string AdapterLibrary::LoadOnce() {
    if (loadTried_)
        return {};
    loadTried_ = true;
    std::string error;
    library_ = LoadLibraryFile(path_, error);
    return error;
}

void AdapterLibrary::BindNow(std::span<const AdapterFunction> functions) {
    for (AdapterFunction function : functions)
        Address(function);
}

FT_STATUS AdapterLibrary::ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    return Call<decltype(&FT_ListDevices)>(AdapterFunction::ListDevices, arg1, arg2, flags);
}

FT_STATUS AdapterLibrary::Open(int deviceNumber, FT_HANDLE* handle) {
    return Call<decltype(&FT_Open)>(AdapterFunction::Open, deviceNumber, handle);
}

FT_STATUS AdapterLibrary::Close(FT_HANDLE handle) {
    return Call<decltype(&FT_Close)>(AdapterFunction::Close, handle);
}

FT_STATUS AdapterLibrary::SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs) {
    return Call<decltype(&FT_SetLatencyTimer)>(AdapterFunction::SetLatencyTimer, handle, latencyMs);
}

FT_STATUS AdapterLibrary::SetEventNotification(FT_HANDLE handle, DWORD mask, PVOID param) {
    return Call<decltype(&FT_SetEventNotification)>(AdapterFunction::SetEventNotification, handle,
                                                    mask, param);
}

FT_STATUS AdapterLibrary::GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return Call<decltype(&FT_GetQueueStatus)>(AdapterFunction::GetQueueStatus, handle, rxBytes);
}

FT_STATUS AdapterLibrary::Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                               LPDWORD bytesReturned) {
    return Call<decltype(&FT_Read)>(AdapterFunction::Read, handle, buffer, bytesToRead,
                                    bytesReturned);
}

FT_STATUS AdapterLibrary::Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                                LPDWORD bytesWritten) {
    return Call<decltype(&FT_Write)>(AdapterFunction::Write, handle, buffer, bytesToWrite,
                                     bytesWritten);
}

} // namespace Wirelog
