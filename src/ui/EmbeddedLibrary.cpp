// SPDX-License-Identifier: MIT
#include "ui/EmbeddedLibrary.h"

#include <QResource>

namespace Wirelog {

std::vector<std::byte> EmbeddedSupportLibrary() {
    const QResource resource(QStringLiteral(":/wirelog/wirlg000.dll"));
    if (!resource.isValid())
        return {};
    const QByteArray bytes = resource.uncompressedData();
    const auto* first = reinterpret_cast<const std::byte*>(bytes.constData());
    return {first, first + bytes.size()};
}

} // namespace Wirelog
