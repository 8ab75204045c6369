// SPDX-License-Identifier: MIT
// The window's behaviour driving captures on simulated modules: the module list, START/STOP,
// SCAN and selection, the C and S keys, the reader's messages, the disposal mid-capture, Save
// Log and the log refresh.
#include "FakeView.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

namespace Wirelog::testing {
namespace {

using Texts = std::vector<std::string>;

const std::string kMonitoring = "*** I2C Monitoring activated, waiting for idle bus... ***";
const std::string kStartLine = "START (valid)";

class FormCaptureTest : public FormTest {
protected:
    // Starts a capture and waits for the module's first line.
    void Start() {
        form->bStartStop_Click();
        ASSERT_EQ(State(), "STOP, Save Log disabled");
        ASSERT_TRUE(RefreshUntilRows(1));
        ASSERT_EQ(Rows(), Texts{kMonitoring});
    }
    void Send(const std::vector<std::uint8_t>& bytes, const Texts& rowsAfter) {
        ASSERT_TRUE(sim.Inject(0, bytes));
        ASSERT_TRUE(RefreshUntilRows(rowsAfter.size()));
        EXPECT_EQ(Rows(), rowsAfter);
    }
    void Press(int key, bool alt = false, bool ctrl = false) {
        form->Form_KeyDown({.key = key, .alt = alt, .ctrl = ctrl});
    }
};

// Only the sole module is selected, and selecting it test-opens it; SCAN does it all again.
// START then works only with a selected module that opens, and a failed START leaves the log.
TEST_F(FormCaptureTest, TheOnlyModuleIsSelectedAndTestOpenedAtLoadAndAfterScan) {
    const struct {
        const char* modules;
        int devices;
        Texts entries;
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
        const std::size_t failedTestOpens = c.selected >= 0 && !c.starts ? 1 : 0;
        Open(c.modules);
        for (const std::uint32_t scans : {1u, 2u}) {
            EXPECT_EQ(view->modules, c.entries);
            EXPECT_EQ(view->selected, c.selected);
            std::uint32_t opens = 0;
            for (int device = 0; device < c.devices; ++device)
                opens += sim.Stats(device).opens;
            EXPECT_EQ(opens, c.starts ? scans : 0u);
            EXPECT_EQ(view->messages, Texts(failedTestOpens * scans, kModuleNotActivated));
            if (scans == 1)
                form->bscan_Click();
        }
        ShowEvents({1});
        Press(kStartStopKey);
        EXPECT_EQ(State(), c.starts ? "STOP, Save Log disabled" : "START, Save Log enabled");
        EXPECT_EQ(view->messages.size(), failedTestOpens * 2 + (c.starts ? 0 : 1));
        EXPECT_EQ(Rows(), c.starts ? Texts() : (Texts{"", kStartLine}));
    }
}

// Two captures, one by the button and one by the S key: each starts on an empty log, and the
// reader's events reach it through its refresh requests. STOP sends the stop command and closes
// the module, also while the reader's message waits for the user; the disposal sends none,
// leaving the module streaming and its close to the reader.
TEST_F(FormCaptureTest, CapturesReachTheLogAndTheMessagesAndStopOrDisposalEndThem) {
    Open("hw:off;dev:stream=idle");
    Start();
    Send({0x01}, {kMonitoring, "", kStartLine});
    sim.SetFaults(0, "read=fail");
    ASSERT_TRUE(sim.Inject(0, {0x01}));
    ASSERT_TRUE(view->AwaitReaderMessage());
    form->bStartStop_Click();
    EXPECT_EQ(State(), "START, Save Log enabled");
    WirelogSimStats stats = sim.Stats(0);
    EXPECT_TRUE(stats.stop_commands == 1 && stats.open == 0 && stats.streaming == 0);
    EXPECT_EQ(view->ReaderMessages(), Texts{"RError!"});
    EXPECT_TRUE(view->messages.empty()) << "the reader's message blocked the window";
    view->CloseReaderMessages();
    sim.SetFaults(0, "");

    Press(kStartStopKey);
    ASSERT_EQ(State(), "STOP, Save Log disabled");
    ASSERT_TRUE(view->RefreshUntil(*form, [&] { return Rows() == Texts{kMonitoring}; }));
    form.reset();
    stats = sim.Stats(0);
    EXPECT_TRUE(stats.start_commands == 2 && stats.open == 0 && stats.streaming == 1);
    EXPECT_EQ(stats.stop_commands, 1u);
}

// C and S act unless Alt or Ctrl is held; no other key does anything. C clears the list only:
// a capture goes on, and the next START's gap is still measured from the stop before it. A full
// buffer shows exactly its 999,999 events, and the next capture starts from none.
TEST_F(FormCaptureTest, CAndSActUnlessAltOrCtrlIsHeldAndCKeepsTheStopTime) {
    Open("hw:off;dev:stream=idle");
    const struct {
        int key;
        bool alt, ctrl, acts;
    } presses[] = {{'C', false, false, true},  {'C', false, true, false},
                   {'C', true, false, false},  {'S', true, false, false},
                   {'S', false, true, false},  {'X', false, false, false},
                   {'s', false, false, false}, {'S', false, false, true}}; // the last one starts
    for (const auto& press : presses) {
        SCOPED_TRACE(std::string(1, static_cast<char>(press.key)) + (press.alt ? "+Alt" : "") +
                     (press.ctrl ? "+Ctrl" : ""));
        ShowEvents({2});
        const std::string before = State();
        Press(press.key, press.alt, press.ctrl);
        if (press.key == 'C') {
            EXPECT_EQ(Rows().empty() && view->rows == 0, press.acts);
        }
        EXPECT_EQ(State() != before, press.acts && press.key == 'S');
    }
    Press(kStartStopKey);
    ASSERT_EQ(State(), "START, Save Log enabled");
    Start();
    Send({0x02}, {kMonitoring, "STOP (*** BUS IS IDLE ***)"});
    Press(kClearKey);
    ASSERT_TRUE(sim.Inject(0, {0x01}));
    ASSERT_TRUE(RefreshUntilRows(2));
    EXPECT_TRUE(Rows().back().starts_with("START (valid) [Gap from last Stop = ")) << Rows().back();
    form->bStartStop_Click();

    ShowEvents(std::vector<std::uint8_t>(kEventCapacity + 5, 2));
    EXPECT_EQ(form->Lines().size(), kEventCapacity);
    Start();
}

// They end the capture without the stop command and leave Save Log disabled. A selection that
// is reported again unchanged is no change: no test open.
TEST_F(FormCaptureTest, ScanSelectionAndSaveLogEndACaptureWithoutTheStopCommand) {
    Open("hw:off;dev:stream=idle;dev:stream=idle");
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"SCAN", [&] { form->bscan_Click(); }},
        {"another module", [&] { form->lbDevices_SelectedIndexChanged(1); }},
        {"Save Log", [&] { form->bSave_Click(); }},
    };
    for (const auto& [name, action] : actions) {
        SCOPED_TRACE(name);
        form->lbDevices_SelectedIndexChanged(0);
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
    form->lbDevices_SelectedIndexChanged(0);
    EXPECT_EQ(sim.Stats(0).opens, opens);
    EXPECT_TRUE(view->messages.empty());
}

// Each line ends in CR LF and nothing else is written; a cancelled dialog writes nothing; the
// last name is offered again. A file that cannot be written is reported with its name, and the
// log and the stopped state stay.
TEST_F(FormCaptureTest, SaveLogWritesEachLineWithCrLfAndReportsAFileItCannotWrite) {
    Open("hw:off");
    const std::filesystem::path out = scratch.path() / "out";
    std::filesystem::create_directory(out);
    const std::filesystem::path path = out / "bus.log";
    ShowEvents({1, 2});
    view->saveAnswer = path;
    form->bSave_Click();
    EXPECT_EQ(WirelogTest::ReadFile(path), "\r\nSTART (valid)\r\nSTOP (*** BUS IS IDLE ***)\r\n");
    const SaveDialogSettings& first = view->dialogs.front();
    EXPECT_EQ(Texts({std::string(first.title), std::string(first.filterName),
                     std::string(first.filterPattern), std::string(first.defaultExtension)}),
              (Texts{"Save Bus Activity Log", "Log Files", "*.log", "txt"}));
    EXPECT_TRUE(first.fileName.empty());

    ShowEvents(std::vector<std::uint8_t>(3000, 2));
    view->saveAnswer.reset();
    form->bSave_Click();
    EXPECT_EQ(WirelogTest::ReadFile(path).size(), 45u) << "a cancelled save wrote";
    EXPECT_EQ(view->dialogs.back().fileName, path);

    const std::filesystem::path unwritable = out / "missing" / "bus.log";
    view->saveAnswer = unwritable;
    form->bSave_Click();
    ASSERT_EQ(view->messages.size(), 1u);
    const std::string& message = view->messages[0];
    const std::string opening =
        "Couldn't save the log to \"" + WirelogTest::Utf8(unwritable) + "\": ";
    const std::string closing = ". An existing file of that name is left as it was.";
    EXPECT_TRUE(message.starts_with(opening) && message.ends_with(closing) &&
                message.size() > opening.size() + closing.size())
        << message;
    EXPECT_EQ(State(), "START, Save Log enabled");
    EXPECT_EQ(form->Lines().size(), 3000u);
    EXPECT_EQ(WirelogTest::Listing(out), Texts{"bus.log"});
}

// Each refresh that finds events publishes them as one insertion and, with auto-scroll, shows
// the newest line; one that finds none tells the view nothing. The longest line is known to
// the views, and C forgets it.
TEST_F(FormCaptureTest, ARefreshPublishesItsLinesOnceAndScrollsOnlyWithAutoScroll) {
    Open("hw:off");
    ShowEvents({11, 9, 9});
    EXPECT_EQ(form->LongestLine(), 107u);
    for (const bool autoScroll : {false, true}) {
        SCOPED_TRACE(autoScroll);
        view->autoScroll = autoScroll;
        const int insertions = view->insertions;
        const int scrolls = view->scrolls;
        for (const std::uint8_t code : {1, 7, 2})
            AppendEvent(code, 0xA0, 0);
        form->UpdateLoggingWindow();
        form->UpdateLoggingWindow();
        EXPECT_EQ(view->rows, form->Lines().size());
        EXPECT_EQ(view->insertions, insertions + 1);
        EXPECT_EQ(view->scrolls, scrolls + (autoScroll ? 1 : 0));
    }
    Press(kClearKey);
    EXPECT_EQ(form->LongestLine(), 0u);
}

} // namespace
} // namespace Wirelog::testing
