// SPDX-License-Identifier: MIT
#pragma once
/*
 * Test control of the simulated capture modules inside Wirelog's adapter library.
 *
 * Only tests and tools call these; the program never does. Resolve them with dlsym or
 * GetProcAddress from the same library file whose FT_* functions are under test.
 *
 * Simulated devices are listed after the real FTDI devices, in configuration order. Every
 * entry point below names a simulated device by its position among the simulated devices
 * (0 for the first), which is its D2XX device index minus the number of real devices; with
 * "hw:off" in the configuration there are no real devices and the two numbers agree.
 *
 * Configuration text (the same in the environment variable WIRELOG_SIM, read at the
 * library's first use, and in WirelogSim_Configure):
 *
 *   demo                  one module "wirlg000", serial "SIM00001", endless demo traffic
 *   <path>                one module replaying a timed-batch file at its time stamps
 *   clause;clause;...     full form, clauses:
 *     hw:off              hide real FTDI devices
 *     dev:key=value,...   one simulated device; keys, all optional:
 *       desc=TEXT         description (default "wirlg000")
 *       serial=TEXT       serial number (default "SIM" and five digits: SIM00001, ...)
 *       stream=demo|idle|replay
 *                         what a start command begins: demo traffic (default), only the
 *                         code 0 (bytes then come from WirelogSim_Inject), or the file
 *       file=PATH         timed-batch file to replay (implies stream=replay)
 *       rate=N            pace the stream at N bytes per second instead of its own times
 *       open=fail         FT_Open fails with FT_DEVICE_NOT_OPENED
 *       status=fail       FT_GetQueueStatus fails with FT_IO_ERROR
 *       read=fail         FT_Read fails with FT_IO_ERROR and takes no byte
 *       read=half         FT_Read returns half the requested count (rounded down; 0 of 1)
 *       read=zero         FT_Read returns status 0 and no byte
 *       read=block        FT_Read waits block_ms (or until FT_Close) before it reads
 *       block_ms=N        length of read=block in milliseconds (default 1500)
 *       unplug=N          the device vanishes once N bytes of its stream have been emitted
 *
 * A device that has vanished is no longer listed, and every call on a handle to it fails
 * with FT_IO_ERROR except FT_Close, which succeeds once.
 */
#include <stdint.h>

#ifdef _WIN32
#ifdef WIRELOG_D2XX_BUILD
#define WIRELOG_SIM_API __declspec(dllexport)
#else
#define WIRELOG_SIM_API __declspec(dllimport)
#endif
#else
#define WIRELOG_SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What one simulated device has seen and done. Counters run from the last
 * WirelogSim_Configure (or the library's first use), except where noted. */
typedef struct WirelogSimStats {
    uint32_t present;        /* 1 while the device is listed, 0 once it has vanished */
    uint32_t open;           /* 1 while a handle to it is open */
    uint32_t opens;          /* successful FT_Open calls */
    uint32_t closes;         /* FT_Close calls that closed a handle to it */
    uint32_t start_commands; /* start commands (0x01 0xFE) received */
    uint32_t stop_commands;  /* stop commands (0xF0 0x0F) received */
    uint32_t streaming;      /* 1 between a start command and the next stop command */
    uint32_t reserved;
    uint64_t bytes_written;  /* bytes received from the host through FT_Write */
    uint64_t bytes_emitted;  /* stream bytes made readable since the last start command,
                                code 0 and injected bytes included */
    uint64_t events_emitted; /* events whose code byte is among bytes_emitted */
    uint64_t bytes_read;     /* bytes taken by FT_Read since the last start command */
    uint64_t bytes_queued;   /* bytes readable right now */
} WirelogSimStats;

/* Replaces all simulated devices with those of the configuration text (syntax above); a null
 * or empty text leaves none. Handles still open on the old devices behave as vanished ones.
 * Returns 0, or -1 with nothing changed when the text is malformed. */
WIRELOG_SIM_API int WirelogSim_Configure(const char* config);

/* Number of simulated devices configured, vanished ones included. */
WIRELOG_SIM_API int WirelogSim_DeviceCount(void);

/* Replaces the faults of one device; the text holds the fault keys of the configuration
 * (open=, status=, read=, block_ms=, unplug=), comma-separated; "" clears them all.
 * Takes effect at the device's next call. Returns 0, or -1 (bad device or text). */
WIRELOG_SIM_API int WirelogSim_SetFaults(int device, const char* faults);

/* Makes count bytes readable at once on an open device, as one arrival (one notification),
 * whether or not it is streaming. Returns 0, or -1 when the device is not open or unknown. */
WIRELOG_SIM_API int WirelogSim_Inject(int device, const uint8_t* bytes, uint32_t count);

/* The device vanishes now, as if unplugged. Returns 0, or -1 for an unknown device. */
WIRELOG_SIM_API int WirelogSim_Unplug(int device);

/* Fills *stats for one device. Returns 0, or -1 for an unknown device or a null pointer. */
WIRELOG_SIM_API int WirelogSim_GetStats(int device, WirelogSimStats* stats);

#ifdef __cplusplus
}
#endif
