// SPDX-License-Identifier: MIT
// A stand-in adapter library with FT_ListDevices alone, for the binding's missing-function path:
// it lists three modules that cannot be opened.
#include "ftd2xx.h"

#include <cstring>

extern "C" FTD2XX_API FT_STATUS FTD2XX_CALL FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) && arg2 != nullptr) {
        std::strcpy(static_cast<char*>(arg2), "wirlg000");
        return FT_OK;
    }
    if (flags != FT_LIST_NUMBER_ONLY || arg1 == nullptr)
        return FT_INVALID_PARAMETER;
    *static_cast<DWORD*>(arg1) = 3;
    return FT_OK;
}
