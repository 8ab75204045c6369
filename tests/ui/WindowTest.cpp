// The main window as the user meets it: controls, captions, geometry and its scaling, focus and
// tab order, stacking, resizing, and the log list's settings.
#include "AutoScale.h"
#include "EventBuffer.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QFontInfo>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace Wirelog::testing {
namespace {

struct ExpectedControl {
    const char* name;
    const char* kind; // the Qt class standing in for the control kind
    const char* caption;
    QRect design;
    bool sizedToText, shown, enabled;
};

const ExpectedControl kControls[] = {
    {"label2", "QLabel", "Module:", {12, 15, 67, 21}, false, true, true},
    {"bscan", "QPushButton", "SCAN", {106, 12, 57, 20}, false, true, true},
    {"lbDevices", "QListWidget", "", {14, 46, 149, 68}, false, true, true},
    {"label3", "QLabel", "Operating Mode:", {187, 15, 112, 21}, false, false, true},
    {"lbMode", "QListWidget", "", {191, 46, 173, 68}, false, false, true},
    {"btnStartStop", "QPushButton", "START", {304, 12, 60, 20}, false, true, true},
    {"cbAutoScroll",
     "QCheckBox",
     "Always show latest results (auto-scroll)",
     {380, 12, 273, 21},
     true,
     true,
     true},
    {"labelMaxCount", "QLabel", "PWM Max Count:", {377, 38, 116, 13}, false, false, false},
    {"tbMaxCount", "QLineEdit", "", {380, 55, 114, 22}, false, false, false},
    {"labelValue", "QLabel", "PWM Value:", {377, 85, 116, 17}, false, false, false},
    {"tbValue", "QLineEdit", "", {380, 103, 113, 22}, false, false, false},
    {"cbOption1", "QCheckBox", "Fast Mode", {504, 37, 96, 21}, true, false, true},
    {"cbOption2", "QCheckBox", "Dual Output", {504, 69, 106, 21}, true, false, true},
    {"label1", "QLabel", "Results:", {500, 111, 57, 21}, false, true, true},
    {"bSave", "QPushButton", "Save Log", {564, 106, 77, 23}, false, true, true},
    {"label4",
     "QLabel",
     "(Press 'C' at any time to clear the log window. Press 'S' to toggle Start/Stop.)",
     {11, 117, 486, 17},
     true,
     true,
     true},
    {"listBox1", "QTableView", "", {16, 137, 627, 124}, false, true, true},
};

// Shown controls that overlap one another, by name.
std::vector<std::string> Overlaps(QWidget& window) {
    std::vector<std::string> overlaps;
    for (const ExpectedControl& a : kControls)
        for (const ExpectedControl& b : kControls)
            if (a.shown && b.shown && std::string_view(a.name) < b.name &&
                Child<QWidget>(window, a.name)
                    .geometry()
                    .intersects(Child<QWidget>(window, b.name).geometry()))
                overlaps.push_back(std::string(a.name) + "/" + b.name);
    return overlaps;
}

// The application font set, while this lives, to one whose character cell is exactly `cell`:
// a pixel size for the height, letter spacing for the width.
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

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = fixture.MakeWindow(); }

    void ShowAndActivate() {
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void ResizeTo(QSize size) {
        window->resize(size);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == size; }));
    }

    QWidget& Control(const char* name) { return Child<QWidget>(*window, name); }
    LogView& Log() { return Child<LogView>(*window, "listBox1"); }

    WindowFixture fixture;
    std::unique_ptr<Form1> window;
};

TEST_F(WindowTest, OpensWithEveryControlAsDesigned) {
    EXPECT_EQ(window->windowTitle(), "Wirelog (TM) Protocol Analyzer - v1.003");
    EXPECT_EQ(window->objectName(), "Form1");
    EXPECT_NE(window->minimumSize(), window->maximumSize()) << "the window must be resizable";
    ShowAndActivate();
    for (const ExpectedControl& expected : kControls) {
        SCOPED_TRACE(expected.name);
        QWidget& control = Control(expected.name);
        EXPECT_TRUE(control.inherits(expected.kind));
        EXPECT_EQ(control.property("text").toString(), expected.caption);
        EXPECT_EQ(control.isVisible(), expected.shown);
        EXPECT_EQ(control.isEnabled(), expected.enabled);
        EXPECT_EQ(control.property("checked").toBool(), false);
    }
    EXPECT_EQ(Child<QListWidget>(*window, "lbDevices").count(), 0);
    EXPECT_EQ(Child<QListWidget>(*window, "lbDevices").selectionMode(),
              QAbstractItemView::SingleSelection);
    EXPECT_EQ(Log().model()->rowCount(), 0);
    EXPECT_EQ(QApplication::focusWidget(), &Control("bscan"));

    QStringList bottomToTop;
    for (QObject* child : window->children())
        if (child->isWidgetType() && !static_cast<QWidget*>(child)->isWindow())
            bottomToTop.prepend(child->objectName());
    EXPECT_EQ(bottomToTop,
              (QStringList{"label4", "cbOption2", "cbOption1", "labelValue", "labelMaxCount",
                           "tbValue", "tbMaxCount", "cbAutoScroll", "listBox1", "label3", "lbMode",
                           "bSave", "label1", "bscan", "label2", "lbDevices", "btnStartStop"}));
}

TEST_F(WindowTest, TabCyclesThroughTheFiveInputControlsOnly) {
    ShowAndActivate();
    QStringList visited;
    for (int step = 0; step < 6; ++step) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        visited << focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(visited, (QStringList{"bscan", "lbDevices", "btnStartStop", "cbAutoScroll", "bSave",
                                    "bscan"}));
}

// At the design cell every control sits exactly where the design puts it; at twice the cell
// every position and size doubles, and the log's font stays as it is.
TEST(WindowScalingTest, GeometryFollowsTheCharacterCellOfTheDefaultFont) {
    WindowFixture fixture;
    for (const int factor : {1, 2}) {
        SCOPED_TRACE(factor);
        const ApplicationFontWithCell font(kDesignCell * factor);
        ASSERT_EQ(CharacterCell(QApplication::font()), kDesignCell * factor);
        const auto window = fixture.MakeWindow();
        EXPECT_EQ(window->size(), QSize(657, 302) * factor);
        for (const ExpectedControl& expected : kControls) {
            QWidget& control = Child<QWidget>(*window, expected.name);
            EXPECT_EQ(control.pos(), expected.design.topLeft() * factor) << expected.name;
            EXPECT_EQ(control.size(),
                      expected.sizedToText ? control.sizeHint() : expected.design.size() * factor)
                << expected.name;
        }
        EXPECT_EQ(Child<QWidget>(*window, "listBox1").font().pointSize(), 8);
        EXPECT_TRUE(Overlaps(*window).empty()) << ::testing::PrintToString(Overlaps(*window));
    }
}

TEST_F(WindowTest, ResizingMovesOnlyTheLogListsRightAndBottomEdges) {
    ShowAndActivate();
    std::map<std::string, QRect> before;
    for (const ExpectedControl& expected : kControls)
        before[expected.name] = Control(expected.name).geometry();
    const QRect log = Log().geometry();
    const QSize margins = window->size() - QSize(log.right() + 1, log.bottom() + 1);
    const AutoScale scale(CharacterCell(window->font()));
    EXPECT_NEAR(margins.width(), scale.X(14), 1);
    EXPECT_NEAR(margins.height(), scale.Y(41), 1);

    for (const QSize size : {window->size() + QSize(240, 180), window->size() - QSize(200, 60)}) {
        ResizeTo(size);
        for (const ExpectedControl& expected : kControls) {
            const bool follows = std::string_view(expected.name) == "listBox1";
            EXPECT_TRUE(follows || Control(expected.name).geometry() == before[expected.name])
                << expected.name;
        }
        const QRect now = Log().geometry();
        EXPECT_EQ(now.topLeft(), log.topLeft());
        EXPECT_EQ(window->size() - QSize(now.right() + 1, now.bottom() + 1), margins);
    }
}

// Sideways up to 600 pixels, or further when a line is longer: the longest error lines are.
TEST_F(WindowTest, LogListScrollsVerticallyAlwaysAndSidewaysToItsLongestLine) {
    ShowAndActivate();
    LogView& log = Log();
    QScrollBar& sideways = *log.horizontalScrollBar();
    EXPECT_TRUE(log.verticalScrollBar()->isVisible()) << "shown even while the list is empty";
    const auto scrollsTo = [&](int width) {
        return QTest::qWaitFor([&] {
            return sideways.isVisible() && sideways.maximum() == width - log.viewport()->width();
        });
    };

    ResizeTo({300, window->height()});
    EXPECT_TRUE(scrollsTo(LogView::kScrollWidth));

    StartNewCapture();
    AppendEvent(11, 0x0F, 0);
    window->UpdateLoggingWindow();
    const QString longest = log.model()->data(log.model()->index(0, 0)).toString();
    ASSERT_EQ(longest.size(), 107);
    EXPECT_GT(log.columnWidth(0), QFontMetrics(log.font()).horizontalAdvance(longest));
    EXPECT_TRUE(scrollsTo(log.columnWidth(0)));

    ResizeTo({1000, window->height()});
    EXPECT_EQ(log.columnWidth(0), log.viewport()->width()) << "lines fill a wide view";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !sideways.isVisible(); }));
    EXPECT_TRUE(log.verticalScrollBar()->isVisible());
}

// The generic fixed font is a proportional one on some systems; the fallback list must reach a
// real fixed-pitch face, and rows are exactly one line of it high.
TEST_F(WindowTest, LogListUsesAFixedPitchFontAndPlainRows) {
    LogView& log = Log();
    EXPECT_TRUE(QFontInfo(log.font()).fixedPitch()) << QFontInfo(log.font()).family().toStdString();
    EXPECT_EQ(log.font().pointSize(), 8);
    EXPECT_EQ(log.font().families().value(0), "Lucida Sans Typewriter");
    EXPECT_EQ(log.verticalHeader()->defaultSectionSize(), QFontMetrics(log.font()).height());
    EXPECT_EQ(log.viewport()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(log.focusPolicy() & Qt::TabFocus);
}

TEST_F(WindowTest, ClickingALogLineTogglesItsSelection) {
    StartNewCapture();
    for (int i = 0; i < 5; ++i)
        AppendEvent(9, static_cast<std::uint8_t>(i), 0);
    window->UpdateLoggingWindow();
    ShowAndActivate();
    LogView& log = Log();
    for (const int row : {1, 3, 1})
        QTest::mouseClick(log.viewport(), Qt::LeftButton, {},
                          log.visualRect(log.model()->index(row, 0)).center());
    const QModelIndexList selected = log.selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.front().row(), 3);
}

} // namespace
} // namespace Wirelog::testing
