// The main window as the user meets it: controls, captions, geometry and its scaling, focus and
// tab order, stacking, resizing, and the log list's settings.
#include "AutoScale.h"
#include "EventBuffer.h"
#include "UiTestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace Wirelog::testing {
namespace {

struct ControlSpec {
    const char* name;
    const char* kind; // Qt class standing in for the control kind
    QString caption;
    QRect design;
    bool sizedToText;
    bool shown;
    bool enabled;
};

const std::vector<ControlSpec>& Controls() {
    static const std::vector<ControlSpec> specs{
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
    return specs;
}

QString Caption(QWidget& control) {
    if (auto* button = qobject_cast<QAbstractButton*>(&control))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(&control))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(&control))
        return edit->text();
    return {};
}

// Shown controls that overlap one another, by name.
std::vector<std::string> Overlaps(QWidget& window) {
    std::vector<std::string> overlaps;
    const auto& specs = Controls();
    for (std::size_t i = 0; i < specs.size(); ++i)
        for (std::size_t j = i + 1; j < specs.size(); ++j) {
            if (!specs[i].shown || !specs[j].shown)
                continue;
            const QRect a = Child<QWidget>(window, specs[i].name).geometry();
            const QRect b = Child<QWidget>(window, specs[j].name).geometry();
            if (a.intersects(b))
                overlaps.push_back(std::string(specs[i].name) + "/" + specs[j].name);
        }
    return overlaps;
}

// Sets the application font to one whose character cell is exactly `cell`, restoring the
// previous font afterwards.
class ApplicationFontWithCell {
public:
    explicit ApplicationFontWithCell(QSize cell) : previous_(QApplication::font()) {
        QFont font(QStringLiteral("DejaVu Sans"));
        for (int pixels = 4; pixels < 80; ++pixels) {
            font.setPixelSize(pixels);
            if (QFontMetrics(font).height() == cell.height())
                break;
        }
        font.setLetterSpacing(QFont::AbsoluteSpacing, 0);
        const double width = CharacterCellWidth(font);
        font.setLetterSpacing(QFont::AbsoluteSpacing, cell.width() - width);
        QApplication::setFont(font);
    }
    ~ApplicationFontWithCell() { QApplication::setFont(previous_); }

    static double CharacterCellWidth(const QFont& font) {
        const QString letters =
            QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
        return QFontMetricsF(font).horizontalAdvance(letters) / letters.size();
    }

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

    QWidget& Control(const char* name) { return Child<QWidget>(*window, name); }
    LogView& Log() { return Child<LogView>(*window, "listBox1"); }

    WindowFixture fixture;
    std::unique_ptr<Form1> window;
};

TEST_F(WindowTest, OpensWithEveryControlAsDesigned) {
    EXPECT_EQ(window->windowTitle(), "Wirelog (TM) Protocol Analyzer - v1.003");
    EXPECT_EQ(window->objectName(), "Form1");
    EXPECT_TRUE(window->isWindow());
    EXPECT_NE(window->minimumSize(), window->maximumSize()) << "the window must be resizable";
    ShowAndActivate();
    for (const ControlSpec& spec : Controls()) {
        SCOPED_TRACE(spec.name);
        QWidget& control = Control(spec.name);
        EXPECT_TRUE(control.inherits(spec.kind));
        EXPECT_EQ(Caption(control), spec.caption);
        EXPECT_EQ(control.isVisible(), spec.shown);
        EXPECT_EQ(control.isEnabled(), spec.enabled);
        EXPECT_EQ(control.parentWidget(), window.get());
    }
    EXPECT_FALSE(Child<QCheckBox>(*window, "cbAutoScroll").isChecked());
    EXPECT_FALSE(Child<QCheckBox>(*window, "cbOption1").isChecked());
    EXPECT_FALSE(Child<QCheckBox>(*window, "cbOption2").isChecked());
    EXPECT_EQ(Child<QListWidget>(*window, "lbDevices").count(), 0);
    EXPECT_EQ(Child<QListWidget>(*window, "lbMode").count(), 0);
    EXPECT_EQ(Child<QListWidget>(*window, "lbDevices").selectionMode(),
              QAbstractItemView::SingleSelection);
    EXPECT_EQ(Log().model()->rowCount(), 0);
    EXPECT_EQ(QApplication::focusWidget(), &Control("bscan"));
}

TEST_F(WindowTest, ControlsStackInTheDesignedOrder) {
    QStringList bottomToTop;
    for (QObject* child : window->children())
        if (child->isWidgetType())
            bottomToTop.prepend(child->objectName());
    const QStringList topToBottom{
        "label4",     "cbOption2",    "cbOption1", "labelValue", "labelMaxCount", "tbValue",
        "tbMaxCount", "cbAutoScroll", "listBox1",  "label3",     "lbMode",        "bSave",
        "label1",     "bscan",        "label2",    "lbDevices",  "btnStartStop"};
    EXPECT_EQ(bottomToTop, topToBottom);
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
    EXPECT_FALSE(Log().focusPolicy() & Qt::TabFocus);
}

// At the design cell every control sits exactly where the design puts it; at twice the cell
// every position and size doubles, and the window's fonts stay as they are.
TEST(WindowScalingTest, GeometryFollowsTheCharacterCellOfTheDefaultFont) {
    WindowFixture fixture;
    for (const int factor : {1, 2}) {
        SCOPED_TRACE(factor);
        const ApplicationFontWithCell font(kDesignCell * factor);
        ASSERT_EQ(CharacterCell(QApplication::font()), kDesignCell * factor);
        const auto window = fixture.MakeWindow();
        EXPECT_EQ(window->size(), QSize(657, 302) * factor);
        for (const ControlSpec& spec : Controls()) {
            SCOPED_TRACE(spec.name);
            QWidget& control = Child<QWidget>(*window, spec.name);
            EXPECT_EQ(control.pos(), spec.design.topLeft() * factor);
            const QSize expected =
                spec.sizedToText ? control.sizeHint() : spec.design.size() * factor;
            EXPECT_EQ(control.size(), expected);
        }
        EXPECT_EQ(Child<QWidget>(*window, "listBox1").font().pointSize(), 8);
        EXPECT_TRUE(Overlaps(*window).empty()) << ::testing::PrintToString(Overlaps(*window));
    }
}

TEST(WindowScalingTest, CharacterCellOfAFixedPitchFontIsOneCharacter) {
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(20);
    const QFontMetrics metrics(mono);
    EXPECT_EQ(CharacterCell(mono),
              QSize(metrics.horizontalAdvance(QLatin1Char('x')), metrics.height()));
}

TEST_F(WindowTest, ShownControlsDoNotOverlapAtTheActualFont) {
    EXPECT_TRUE(Overlaps(*window).empty()) << ::testing::PrintToString(Overlaps(*window));
}

TEST_F(WindowTest, ResizingMovesOnlyTheLogListsRightAndBottomEdges) {
    ShowAndActivate();
    std::map<std::string, QRect> before;
    for (const ControlSpec& spec : Controls())
        before[spec.name] = Control(spec.name).geometry();
    const QRect log = Log().geometry();
    const int rightMargin = window->width() - log.right() - 1;
    const int bottomMargin = window->height() - log.bottom() - 1;
    const AutoScale scale(CharacterCell(window->font()));
    EXPECT_NEAR(rightMargin, scale.X(14), 1);
    EXPECT_NEAR(bottomMargin, scale.Y(41), 1);

    for (const QSize size : {window->size() + QSize(240, 180), window->size() - QSize(200, 60)}) {
        SCOPED_TRACE(::testing::PrintToString(std::make_pair(size.width(), size.height())));
        window->resize(size);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == size; }));
        for (const ControlSpec& spec : Controls()) {
            if (std::string(spec.name) != "listBox1") {
                EXPECT_EQ(Control(spec.name).geometry(), before[spec.name]) << spec.name;
            }
        }
        const QRect grown = Log().geometry();
        EXPECT_EQ(grown.topLeft(), log.topLeft());
        EXPECT_EQ(window->width() - grown.right() - 1, rightMargin);
        EXPECT_EQ(window->height() - grown.bottom() - 1, bottomMargin);
    }
}

TEST_F(WindowTest, LogListScrollsVerticallyAlwaysAndSidewaysToItsLongestLine) {
    ShowAndActivate();
    LogView& log = Log();
    EXPECT_TRUE(log.verticalScrollBar()->isVisible()) << "shown even while the list is empty";

    // Narrow enough that the list's inside is well under the scroll width.
    window->resize(300, window->height());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->width() == 300; }));
    ASSERT_LT(log.viewport()->width(), 300);
    QScrollBar& sideways = *log.horizontalScrollBar();
    EXPECT_TRUE(sideways.isVisible());
    EXPECT_EQ(sideways.maximum(), LogView::kScrollWidth - log.viewport()->width());

    // The longest error line is wider than 600 pixels; the scroll reaches its end.
    StartNewCapture();
    AppendEvent(11, 0x0F, 0);
    window->UpdateLoggingWindow();
    const QString longest = log.model()->data(log.model()->index(0, 0)).toString();
    ASSERT_EQ(longest.size(), 107);
    EXPECT_GT(log.columnWidth(0), QFontMetrics(log.font()).horizontalAdvance(longest));
    EXPECT_GT(log.columnWidth(0), LogView::kScrollWidth);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return sideways.maximum() == log.columnWidth(0) - log.viewport()->width();
    })) << sideways.maximum();

    window->resize(1000, window->height());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->width() == 1000; }));
    EXPECT_EQ(log.columnWidth(0), log.viewport()->width()) << "lines fill a wide view";
    EXPECT_EQ(sideways.maximum(), 0);
    // The bar is hidden by a layout pass that the scroll area queues for itself.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !sideways.isVisible(); }));
    EXPECT_TRUE(log.verticalScrollBar()->isVisible());
}

TEST_F(WindowTest, LogListUsesAFixedPitchFontAndPlainRows) {
    LogView& log = Log();
    const QFontInfo used(log.font());
    EXPECT_TRUE(used.fixedPitch()) << used.family().toStdString();
    EXPECT_EQ(log.font().pointSize(), 8);
    EXPECT_EQ(log.font().families().value(0), "Lucida Sans Typewriter");
    EXPECT_TRUE(log.font().families().contains(used.family()) ||
                used.family() == "Lucida Sans Typewriter")
        << "resolved to " << used.family().toStdString() << ", outside the fallback list";
    EXPECT_EQ(log.verticalHeader()->defaultSectionSize(), QFontMetrics(log.font()).height());
    EXPECT_EQ(log.viewport()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(log.testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_FALSE(log.horizontalHeader()->isVisible());
    EXPECT_FALSE(log.verticalHeader()->isVisible());
}

TEST_F(WindowTest, ClickingALogLineTogglesItsSelection) {
    StartNewCapture();
    for (int i = 0; i < 5; ++i)
        AppendEvent(9, static_cast<std::uint8_t>(i), 0);
    window->UpdateLoggingWindow();
    ShowAndActivate();
    LogView& log = Log();
    const auto click = [&](int row) {
        QTest::mouseClick(log.viewport(), Qt::LeftButton, {},
                          log.visualRect(log.model()->index(row, 0)).center());
    };
    const auto selected = [&] {
        std::vector<int> rows;
        for (const QModelIndex& index : log.selectionModel()->selectedRows())
            rows.push_back(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    click(1);
    click(3);
    EXPECT_EQ(selected(), (std::vector<int>{1, 3}));
    click(1);
    EXPECT_EQ(selected(), (std::vector<int>{3}));
}

} // namespace
} // namespace Wirelog::testing
