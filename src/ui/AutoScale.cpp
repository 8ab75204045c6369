// SPDX-License-Identifier: MIT
#include "ui/AutoScale.h"

#include <QFont>
#include <QFontMetrics>
#include <QFontMetricsF>

#include <cmath>

namespace Wirelog {

QSize CharacterCell(const QFont& font) {
    static const QString kLetters =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const double width = QFontMetricsF(font).horizontalAdvance(kLetters) / kLetters.size();
    return {static_cast<int>(std::lround(width)), QFontMetrics(font).height()};
}

} // namespace Wirelog
