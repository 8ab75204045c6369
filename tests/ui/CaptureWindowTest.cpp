// SPDX-License-Identifier: MIT
// The window driving captures on simulated modules: the module list, START/STOP, SCAN and
// selection, the C and S keys, the reader's messages, closing the window mid-capture and Save Log.
#include "UiTestSupport.h"
#include "events/EventBuffer.h"

#include <QListWidget>

#include <functional>
#include <optional>
#include <utility>

namespace Wirelog::testing {
namespace {

class WindowCaptureTest : public UiTest {
protected:
    QListWidget& Devices() { return Child<QListWidget>(*window, "lbDevices"); }
    int Selected() {
        const auto selected = Devices().selectedItems();
        return selected.isEmpty() ? -1 : Devices().row(selected.front());
    }
    // Starts a capture and waits for the module's first line.
    void Start() {
        Button("btnStartStop").click();
        ASSERT_EQ(State(), "STOP, Save Log disabled");
        ASSERT_TRUE(WaitForRows(1));
        ASSERT_EQ(Rows(Log()), QStringList{kMonitoring});
    }
    void Send(const std::vector<std::uint8_t>& bytes, const QStringList& rowsAfter) {
        ASSERT_TRUE(sim.Inject(0, bytes));
        ASSERT_TRUE(WaitForRows(static_cast<int>(rowsAfter.size())));
        EXPECT_EQ(Rows(Log()), rowsAfter);
    }
    // Save Log, with the user answering the dialog by `answer` (nothing: cancel). Run as the
    // button's click would, also while a capture disables the button.
    void Save(const std::optional<QString>& answer) {
        window->SetSaveDialogRunner([this, answer](QFileDialog& dialog) {
            offered << dialog.selectedFiles().value(0);
            return answer;
        });
        emit Button("bSave").clicked();
    }

    QStringList offered; // the file name each dialog offered
};

// Only the sole module is selected, and selecting it test-opens it; SCAN does it all again.
// START then works only with a selected module that opens, and a failed START leaves the log.
// The box that says so takes the focus; the S that opened it still counts once.
TEST_F(WindowCaptureTest, TheOnlyModuleIsSelectedAndTestOpenedAtLoadAndAfterScan) {
    const struct {
        const char* modules;
        int devices;
        QStringList entries;
        int selected;
        bool starts; // the selected module opens: test-opened once per scan, and START works
    } cases[] = {
        {"hw:off", 0, {}, -1, false},
        {"hw:off;dev:desc=WIRLG000;dev:serial=A1", 2, {"1 (s/n A1)"}, 0, true},
        {"hw:off;dev:;dev:", 2, {"0 (s/n SIM00001)", "1 (s/n SIM00002)"}, -1, false},
        {"hw:off;dev:open=fail", 1, {"0 (s/n SIM00001)"}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.modules);
        messages.all.clear();
        const std::size_t failedTestOpens = c.selected >= 0 && !c.starts ? 1 : 0;
        Open(c.modules);
        for (const std::uint32_t scans : {1u, 2u}) {
            EXPECT_EQ(Rows(*Devices().model()), c.entries);
            EXPECT_EQ(Selected(), c.selected);
            std::uint32_t opens = 0;
            for (int device = 0; device < c.devices; ++device)
                opens += sim.Stats(device).opens;
            EXPECT_EQ(opens, c.starts ? scans : 0u);
            EXPECT_EQ(messages.Texts(), std::vector(failedTestOpens * scans, kNotActivated));
            if (scans == 1)
                Button("bscan").click();
        }
        ShowEvents({1});
        Devices().setFocus();
        Press(Qt::Key_S);
        EXPECT_EQ(State(), c.starts ? "STOP, Save Log disabled" : "START, Save Log enabled");
        EXPECT_EQ(messages.all.size(), failedTestOpens * 2 + (c.starts ? 0 : 1));
        EXPECT_EQ(Rows(Log()), c.starts ? QStringList() : (QStringList{"", kStartLine}));
    }
}

// Two captures, one by the button and one by the S key: each starts on an empty log, and the
// reader's events reach it through its refresh requests. STOP sends the stop command and closes
// the module, also while the reader's message waits for the user; closing the window sends
// none, leaving the module streaming and its close to the reader.
TEST_F(WindowCaptureTest, CapturesReachTheLogAndTheMessagesAndStopOrClosingEndThem) {
    Open("hw:off;dev:stream=idle");
    Start();
    Send({0x01}, {kMonitoring, "", kStartLine});
    sim.SetFaults(0, "read=fail");
    ASSERT_TRUE(sim.Inject(0, {0x01}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.all.empty(); }));
    Button("btnStartStop").click();
    EXPECT_EQ(State(), "START, Save Log enabled");
    WirelogSimStats stats = sim.Stats(0);
    EXPECT_TRUE(stats.stop_commands == 1 && stats.open == 0 && stats.streaming == 0);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"RError!"});
    EXPECT_TRUE(messages.all.back().closed) << "no closing to report: the reader would not wait";
    sim.SetFaults(0, "");

    Press(Qt::Key_S);
    ASSERT_EQ(State(), "STOP, Save Log disabled");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Rows(Log()) == QStringList{kMonitoring}; }));
    window.reset();
    stats = sim.Stats(0);
    EXPECT_TRUE(stats.start_commands == 2 && stats.open == 0 && stats.streaming == 1);
    EXPECT_EQ(stats.stop_commands, 1u);
}

// C and S act unless Alt or Ctrl is held, and each repeat of a held key counts. C clears the
// list only: a capture goes on, and the next START's gap is still measured from the stop before
// it. A full buffer shows exactly its 999,999 events, and the next capture starts from none.
TEST_F(WindowCaptureTest, CAndSActUnlessAltOrCtrlIsHeldAndCKeepsTheStopTime) {
    Open("hw:off;dev:stream=idle");
    for (const auto& [keys, acts] : {std::pair{"Shift+C", true},
                                     {"Ctrl+C", false},
                                     {"Shift+S", true},
                                     {"Alt+Shift+S", false}}) {
        SCOPED_TRACE(keys);
        const QKeyCombination key = QKeySequence(QString::fromLatin1(keys))[0];
        ShowEvents({2});
        const std::string before = State();
        Press(key.key(), key.keyboardModifiers());
        EXPECT_TRUE(key.key() != Qt::Key_C || (Log().rowCount() == 0) == acts);
        EXPECT_EQ(State() != before, acts && key.key() == Qt::Key_S);
    }
    Press(Qt::Key_S, {}, true);
    ASSERT_EQ(State(), "START, Save Log enabled") << "a repeat did not stop the capture";
    Start();
    Send({0x02}, {kMonitoring, "STOP (*** BUS IS IDLE ***)"});
    Press(Qt::Key_C);
    ASSERT_TRUE(sim.Inject(0, {0x01}));
    ASSERT_TRUE(WaitForRows(2));
    EXPECT_TRUE(Rows(Log()).last().startsWith("START (valid) [Gap from last Stop = "))
        << Rows(Log()).last().toStdString();
    Button("btnStartStop").click();

    ShowEvents(std::vector<std::uint8_t>(kEventCapacity + 5, 2));
    EXPECT_EQ(Log().rowCount(), static_cast<int>(kEventCapacity));
    Start();
}

// They end the capture without the stop command and leave Save Log disabled. As in a list box,
// Ctrl+click on the chosen module keeps it chosen: no change, no test open.
TEST_F(WindowCaptureTest, ScanSelectionAndSaveLogEndACaptureWithoutTheStopCommand) {
    Open("hw:off;dev:stream=idle;dev:stream=idle");
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"SCAN", [&] { Button("bscan").click(); }},
        {"another module", [&] { Devices().setCurrentRow(1); }},
        {"Save Log", [&] { Save(std::nullopt); }},
    };
    for (const auto& [name, action] : actions) {
        SCOPED_TRACE(name);
        Devices().setCurrentRow(0);
        Start();
        const std::uint32_t closes = sim.Stats(0).closes;
        action();
        EXPECT_EQ(State(), "START, Save Log disabled");
        const WirelogSimStats after = sim.Stats(0);
        EXPECT_TRUE(after.open == 0 && after.closes == closes + 1);
        EXPECT_EQ(after.stop_commands, 0u);
        EXPECT_EQ(sim.Stats(1).open, 0u);
    }
    const std::uint32_t opens = sim.Stats(0).opens;
    const QRect row = Devices().visualItemRect(Devices().item(0));
    QTest::mouseClick(Devices().viewport(), Qt::LeftButton, Qt::ControlModifier, row.center());
    EXPECT_EQ(Selected(), 0);
    EXPECT_EQ(sim.Stats(0).opens, opens);
    EXPECT_TRUE(messages.all.empty());
}

// Each line ends in CR LF, nothing else is written, and the file replaces an earlier one only
// when the whole log is written: a failed save keeps it and says why. A device, a link or a
// folder that takes no new file are the output file's.
TEST_F(WindowCaptureTest, SaveLogWritesEachLineWithCrLfAndAFailedSaveKeepsTheEarlierFile) {
    Open("hw:off");
    const QString path = File("bus.log");
    ShowEvents({1, 2});
    Save(path);
    EXPECT_EQ(ReadFile(path.toStdString()), "\r\nSTART (valid)\r\nSTOP (*** BUS IS IDLE ***)\r\n");
    ShowEvents(std::vector<std::uint8_t>(3000, 2));
    Save(std::nullopt);
    EXPECT_EQ(ReadFile(path.toStdString()).size(), 45u) << "a cancelled save wrote";
    EXPECT_EQ(offered.last(), path) << "the last name is offered again";
    {
        const ScopedFileSizeLimit limit(16 * 1024);
        Save(path);
    }
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"Couldn't save the log to \"" + path.toStdString() +
                                       "\": File too large. An existing file of that name is "
                                       "left as it was."});
    EXPECT_EQ(State(), "START, Save Log enabled");
    EXPECT_EQ(ReadFile(path.toStdString()).size(), 45u);
    EXPECT_EQ(WirelogTest::Listing(dir.path().toStdString()),
              (std::vector<std::string>{"bus.log", "wirlg000.dll"}));
}

} // namespace
} // namespace Wirelog::testing
