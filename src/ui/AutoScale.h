// SPDX-License-Identifier: MIT
#pragma once
// Automatic scaling in Qt's terms: the design's scaling (form/Design.h) with the character cell
// measured from a QFont. Fonts themselves are not scaled.
#include "form/Design.h"

#include <QRect>
#include <QSize>

class QFont;

namespace Wirelog {

inline constexpr QSize kDesignCellSize{kDesignCell.width, kDesignCell.height};

// A font's character cell: the average width of the 52 Latin letters, rounded to whole pixels,
// by the font's height.
QSize CharacterCell(const QFont& font);

class AutoScale {
public:
    explicit AutoScale(QSize cell) : scale_({cell.width(), cell.height()}) {}

    QRect Rect(const QRect& design) const {
        const DesignRect r = scale_.Rect({design.x(), design.y(), design.width(), design.height()});
        return {r.x, r.y, r.width, r.height};
    }
    QSize Size(const QSize& design) const {
        return {scale_.X(design.width()), scale_.Y(design.height())};
    }

private:
    DesignScale scale_;
};

} // namespace Wirelog
