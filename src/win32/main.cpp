// SPDX-License-Identifier: MIT
// Wirelog's window program on Windows. Its one argument, when given, is a recording to open.
#include "win32/Form1View.h"

#include <objbase.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The window thread is a single-threaded apartment: the common dialogs rely on it.
    const HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        Wirelog::Win32::Form1View window(Wirelog::Win32::ProgramDeployment());
        if (auto recording = Wirelog::Win32::RecordingArgument(GetCommandLineW()))
            window.OpenRecordingOnLoad(std::move(*recording));
        Wirelog::Win32::RunMainWindow(window);
    }
    if (SUCCEEDED(apartment))
        CoUninitialize();
    return 0;
}
