// SPDX-License-Identifier: MIT
#pragma once
// The simulated modules' test controls, resolved from the same adapter library file the
// binding under test loads (same path: the same loaded instance, the same devices).
#include "TestPlatform.h"
#include "wirelog_sim.h"

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#else
#include <dlfcn.h>
#endif

#include <stdexcept>
#include <string>
#include <vector>

namespace Wirelog::test {

inline constexpr const char* kAdapterLibraryPath = WIRELOG_TEST_ADAPTER_LIBRARY;

class SimControl {
public:
    void Configure(const std::string& text) {
        Check(Call<decltype(&WirelogSim_Configure)>("WirelogSim_Configure")(text.c_str()), text);
    }
    void SetFaults(int device, const std::string& faults) {
        Check(Call<decltype(&WirelogSim_SetFaults)>("WirelogSim_SetFaults")(device, faults.c_str()),
              faults);
    }
    bool Inject(int device, const std::vector<std::uint8_t>& bytes) {
        return Call<decltype(&WirelogSim_Inject)>("WirelogSim_Inject")(
                   device, bytes.data(), static_cast<std::uint32_t>(bytes.size())) == 0;
    }
    void Unplug(int device) {
        Check(Call<decltype(&WirelogSim_Unplug)>("WirelogSim_Unplug")(device), "unplug");
    }
    WirelogSimStats Stats(int device) {
        WirelogSimStats stats{};
        Check(Call<decltype(&WirelogSim_GetStats)>("WirelogSim_GetStats")(device, &stats), "stats");
        return stats;
    }

private:
    // Loads the file by its path, never a search; it stays loaded: the binding under test holds
    // it too.
    template <class Fn> static Fn Call(const char* name) {
#ifdef _WIN32
        static const HMODULE library =
            LoadLibraryExW(std::filesystem::absolute(kAdapterLibraryPath).c_str(), nullptr, 0);
        if (void* address =
                library ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr)
#else
        static void* const library = dlopen(kAdapterLibraryPath, RTLD_NOW | RTLD_LOCAL);
        if (void* address = library ? dlsym(library, name) : nullptr)
#endif
            return reinterpret_cast<Fn>(address);
        throw std::runtime_error(std::string("cannot bind ") + name + " in " + kAdapterLibraryPath);
    }
    static void Check(int result, const std::string& what) {
        if (result != 0)
            throw std::runtime_error("simulator refused: " + what);
    }
};

} // namespace Wirelog::test
