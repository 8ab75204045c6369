#pragma once
// The simulated modules' test controls, resolved from the same adapter library file the
// binding under test loads (same path, so the same loaded instance and the same devices).
#include "wirelog_sim.h"

#include <dlfcn.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace Wirelog::test {

inline constexpr const char* kAdapterLibraryPath = WIRELOG_TEST_ADAPTER_LIBRARY;

class SimControl {
public:
    explicit SimControl(const std::string& libraryPath = kAdapterLibraryPath) {
        library_ = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr)
            throw std::runtime_error("cannot load " + libraryPath);
        configure_ = Resolve<decltype(&WirelogSim_Configure)>("WirelogSim_Configure");
        setFaults_ = Resolve<decltype(&WirelogSim_SetFaults)>("WirelogSim_SetFaults");
        inject_ = Resolve<decltype(&WirelogSim_Inject)>("WirelogSim_Inject");
        unplug_ = Resolve<decltype(&WirelogSim_Unplug)>("WirelogSim_Unplug");
        stats_ = Resolve<decltype(&WirelogSim_GetStats)>("WirelogSim_GetStats");
    }
    // The library stays loaded: the binding under test holds it too.
    ~SimControl() = default;

    void Configure(const std::string& text) {
        if (configure_(text.c_str()) != 0)
            throw std::runtime_error("bad simulator configuration: " + text);
    }
    void SetFaults(int device, const std::string& faults) {
        if (setFaults_(device, faults.c_str()) != 0)
            throw std::runtime_error("bad simulator faults: " + faults);
    }
    bool Inject(int device, const std::vector<std::uint8_t>& bytes) {
        return inject_(device, bytes.data(), static_cast<std::uint32_t>(bytes.size())) == 0;
    }
    void Unplug(int device) { unplug_(device); }
    WirelogSimStats Stats(int device) {
        WirelogSimStats stats{};
        if (stats_(device, &stats) != 0)
            throw std::runtime_error("no simulated device " + std::to_string(device));
        return stats;
    }

private:
    template <class Fn> Fn Resolve(const char* name) {
        void* address = dlsym(library_, name);
        if (address == nullptr)
            throw std::runtime_error(std::string("adapter library lacks ") + name);
        return reinterpret_cast<Fn>(address);
    }

    void* library_ = nullptr;
    decltype(&WirelogSim_Configure) configure_ = nullptr;
    decltype(&WirelogSim_SetFaults) setFaults_ = nullptr;
    decltype(&WirelogSim_Inject) inject_ = nullptr;
    decltype(&WirelogSim_Unplug) unplug_ = nullptr;
    decltype(&WirelogSim_GetStats) stats_ = nullptr;
};

} // namespace Wirelog::test
