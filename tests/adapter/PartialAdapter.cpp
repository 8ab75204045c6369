// A stand-in adapter library that lacks FT_Read, for the binding's missing-function path.
// Its other functions answer like a library with three devices and no traffic.
#include "ftd2xx.h"

#include <cstring>

extern "C" {

FTD2XX_API FT_STATUS FTD2XX_CALL FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    if (flags == FT_LIST_NUMBER_ONLY && arg1 != nullptr) {
        *static_cast<DWORD*>(arg1) = 3;
        return FT_OK;
    }
    if ((flags & FT_LIST_BY_INDEX) != 0 && arg2 != nullptr) {
        std::strcpy(static_cast<char*>(arg2), "partial");
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

FTD2XX_API FT_STATUS FTD2XX_CALL FT_Open(int, FT_HANDLE*) {
    return FT_DEVICE_NOT_FOUND;
}
FTD2XX_API FT_STATUS FTD2XX_CALL FT_Close(FT_HANDLE) {
    return FT_INVALID_HANDLE;
}
FTD2XX_API FT_STATUS FTD2XX_CALL FT_SetLatencyTimer(FT_HANDLE, UCHAR) {
    return FT_INVALID_HANDLE;
}
FTD2XX_API FT_STATUS FTD2XX_CALL FT_SetEventNotification(FT_HANDLE, DWORD, PVOID) {
    return FT_INVALID_HANDLE;
}
FTD2XX_API FT_STATUS FTD2XX_CALL FT_GetQueueStatus(FT_HANDLE, DWORD* rxBytes) {
    *rxBytes = 0;
    return FT_OK;
}
FTD2XX_API FT_STATUS FTD2XX_CALL FT_Write(FT_HANDLE, LPVOID, DWORD, LPDWORD) {
    return FT_INVALID_HANDLE;
}

} // extern "C"
