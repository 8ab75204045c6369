// SPDX-License-Identifier: MIT
// The Qt window as a view: the controls' events reach the window's behaviour (clicks, list
// selections, keys through whichever control has the focus), and what the behaviour decides
// shows in the controls, the log list and the save dialog.
#include "UiTestSupport.h"

#include <QListWidget>

#include <optional>

namespace Wirelog::testing {
namespace {

class WindowEventsTest : public UiTest {
protected:
    QListWidget& Devices() { return Child<QListWidget>(*window, "lbDevices"); }
    int Selected() {
        const auto selected = Devices().selectedItems();
        return selected.isEmpty() ? -1 : Devices().row(selected.front());
    }
    void ClickDevice(int row, Qt::KeyboardModifiers modifiers = {}) {
        const QRect place = Devices().visualItemRect(Devices().item(row));
        QTest::mouseClick(Devices().viewport(), Qt::LeftButton, modifiers, place.center());
    }
};

// A click selects and test-opens a module; Ctrl+click on the chosen one keeps it chosen, as in
// a list box. Keys reach the behaviour from the focused list, each press once, repeats
// included. A START with no module chosen, by the button or by S, is refused once per press:
// the box takes the focus, and the S that opened it still counts once.
TEST_F(WindowEventsTest, ClicksSelectionsAndKeysReachTheBehaviourAndItsStateShows) {
    Open("hw:off;dev:;dev:stream=idle");
    EXPECT_EQ(Rows(*Devices().model()), (QStringList{"0 (s/n SIM00001)", "1 (s/n SIM00002)"}));
    EXPECT_EQ(Selected(), -1);
    for (const Qt::KeyboardModifiers modifiers : {Qt::NoModifier, Qt::ControlModifier}) {
        ClickDevice(1, modifiers);
        EXPECT_EQ(Selected(), 1);
        EXPECT_EQ(sim.Stats(1).opens, 1u);
    }
    Devices().setFocus();
    Press(Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(State(), "START, Save Log enabled");
    Press(Qt::Key_S, Qt::ShiftModifier);
    EXPECT_EQ(State(), "STOP, Save Log disabled");
    ASSERT_TRUE(WaitForRows(1)) << "the reader's refresh requests did not reach the log list";
    EXPECT_EQ(Rows(Log()), QStringList{kMonitoring});
    Press(Qt::Key_S, {}, true);
    EXPECT_EQ(State(), "START, Save Log enabled");
    Press(Qt::Key_C);
    EXPECT_EQ(Log().rowCount(), 0);

    Button("bscan").click();
    EXPECT_EQ(Selected(), -1);
    Button("btnStartStop").click();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{kNotActivated});
    Devices().setFocus();
    Press(Qt::Key_S);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>(2, kNotActivated));
    EXPECT_EQ(State(), "START, Save Log enabled");
}

// The dialog is set up as the behaviour says and offers the last name again; the file chosen
// gets the log.
TEST_F(WindowEventsTest, SaveLogAsksThroughTheDialogAndWritesTheChosenFile) {
    Open("hw:off");
    ShowEvents({1, 2});
    const QString path = File("bus.log");
    QStringList offered;
    for (const std::optional<QString>& answer : {std::optional(path), std::optional<QString>()}) {
        window->SetSaveDialogRunner([&](QFileDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), "Save Bus Activity Log");
            EXPECT_EQ(dialog.nameFilters(), QStringList{"Log Files (*.log)"});
            EXPECT_EQ(dialog.defaultSuffix(), "txt");
            EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
            offered << dialog.selectedFiles().value(0);
            return answer;
        });
        Button("bSave").click();
    }
    EXPECT_EQ(ReadFile(path.toStdString()), "\r\nSTART (valid)\r\nSTOP (*** BUS IS IDLE ***)\r\n");
    EXPECT_EQ(offered.last(), path);
}

} // namespace
} // namespace Wirelog::testing
