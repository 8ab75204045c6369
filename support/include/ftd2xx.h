// SPDX-License-Identifier: MIT
#pragma once
/*
 * The D2XX-compatible C interface of Wirelog's adapter library.
 *
 * Type widths, flag values and status codes follow FTDI's published D2XX API, so that FTDI's
 * own library can stand in for ours and ours for FTDI's. Only the calls Wirelog makes are
 * declared. All calls are safe to make from several threads at once, also on one handle;
 * a bad, stale or null argument yields a non-zero status, never a crash.
 */
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#define FTD2XX_CALL WINAPI
#ifdef WIRELOG_D2XX_BUILD
#define FTD2XX_API __declspec(dllexport)
#else
#define FTD2XX_API __declspec(dllimport)
#endif
#else
#include <pthread.h>
#define FTD2XX_CALL
#define FTD2XX_API __attribute__((visibility("default")))
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint8_t UCHAR;
typedef DWORD* LPDWORD;
typedef void* PVOID;
typedef void* LPVOID;

/* The receive-notification object of FTDI's Linux D2XX: the library sets iVar and signals
 * eCondVar under eMutex when bytes arrive. Wirelog creates it; the library only signals it. */
typedef struct _EVENT_HANDLE {
    pthread_cond_t eCondVar;
    pthread_mutex_t eMutex;
    int iVar;
} EVENT_HANDLE;
#endif

typedef PVOID FT_HANDLE;
typedef ULONG FT_STATUS;

enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_EEPROM_READ_FAILED = 11,
    FT_EEPROM_WRITE_FAILED = 12,
    FT_EEPROM_ERASE_FAILED = 13,
    FT_EEPROM_NOT_PRESENT = 14,
    FT_EEPROM_NOT_PROGRAMMED = 15,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
    FT_DEVICE_LIST_NOT_READY = 19
};

#define FT_OPEN_BY_SERIAL_NUMBER 1
#define FT_OPEN_BY_DESCRIPTION 2
#define FT_OPEN_BY_LOCATION 4

#define FT_LIST_NUMBER_ONLY 0x80000000
#define FT_LIST_BY_INDEX 0x40000000
#define FT_LIST_ALL 0x20000000
#define FT_LIST_MASK (FT_LIST_NUMBER_ONLY | FT_LIST_BY_INDEX | FT_LIST_ALL)

#define FT_EVENT_RXCHAR 1
#define FT_EVENT_MODEM_STATUS 2
#define FT_EVENT_LINE_STATUS 4

#ifdef __cplusplus
extern "C" {
#endif

/* FT_LIST_NUMBER_ONLY: pArg1 is a DWORD* that receives the device count, pArg2 is unused.
 * FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION or _SERIAL_NUMBER: pArg1 is the device index cast
 * to a pointer, pArg2 a buffer of at least 64 bytes that receives the zero-terminated text. */
FTD2XX_API FT_STATUS FTD2XX_CALL FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags);
FTD2XX_API FT_STATUS FTD2XX_CALL FT_Open(int deviceNumber, FT_HANDLE* pHandle);
FTD2XX_API FT_STATUS FTD2XX_CALL FT_Close(FT_HANDLE ftHandle);
FTD2XX_API FT_STATUS FTD2XX_CALL FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency);
FTD2XX_API FT_STATUS FTD2XX_CALL FT_SetEventNotification(FT_HANDLE ftHandle, DWORD Mask,
                                                         PVOID Param);
FTD2XX_API FT_STATUS FTD2XX_CALL FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes);
/* Returns at once when dwBytesToRead is within the queued count. */
FTD2XX_API FT_STATUS FTD2XX_CALL FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                                         LPDWORD lpBytesReturned);
FTD2XX_API FT_STATUS FTD2XX_CALL FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                                          LPDWORD lpBytesWritten);

#ifdef __cplusplus
}
#endif
