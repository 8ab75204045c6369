// SPDX-License-Identifier: MIT
// The exported D2XX calls and the simulator's test controls. Library state lives in one object
// made at first use, when WIRELOG_SIM is read.
#include "FtdiBackend.h"
#include "HandleTable.h"
#include "Overruns.h"
#include "ReplayFile.h"
#include "SimConfig.h"
#include "SimDevice.h"
#include "ftd2xx.h"
#include "wirelog_ext.h"
#include "wirelog_sim.h"

#include "busmonitor/CaptureMonitor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

namespace Wirelog::d2xx {

namespace {

constexpr std::size_t kTextBuffer = 64; // D2XX description and serial buffers

// One entry of the device list as last enumerated; indices refer to this snapshot.
struct ListedDevice {
    DeviceInfo info;
    std::optional<RealDevice> real;
    std::shared_ptr<SimDevice> sim;
};

class Library {
public:
    // Never destroyed, on purpose: a program may call in from an exit handler or from a thread
    // still running while exit() destroys statics, and must find the state alive. Its devices
    // are closed by the system with the process.
    static Library& Instance() {
        static Library& library = *new Library;
        return library;
    }

    FT_STATUS CountDevices(DWORD& count) {
        std::lock_guard lock(mutex_);
        RefreshLocked();
        count = static_cast<DWORD>(listed_.size());
        return FT_OK;
    }

    FT_STATUS DeviceText(DWORD index, DWORD which, char* buffer) {
        std::lock_guard lock(mutex_);
        if (!listedValid_) {
            RefreshLocked();
        }
        if (index >= listed_.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        const DeviceInfo& info = listed_[index].info;
        if (!info.readable) {
            return FT_DEVICE_NOT_OPENED;
        }
        const std::string& text =
            which == FT_OPEN_BY_SERIAL_NUMBER ? info.serial : info.description;
        const std::size_t length = std::min(text.size(), kTextBuffer - 1);
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
        return FT_OK;
    }

    FT_STATUS Open(int index, FT_HANDLE& handle) {
        ListedDevice device;
        {
            std::lock_guard lock(mutex_);
            if (!listedValid_) {
                RefreshLocked();
            }
            if (index < 0 || static_cast<std::size_t>(index) >= listed_.size()) {
                return FT_DEVICE_NOT_FOUND;
            }
            device = listed_[static_cast<std::size_t>(index)];
        }
        std::shared_ptr<Port> port;
        const FT_STATUS status =
            device.sim ? device.sim->Open(port) : OpenFtdiDevice(*device.real, port);
        if (status == FT_OK) {
            handle = handles_.Add(std::move(port));
        }
        return status;
    }

    std::shared_ptr<Port> Find(FT_HANDLE handle) const { return handles_.Find(handle); }
    std::shared_ptr<Port> Remove(FT_HANDLE handle) { return handles_.Remove(handle); }

    int Configure(const char* text) {
        std::string problem;
        auto devices = MakeSimDevices(text == nullptr ? "" : text, problem);
        if (!devices) {
            return -1;
        }
        std::lock_guard lock(mutex_);
        for (const auto& old : sims_) {
            old->Unplug();
        }
        sims_ = std::move(devices->second);
        hideHardware_ = devices->first;
        listedValid_ = false;
        return 0;
    }

    std::shared_ptr<SimDevice> Sim(int index) {
        std::lock_guard lock(mutex_);
        if (index < 0 || static_cast<std::size_t>(index) >= sims_.size()) {
            return nullptr;
        }
        return sims_[static_cast<std::size_t>(index)];
    }

    int SimCount() {
        std::lock_guard lock(mutex_);
        return static_cast<int>(sims_.size());
    }

private:
    using SimSet = std::pair<bool, std::vector<std::shared_ptr<SimDevice>>>;

    Library() {
        const char* text = std::getenv("WIRELOG_SIM");
        if (text == nullptr || *text == '\0') {
            return;
        }
        std::string problem;
        if (auto devices = MakeSimDevices(text, problem)) {
            hideHardware_ = devices->first;
            sims_ = std::move(devices->second);
        } else {
            // The one place the library speaks: a user who asked for a simulation and gets
            // no device must learn why.
            std::fprintf(stderr, "WIRELOG_SIM ignored: %s\n", problem.c_str());
        }
    }

    static std::optional<SimSet> MakeSimDevices(const std::string& text, std::string& problem) {
        const auto config = ParseSimConfig(text);
        if (!config) {
            problem = "malformed configuration '" + text + "'";
            return std::nullopt;
        }
        SimSet set{config->hideHardware, {}};
        for (SimDeviceConfig device : config->devices) {
            std::shared_ptr<const std::vector<TimedBatch>> replay;
            if (device.stream == StreamKind::Replay && !IsTimedBatchFile(device.file)) {
                if (!CheckCapture(device, problem)) {
                    return std::nullopt;
                }
            } else if (device.stream == StreamKind::Replay) {
                replay = LoadReplayFile(device.file, problem);
                if (!replay) {
                    return std::nullopt;
                }
            }
            set.second.push_back(std::make_shared<SimDevice>(device, std::move(replay)));
        }
        return set;
    }

    // A logic capture to replay through the bus monitor: its lines are settled and the file
    // is opened once now, so a bad one is reported at once rather than at the start command.
    static bool CheckCapture(SimDeviceConfig& device, std::string& problem) {
        const auto line = [](const std::optional<std::string>& given, const char* variable,
                             const char* fallback) {
            const char* text = std::getenv(variable);
            return given.value_or(text != nullptr && *text != '\0' ? text : fallback);
        };
        device.stream = StreamKind::Capture;
        device.scl = line(device.scl, "WIRELOG_SIM_SCL", "SCL");
        device.sda = line(device.sda, "WIRELOG_SIM_SDA", "SDA");
        try {
            CaptureMonitor check({device.file, "", *device.scl, *device.sda, {}});
        } catch (const CaptureError& error) {
            problem = error.what();
            return false;
        }
        return true;
    }

    void RefreshLocked() {
        listed_.clear();
        if (!hideHardware_) {
            for (RealDevice& real : EnumerateFtdiDevices()) {
                listed_.push_back({real.info, real, nullptr});
            }
        }
        for (const auto& sim : sims_) {
            if (sim->Present()) {
                listed_.push_back({sim->Info(), std::nullopt, sim});
            }
        }
        listedValid_ = true;
    }

    std::mutex mutex_;
    bool hideHardware_ = false;
    std::vector<std::shared_ptr<SimDevice>> sims_;
    std::vector<ListedDevice> listed_;
    bool listedValid_ = false;
    HandleTable handles_;
};

FT_STATUS ListAll(PVOID pArg1, PVOID pArg2, DWORD which) {
    auto** buffers = static_cast<char**>(pArg1);
    auto* count = static_cast<DWORD*>(pArg2);
    if (buffers == nullptr || count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    Library& library = Library::Instance();
    DWORD total = 0;
    if (const FT_STATUS status = library.CountDevices(total); status != FT_OK) {
        return status;
    }
    for (DWORD i = 0; i < total; ++i) {
        if (buffers[i] == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        if (library.DeviceText(i, which, buffers[i]) != FT_OK) {
            buffers[i][0] = '\0';
        }
    }
    *count = total;
    return FT_OK;
}

template <typename Call> FT_STATUS WithPort(FT_HANDLE handle, Call call) {
    const std::shared_ptr<Port> port = Library::Instance().Find(handle);
    return port ? call(*port) : FT_STATUS{FT_INVALID_HANDLE};
}

} // namespace

} // namespace Wirelog::d2xx

using Wirelog::d2xx::Library;
using Wirelog::d2xx::Port;

extern "C" {

FTD2XX_API FT_STATUS FTD2XX_CALL FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags) {
    const DWORD which = Flags & ~static_cast<DWORD>(FT_LIST_MASK);
    switch (Flags & FT_LIST_MASK) {
    case FT_LIST_NUMBER_ONLY:
        if (pArg1 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        return Library::Instance().CountDevices(*static_cast<DWORD*>(pArg1));
    case FT_LIST_BY_INDEX:
        if (pArg2 == nullptr ||
            (which != FT_OPEN_BY_DESCRIPTION && which != FT_OPEN_BY_SERIAL_NUMBER)) {
            return FT_INVALID_PARAMETER;
        }
        return Library::Instance().DeviceText(
            static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(pArg1)), which,
            static_cast<char*>(pArg2));
    case FT_LIST_ALL:
        if (which != FT_OPEN_BY_DESCRIPTION && which != FT_OPEN_BY_SERIAL_NUMBER) {
            return FT_INVALID_PARAMETER;
        }
        return Wirelog::d2xx::ListAll(pArg1, pArg2, which);
    default:
        return FT_INVALID_PARAMETER;
    }
}

FTD2XX_API FT_STATUS FTD2XX_CALL FT_Open(int deviceNumber, FT_HANDLE* pHandle) {
    if (pHandle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    return Library::Instance().Open(deviceNumber, *pHandle);
}

FTD2XX_API FT_STATUS FTD2XX_CALL FT_Close(FT_HANDLE ftHandle) {
    const std::shared_ptr<Port> port = Library::Instance().Remove(ftHandle);
    if (!port) {
        return FT_INVALID_HANDLE;
    }
    port->Close();
    return FT_OK;
}

FTD2XX_API FT_STATUS FTD2XX_CALL FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency) {
    return Wirelog::d2xx::WithPort(ftHandle,
                                   [&](Port& port) { return port.SetLatencyTimer(ucLatency); });
}

FTD2XX_API FT_STATUS FTD2XX_CALL FT_SetEventNotification(FT_HANDLE ftHandle, DWORD Mask,
                                                         PVOID Param) {
    return Wirelog::d2xx::WithPort(
        ftHandle, [&](Port& port) { return port.SetEventNotification(Mask, Param); });
}

FTD2XX_API FT_STATUS FTD2XX_CALL FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes) {
    if (dwRxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    return Wirelog::d2xx::WithPort(ftHandle,
                                   [&](Port& port) { return port.GetQueueStatus(*dwRxBytes); });
}

FTD2XX_API FT_STATUS FTD2XX_CALL FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                                         LPDWORD lpBytesReturned) {
    if (lpBytesReturned == nullptr || (lpBuffer == nullptr && dwBytesToRead > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *lpBytesReturned = 0;
    return Wirelog::d2xx::WithPort(ftHandle, [&](Port& port) {
        return port.Read(static_cast<std::uint8_t*>(lpBuffer), dwBytesToRead, *lpBytesReturned);
    });
}

FTD2XX_API FT_STATUS FTD2XX_CALL FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                                          LPDWORD lpBytesWritten) {
    if (lpBytesWritten == nullptr || (lpBuffer == nullptr && dwBytesToWrite > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *lpBytesWritten = 0;
    return Wirelog::d2xx::WithPort(ftHandle, [&](Port& port) {
        return port.Write(static_cast<const std::uint8_t*>(lpBuffer), dwBytesToWrite,
                          *lpBytesWritten);
    });
}

WIRELOG_SIM_API int WirelogSim_Configure(const char* config) {
    return Library::Instance().Configure(config);
}

WIRELOG_SIM_API int WirelogSim_DeviceCount(void) {
    return Library::Instance().SimCount();
}

WIRELOG_SIM_API int WirelogSim_SetFaults(int device, const char* faults) {
    const auto sim = Library::Instance().Sim(device);
    Wirelog::d2xx::SimFaults parsed;
    if (!sim || faults == nullptr || !Wirelog::d2xx::ParseSimFaults(faults, parsed)) {
        return -1;
    }
    sim->SetFaults(parsed);
    return 0;
}

WIRELOG_SIM_API int WirelogSim_Inject(int device, const uint8_t* bytes, uint32_t count) {
    const auto sim = Library::Instance().Sim(device);
    return sim && sim->Inject(bytes, count) ? 0 : -1;
}

WIRELOG_SIM_API int WirelogSim_Unplug(int device) {
    const auto sim = Library::Instance().Sim(device);
    if (!sim) {
        return -1;
    }
    sim->Unplug();
    return 0;
}

WIRELOG_SIM_API int WirelogSim_GetStats(int device, WirelogSimStats* stats) {
    const auto sim = Library::Instance().Sim(device);
    if (!sim || stats == nullptr) {
        return -1;
    }
    *stats = sim->Stats();
    return 0;
}

WIRELOG_EXT_API uint64_t WirelogExt_OverrunCount(void) {
    return Wirelog::d2xx::ChipOverrunTotal().load();
}

} // extern "C"
