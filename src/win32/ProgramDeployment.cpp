// SPDX-License-Identifier: MIT
#include "win32/Form1View.h"

#include <windows.h>

#include <cstring>

namespace Wirelog::Win32 {

namespace {

constexpr WORD kLibraryResourceId = 255;
constexpr wchar_t kLibraryResourceType[] = L"BINARY";

} // namespace

std::vector<std::byte> EmbeddedSupportLibrary() {
    HMODULE program = GetModuleHandleW(nullptr);
    HRSRC resource =
        FindResourceW(program, MAKEINTRESOURCEW(kLibraryResourceId), kLibraryResourceType);
    if (resource == nullptr)
        return {};
    HGLOBAL loaded = LoadResource(program, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD length = SizeofResource(program, resource);
    if (bytes == nullptr || length == 0)
        return {};
    std::vector<std::byte> image(length);
    std::memcpy(image.data(), bytes, length);
    return image;
}

SupportLibraryDeployment ProgramDeployment() {
    std::error_code error;
    return {std::filesystem::current_path(error), EmbeddedSupportLibrary};
}

} // namespace Wirelog::Win32
