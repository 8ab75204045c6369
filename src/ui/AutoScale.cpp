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

int AutoScale::X(int design) const {
    return static_cast<int>(std::lround(double(design) * cell_.width() / kDesignCell.width()));
}

int AutoScale::Y(int design) const {
    return static_cast<int>(std::lround(double(design) * cell_.height() / kDesignCell.height()));
}

QRect AutoScale::Rect(const QRect& design) const {
    const int left = X(design.x());
    const int top = Y(design.y());
    return {left, top, X(design.x() + design.width()) - left,
            Y(design.y() + design.height()) - top};
}

QSize AutoScale::Size(const QSize& design) const {
    return {X(design.width()), Y(design.height())};
}

} // namespace Wirelog
