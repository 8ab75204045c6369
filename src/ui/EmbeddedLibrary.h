// SPDX-License-Identifier: MIT
#pragma once
// The adapter library's file image that the Qt build carries as a resource.
#include <cstddef>
#include <vector>

namespace Wirelog {

// The image the build embedded (wirelog_embed_library); empty when the program carries none.
std::vector<std::byte> EmbeddedSupportLibrary();

} // namespace Wirelog
