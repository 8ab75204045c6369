// SPDX-License-Identifier: MIT
// Save Log: the dialog it shows, the file's exact bytes, and failures that keep an earlier file.
#include "UiTestSupport.h"

#include <QDir>

#include <utility>

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
    QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

    QStringList offered; // the file name each dialog offered
};

// Each line ends in CR LF, nothing else is written, and the file replaces an earlier one only
// when the whole log is written: a failed save keeps it and says why.
TEST_F(SaveLogTest, TheFileHoldsEachLineWithCrLfAndAFailedSaveKeepsTheEarlierOne) {
    auto& dialog = Child<QFileDialog>(*window, "saveFileDialog1");
    EXPECT_EQ(dialog.windowTitle(), "Save Bus Activity Log");
    EXPECT_EQ(dialog.nameFilters(), QStringList{"Log Files (*.log)"});
    EXPECT_EQ(dialog.directory(), QDir::home());
    // A name typed without an extension gets "txt"; replacing a file needs the user's yes.
    EXPECT_EQ(dialog.defaultSuffix(), "txt");
    EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));

    const QString path = File("bus.log");
    ShowEvents({1, 2});
    Save(path);
    EXPECT_EQ(ReadFile(path), "\r\nSTART (valid)\r\nSTOP (*** BUS IS IDLE ***)\r\n");
    Save(std::nullopt);
    EXPECT_EQ(ReadFile(path).size(), 45) << "a cancelled save wrote";
    EXPECT_EQ(offered.last(), path) << "the last name is offered again";
    // A device, a link or a folder that takes no new file are the output file's (OutputFileTest).
    ShowEvents(std::vector<std::uint8_t>(3000, 2));
    const std::pair<QString, std::string> failures[] = {
        {File("gone/bus.log"), "No such file or directory"}, {path, "File too large"}};
    for (const auto& [failing, reason] : failures) {
        {
            const ScopedFileSizeLimit limit(16 * 1024);
            Save(failing);
        }
        EXPECT_EQ(messages.all.back().text,
                  "Couldn't save the log to \"" + failing.toStdString() + "\": " + reason +
                      ". An existing file of that name is left as it was.");
        EXPECT_EQ(State(), "START, Save Log enabled");
    }
    EXPECT_EQ(messages.all.size(), 2u);
    EXPECT_EQ(ReadFile(path).size(), 45);
    EXPECT_EQ(Files(), (QStringList{"bus.log", "wirlg000.dll"}));
    ShowEvents({});
    Save(path);
    EXPECT_EQ(ReadFile(path), "");
}

} // namespace
} // namespace Wirelog::testing
