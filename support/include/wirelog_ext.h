// SPDX-License-Identifier: MIT
#pragma once
/*
 * Wirelog's extension to the D2XX interface of its adapter library. FTDI's own library lacks
 * it: resolve it with dlsym or GetProcAddress and treat its absence as "not known".
 */
#include <stdint.h>

#ifdef _WIN32
#ifdef WIRELOG_D2XX_BUILD
#define WIRELOG_EXT_API __declspec(dllexport)
#else
#define WIRELOG_EXT_API __declspec(dllimport)
#endif
#else
#define WIRELOG_EXT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Packets in which a real module's USB chip reported an overrun (its buffer toward the
 * computer was full and bytes were lost), all devices together, since the library was loaded.
 * Read it before and after a capture for that capture's count. */
WIRELOG_EXT_API uint64_t WirelogExt_OverrunCount(void);

#ifdef __cplusplus
}
#endif
