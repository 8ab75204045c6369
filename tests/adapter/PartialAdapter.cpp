// A stand-in adapter library that lacks FT_Read, for the binding's missing-function path.
#include "ftd2xx.h"

extern "C" {
FTD2XX_API FT_STATUS FTD2XX_CALL FT_ListDevices(PVOID arg1, PVOID, DWORD flags) {
    if (flags != FT_LIST_NUMBER_ONLY || arg1 == nullptr)
        return FT_INVALID_PARAMETER;
    *static_cast<DWORD*>(arg1) = 3;
    return FT_OK;
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
FTD2XX_API FT_STATUS FTD2XX_CALL FT_GetQueueStatus(FT_HANDLE, DWORD*) {
    return FT_INVALID_HANDLE;
}
FTD2XX_API FT_STATUS FTD2XX_CALL FT_Write(FT_HANDLE, LPVOID, DWORD, LPDWORD) {
    return FT_INVALID_HANDLE;
}
}
