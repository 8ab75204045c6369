// SPDX-License-Identifier: MIT
#pragma once
// The window's design, the same for every view: each control's name, kind, caption and place
// at the design character cell of 6 x 15 pixels, and the scaling to the cell of the actual
// user-interface font. Views create their controls from this table.
#include <array>
#include <cmath>
#include <string_view>

namespace Wirelog {

struct DesignRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const DesignRect&) const = default;
};

struct DesignCell {
    int width = 0;
    int height = 0;
};

inline constexpr DesignCell kDesignCell{6, 15};
inline constexpr int kDesignClientWidth = 657;
inline constexpr int kDesignClientHeight = 302;

enum class ControlKind { Label, Button, ListBox, CheckBox, TextBox, LogList };

struct ControlDesign {
    std::string_view name;
    ControlKind kind;
    std::string_view caption; // empty for controls without one
    DesignRect place;         // at the design cell
    bool sizedToText;         // takes its caption's size and keeps only its position
    bool shown;               // hidden controls are never shown
    bool enabled;
};

// In stacking order, from the bottom up: each control lies above the ones before it.
inline constexpr std::array<ControlDesign, 17> kControls{{
    {"btnStartStop", ControlKind::Button, "START", {304, 12, 60, 20}, false, true, true},
    {"lbDevices", ControlKind::ListBox, "", {14, 46, 149, 68}, false, true, true},
    {"label2", ControlKind::Label, "Module:", {12, 15, 67, 21}, false, true, true},
    {"bscan", ControlKind::Button, "SCAN", {106, 12, 57, 20}, false, true, true},
    {"label1", ControlKind::Label, "Results:", {500, 111, 57, 21}, false, true, true},
    {"bSave", ControlKind::Button, "Save Log", {564, 106, 77, 23}, false, true, true},
    {"lbMode", ControlKind::ListBox, "", {191, 46, 173, 68}, false, false, true},
    {"label3", ControlKind::Label, "Operating Mode:", {187, 15, 112, 21}, false, false, true},
    {"listBox1", ControlKind::LogList, "", {16, 137, 627, 124}, false, true, true},
    {"cbAutoScroll",
     ControlKind::CheckBox,
     "Always show latest results (auto-scroll)",
     {380, 12, 273, 21},
     true,
     true,
     true},
    {"tbMaxCount", ControlKind::TextBox, "", {380, 55, 114, 22}, false, false, false},
    {"tbValue", ControlKind::TextBox, "", {380, 103, 113, 22}, false, false, false},
    {"labelMaxCount",
     ControlKind::Label,
     "PWM Max Count:",
     {377, 38, 116, 13},
     false,
     false,
     false},
    {"labelValue", ControlKind::Label, "PWM Value:", {377, 85, 116, 17}, false, false, false},
    {"cbOption1", ControlKind::CheckBox, "Fast Mode", {504, 37, 96, 21}, true, false, true},
    {"cbOption2", ControlKind::CheckBox, "Dual Output", {504, 69, 106, 21}, true, false, true},
    {"label4",
     ControlKind::Label,
     "(Press 'C' at any time to clear the log window. Press 'S' to toggle Start/Stop.)",
     {11, 117, 486, 17},
     true,
     true,
     true},
}};

// The focus order of the controls that take the focus; hidden ones are skipped while hidden,
// and the log list is reached with the mouse only.
inline constexpr std::array<std::string_view, 10> kTabOrder{
    "bscan",      "lbDevices", "lbMode", "btnStartStop", "cbAutoScroll",
    "tbMaxCount", "tbValue",   "bSave",  "cbOption1",    "cbOption2"};

// The design scaled to the cell of the actual font. Edges are scaled, not widths, so controls
// that touch at the design size still touch.
class DesignScale {
public:
    explicit DesignScale(DesignCell cell) : cell_(cell) {}
    int X(int design) const { return Scaled(design, cell_.width, kDesignCell.width); }
    int Y(int design) const { return Scaled(design, cell_.height, kDesignCell.height); }
    DesignRect Rect(const DesignRect& design) const {
        const int left = X(design.x);
        const int top = Y(design.y);
        return {left, top, X(design.x + design.width) - left, Y(design.y + design.height) - top};
    }

private:
    static int Scaled(int design, int actual, int base) {
        return static_cast<int>(std::lround(double(design) * actual / base));
    }
    DesignCell cell_;
};

} // namespace Wirelog
