// SPDX-License-Identifier: MIT
// Save Log: the dialog it shows, the file's exact bytes, and failures that keep an earlier file.
#include "UiTestSupport.h"

#include <QDir>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

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
    ShowEvents(std::vector<std::uint8_t>(3000, 2));
    for (const QString& failing : {File("gone/bus.log"), path}) {
        SCOPED_TRACE(failing.toStdString());
        {
            const ScopedFileSizeLimit limit(16 * 1024);
            Save(failing);
        }
        const QString text = QString::fromStdString(messages.all.back().text);
        EXPECT_TRUE(text.startsWith("Couldn't save the log to \"" + failing + "\": ") &&
                    text.size() > failing.size() + 30)
            << text.toStdString();
        EXPECT_EQ(State(), "START, Save Log enabled");
    }
    // A device node is written, never replaced, and the message gives the system's reason.
    const QString device = geteuid() == 0 ? File("full") : QStringLiteral("/dev/full");
    if (geteuid() == 0) {
        ASSERT_EQ(mknod(device.toLocal8Bit().constData(), S_IFCHR | 0666, makedev(1, 7)), 0);
    }
    Save(device);
    EXPECT_EQ(messages.all.back().text, "Couldn't save the log to \"" + device.toStdString() +
                                            "\": No space left on device. An existing file of "
                                            "that name is left as it was.");
    EXPECT_TRUE(std::filesystem::is_character_file(device.toStdString()));
    EXPECT_EQ(messages.all.size(), 3u);
    EXPECT_EQ(ReadFile(path).size(), 45);
    QFile::remove(File("full"));
    EXPECT_EQ(Files(), (QStringList{"bus.log", "wirlg000.dll"}));
    ShowEvents({});
    Save(path);
    EXPECT_EQ(ReadFile(path), "");
}

} // namespace
} // namespace Wirelog::testing
