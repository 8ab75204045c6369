// SPDX-License-Identifier: MIT
#pragma once
// Automatic scaling: the window is designed for a user-interface font whose character cell is
// 6 x 15 pixels; with another default font its geometry grows or shrinks in proportion, so
// that captions keep fitting their controls. Fonts themselves are not scaled.
#include <QRect>
#include <QSize>

class QFont;

namespace Wirelog {

inline constexpr QSize kDesignCell{6, 15};

// A font's character cell: the average width of the 52 Latin letters, rounded to whole pixels,
// by the font's height.
QSize CharacterCell(const QFont& font);

class AutoScale {
public:
    explicit AutoScale(QSize cell) : cell_(cell) {}

    // Edges are scaled, not widths, so controls that touch at the design size still touch.
    QRect Rect(const QRect& design) const;
    QSize Size(const QSize& design) const;
    int X(int design) const;
    int Y(int design) const;

private:
    QSize cell_;
};

} // namespace Wirelog
