// SPDX-License-Identifier: MIT
// The main window as the user meets it: geometry scaled by the font's character cell, tab order,
// and the log list's behaviour on resizing and on refresh: stored events become rows, one
// insertion per refresh, and the view follows the newest line only when auto-scroll is on (it
// starts off).
#include "UiTestSupport.h"
#include "events/EventBuffer.h"
#include "ui/AutoScale.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QScrollBar>
#include <QSignalSpy>

#include <algorithm>

namespace Wirelog::testing {
namespace {

// The controls the user sees, at the design cell; the others are hidden for good.
const struct {
    const char* name;
    QRect design;
    bool sizedToText; // only placed: its size is its caption's
} kShown[] = {
    {"label2", {12, 15, 67, 21}, false},        {"bscan", {106, 12, 57, 20}, false},
    {"lbDevices", {14, 46, 149, 68}, false},    {"btnStartStop", {304, 12, 60, 20}, false},
    {"cbAutoScroll", {380, 12, 273, 21}, true}, {"label1", {500, 111, 57, 21}, false},
    {"bSave", {564, 106, 77, 23}, false},       {"label4", {11, 117, 486, 17}, true},
    {"listBox1", {16, 137, 627, 124}, false},
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

QList<QWidget*> Controls(QWidget& window) {
    return window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
}

using WindowTest = UiTest;

// At twice the design cell every shown control sits at twice the place the design gives it, and
// has twice its size unless sized to its caption; shown controls never overlap and Tab visits
// the five input controls.
TEST_F(WindowTest, ControlsFollowTheDesignScaledByTheCharacterCell) {
    const ApplicationFontWithCell font(kDesignCellSize * 2);
    ASSERT_EQ(CharacterCell(QApplication::font()), kDesignCellSize * 2);
    Open("hw:off");
    const QList<QSize> iconSizes = window->windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)) && iconSizes.contains(QSize(32, 32)));
    EXPECT_EQ(window->size(), QSize(657, 302) * 2);
    EXPECT_EQ(std::ranges::count_if(Controls(*window), &QWidget::isVisible), std::size(kShown));
    for (const auto& expected : kShown) {
        SCOPED_TRACE(expected.name);
        QWidget& control = Child<QWidget>(*window, expected.name);
        EXPECT_TRUE(control.isVisible());
        EXPECT_EQ(control.pos(), expected.design.topLeft() * 2);
        if (!expected.sizedToText) {
            EXPECT_EQ(control.size(), expected.design.size() * 2);
        }
        for (const auto& other : kShown)
            EXPECT_FALSE(&other != &expected && control.geometry().intersects(
                                                    Child<QWidget>(*window, other.name).geometry()))
                << "overlaps " << other.name;
    }
    QStringList visited;
    for (int step = 0; step < 6; ++step) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, (QStringList{"bscan", "lbDevices", "btnStartStop", "cbAutoScroll", "bSave",
                                    "bscan"}));
}

// Resizing moves only the log list's right and bottom edges. The list: a fixed-pitch face,
// sideways up to 600 pixels or further when a line is longer (the longest error lines are); a
// click toggles a line.
TEST_F(WindowTest, TheLogListFollowsTheWindowsSizeAndScrollsToItsLongestLine) {
    Open("hw:off");
    LogView& log = Child<LogView>(*window, "listBox1");
    EXPECT_TRUE(QFontInfo(log.font()).fixedPitch()) << QFontInfo(log.font()).family().toStdString();

    // Every control's place; the log list's as its top left and its margins to the window's size.
    const auto places = [&] {
        std::vector<QRect> all;
        for (const QWidget* control : Controls(*window))
            all.push_back(control == &log ? QRect(log.pos(), window->size() - log.size())
                                          : control->geometry());
        return all;
    };
    const std::vector<QRect> before = places();
    QScrollBar& sideways = *log.horizontalScrollBar();
    const auto resizeTo = [&](QSize size, int scrollWidth) {
        window->resize(size);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return (scrollWidth == 0 || sideways.isVisible()) &&
                   sideways.maximum() == std::max(0, scrollWidth - log.viewport()->width());
        }));
        EXPECT_EQ(places(), before);
    };
    resizeTo({300, window->height() + 100}, LogView::kScrollWidth);

    ShowEvents({11, 9, 9, 9, 9, 9});
    ASSERT_EQ(Log().data(Log().index(0, 0)).toString().size(), 107);
    resizeTo({310, window->height() - 40}, log.columnWidth(0));
    EXPECT_GE(log.columnWidth(0), QFontMetrics(log.font()).horizontalAdvance(Rows(Log()).first()));
    for (const int row : {2, 4, 2})
        QTest::mouseClick(log.viewport(), Qt::LeftButton, {},
                          log.visualRect(Log().index(row, 0)).center());
    EXPECT_EQ(log.selectionModel()->selectedRows(), QModelIndexList{Log().index(4, 0)});
    resizeTo({1000, window->height()}, 0);
    EXPECT_EQ(log.columnWidth(0), log.viewport()->width()) << "lines fill a wide view";
}

// With auto-scroll the view ends at the newest line after each refresh; without it the view
// stays where the user left it. A refresh that finds nothing moves neither and inserts nothing.
TEST_F(WindowTest, TheLogViewFollowsTheNewestLineOnlyWithAutoScroll) {
    Open("hw:off");
    ShowEvents({0});
    const QAbstractItemModelTester tester(&Log(),
                                          QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&Log(), &QAbstractItemModel::rowsInserted);
    QScrollBar& vertical = *Child<LogView>(*window, "listBox1").verticalScrollBar();
    for (const bool autoScroll : {false, true}) {
        SCOPED_TRACE(autoScroll);
        if (autoScroll)
            Child<QCheckBox>(*window, "cbAutoScroll").click();
        for (int round = 0; round < 3; ++round) {
            vertical.setValue(vertical.maximum() / 2);
            const int where = vertical.value();
            const int rows = Log().rowCount();
            for (int i = 0; i < 30; ++i)
                for (const std::uint8_t code : {1, 7, 9, 2})
                    AppendEvent(code, 0xA0, round * 100 + i);
            window->UpdateLoggingWindow();
            EXPECT_EQ(Log().rowCount(), rows + 30 * 5);
            ASSERT_TRUE(QTest::qWaitFor([&] { return vertical.maximum() > where; }));
            EXPECT_EQ(vertical.value(), autoScroll ? vertical.maximum() : where);
            vertical.setValue(where);
            window->UpdateLoggingWindow();
            EXPECT_EQ(vertical.value(), where) << "an empty refresh moved the view";
        }
    }
    EXPECT_EQ(inserted.count(), 6) << "one insertion per refresh that finds events";
}

} // namespace
} // namespace Wirelog::testing
