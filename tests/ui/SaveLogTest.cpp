// SPDX-License-Identifier: MIT
// Save Log: the file's exact bytes, the dialog's memory, and a failure that keeps an earlier file.
#include "UiTestSupport.h"

namespace Wirelog::testing {
namespace {

class SaveLogTest : public UiTest {
protected:
    void SetUp() override { Open("hw:off"); }
    // Save Log, with the user answering the dialog by `answer` (nothing: cancel).
    void Save(const std::optional<QString>& answer) {
        window->SetSaveDialogRunner([this, answer](QFileDialog& dialog) {
            offered << dialog.selectedFiles().value(0);
            return answer;
        });
        Button("bSave").click();
    }

    QStringList offered; // the file name each dialog offered
};

// Each line ends in CR LF, nothing else is written, and the file replaces an earlier one only
// when the whole log is written: a failed save keeps it and says why. A device, a link or a
// folder that takes no new file are the output file's.
TEST_F(SaveLogTest, TheFileHoldsEachLineWithCrLfAndAFailedSaveKeepsTheEarlierOne) {
    const QString path = File("bus.log");
    ShowEvents({1, 2});
    Save(path);
    EXPECT_EQ(ReadFile(path), "\r\nSTART (valid)\r\nSTOP (*** BUS IS IDLE ***)\r\n");
    ShowEvents(std::vector<std::uint8_t>(3000, 2));
    Save(std::nullopt);
    EXPECT_EQ(ReadFile(path).size(), 45) << "a cancelled save wrote";
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
    EXPECT_EQ(ReadFile(path).size(), 45);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"bus.log", "wirlg000.dll"}));
}

} // namespace
} // namespace Wirelog::testing
