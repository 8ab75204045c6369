// SPDX-License-Identifier: MIT
// The main window as the user meets it: controls, captions, geometry scaled by the font's
// character cell, tab order, and the log list's behaviour on resizing.
#include "UiTestSupport.h"
#include "events/EventBuffer.h"
#include "ui/AutoScale.h"

#include <QApplication>
#include <QFontInfo>
#include <QScrollBar>

namespace Wirelog::testing {
namespace {

constexpr char kAutoScroll[] = "Always show latest results (auto-scroll)";
constexpr char kKeyHelp[] =
    "(Press 'C' at any time to clear the log window. Press 'S' to toggle Start/Stop.)";

struct ExpectedControl {
    const char* name;
    const char* caption;
    QRect design;
    bool sizedToText, shown, enabled;
};

const ExpectedControl kControls[] = {
    {"label2", "Module:", {12, 15, 67, 21}, false, true, true},
    {"bscan", "SCAN", {106, 12, 57, 20}, false, true, true},
    {"lbDevices", "", {14, 46, 149, 68}, false, true, true},
    {"label3", "Operating Mode:", {187, 15, 112, 21}, false, false, true},
    {"lbMode", "", {191, 46, 173, 68}, false, false, true},
    {"btnStartStop", "START", {304, 12, 60, 20}, false, true, true},
    {"cbAutoScroll", kAutoScroll, {380, 12, 273, 21}, true, true, true},
    {"labelMaxCount", "PWM Max Count:", {377, 38, 116, 13}, false, false, false},
    {"tbMaxCount", "", {380, 55, 114, 22}, false, false, false},
    {"labelValue", "PWM Value:", {377, 85, 116, 17}, false, false, false},
    {"tbValue", "", {380, 103, 113, 22}, false, false, false},
    {"cbOption1", "Fast Mode", {504, 37, 96, 21}, true, false, true},
    {"cbOption2", "Dual Output", {504, 69, 106, 21}, true, false, true},
    {"label1", "Results:", {500, 111, 57, 21}, false, true, true},
    {"bSave", "Save Log", {564, 106, 77, 23}, false, true, true},
    {"label4", kKeyHelp, {11, 117, 486, 17}, true, true, true},
    {"listBox1", "", {16, 137, 627, 124}, false, true, true},
};

// The application font set, while this lives, to one whose character cell is exactly `cell`.
class ApplicationFontWithCell {
public:
    explicit ApplicationFontWithCell(QSize cell) : previous_(QApplication::font()) {
        QFont font(QStringLiteral("DejaVu Sans"));
        for (int pixels = 4; pixels < 80 && QFontMetrics(font).height() != cell.height(); ++pixels)
            font.setPixelSize(pixels);
        const QString letters =
            QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
        const double width = QFontMetricsF(font).horizontalAdvance(letters) / letters.size();
        font.setLetterSpacing(QFont::AbsoluteSpacing, cell.width() - width);
        QApplication::setFont(font);
    }
    ~ApplicationFontWithCell() { QApplication::setFont(previous_); }

private:
    QFont previous_;
};

using WindowTest = UiTest;

// At the design cell every control sits where the design puts it, at twice the cell everything
// doubles; shown controls never overlap and Tab visits the five input controls in order.
TEST_F(WindowTest, ControlsFollowTheDesignScaledByTheCharacterCell) {
    for (const int factor : {1, 2}) {
        SCOPED_TRACE(factor);
        const ApplicationFontWithCell font(kDesignCell * factor);
        ASSERT_EQ(CharacterCell(QApplication::font()), kDesignCell * factor);
        Open("hw:off");
        EXPECT_EQ(window->windowTitle(), "Wirelog (TM) Protocol Analyzer - v1.003");
        const QList<QSize> iconSizes = window->windowIcon().availableSizes();
        EXPECT_TRUE(iconSizes.contains(QSize(16, 16)) && iconSizes.contains(QSize(32, 32)));
        EXPECT_EQ(window->size(), QSize(657, 302) * factor);
        EXPECT_NE(window->minimumSize(), window->maximumSize()) << "the window must be resizable";
        for (const ExpectedControl& expected : kControls) {
            SCOPED_TRACE(expected.name);
            QWidget& control = Child<QWidget>(*window, expected.name);
            EXPECT_EQ(control.property("text").toString(), expected.caption);
            EXPECT_EQ(control.isVisible(), expected.shown);
            EXPECT_EQ(control.isEnabled(), expected.enabled);
            EXPECT_FALSE(control.property("checked").toBool()); // the three check boxes
            EXPECT_EQ(control.pos(), expected.design.topLeft() * factor);
            if (expected.sizedToText) { // the whole caption shows
                EXPECT_GE(control.width(), control.sizeHint().width());
            } else {
                EXPECT_EQ(control.size(), expected.design.size() * factor);
            }
            for (const ExpectedControl& other : kControls)
                EXPECT_FALSE(
                    &other != &expected && expected.shown && other.shown &&
                    control.geometry().intersects(Child<QWidget>(*window, other.name).geometry()))
                    << "overlaps " << other.name;
        }
        EXPECT_EQ(Child<QWidget>(*window, "listBox1").font().pointSize(), 8);
        QStringList visited;
        for (int step = 0; step < 6; ++step) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(visited, (QStringList{"bscan", "lbDevices", "btnStartStop", "cbAutoScroll",
                                        "bSave", "bscan"}));
    }
}

// Resizing moves only the log list's right and bottom edges. The list: a fixed-pitch face, never
// a tab stop, sideways up to 600 pixels or further when a line is longer (the longest error
// lines are); a click toggles a line.
TEST_F(WindowTest, TheLogListFollowsTheWindowsSizeAndScrollsToItsLongestLine) {
    Open("hw:off");
    LogView& log = Child<LogView>(*window, "listBox1");
    EXPECT_TRUE(QFontInfo(log.font()).fixedPitch()) << QFontInfo(log.font()).family().toStdString();
    EXPECT_FALSE(log.focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(log.verticalScrollBar()->isVisible()) << "shown even while the list is empty";

    std::map<std::string, QRect> before;
    for (const ExpectedControl& expected : kControls)
        before[expected.name] = Child<QWidget>(*window, expected.name).geometry();
    const auto margins = [&] {
        return window->size() - QSize(log.geometry().right(), log.geometry().bottom());
    };
    const QSize designMargins = margins();
    QScrollBar& sideways = *log.horizontalScrollBar();
    const auto resizeTo = [&](QSize size, int scrollWidth) {
        window->resize(size);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return (scrollWidth == 0 || sideways.isVisible()) &&
                   sideways.maximum() == std::max(0, scrollWidth - log.viewport()->width());
        }));
        for (const ExpectedControl& expected : kControls)
            EXPECT_TRUE(std::string_view(expected.name) == "listBox1" ||
                        Child<QWidget>(*window, expected.name).geometry() == before[expected.name])
                << expected.name;
        EXPECT_EQ(log.pos(), before["listBox1"].topLeft());
        EXPECT_EQ(margins(), designMargins);
    };
    resizeTo({300, window->height() + 100}, LogView::kScrollWidth);

    StartNewCapture();
    AppendEvent(11, 0x0F, 0);
    for (int i = 0; i < 5; ++i)
        AppendEvent(9, static_cast<std::uint8_t>(i), 0);
    window->UpdateLoggingWindow();
    ASSERT_EQ(Log().data(Log().index(0, 0)).toString().size(), 107);
    resizeTo({310, window->height() - 40}, log.columnWidth(0));
    for (const int row : {2, 4, 2})
        QTest::mouseClick(log.viewport(), Qt::LeftButton, {},
                          log.visualRect(Log().index(row, 0)).center());
    EXPECT_EQ(log.selectionModel()->selectedRows(), QModelIndexList{Log().index(4, 0)});
    resizeTo({1000, window->height()}, 0);
    EXPECT_EQ(log.columnWidth(0), log.viewport()->width()) << "lines fill a wide view";
}

} // namespace
} // namespace Wirelog::testing
