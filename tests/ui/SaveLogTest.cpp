// Save Log: the dialog it shows, the file's exact bytes, and failures that keep an earlier file.
#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

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
    EXPECT_EQ(messages.all.size(), 2u);
    EXPECT_EQ(ReadFile(path).size(), 45);
    EXPECT_EQ(Files(), (QStringList{"bus.log", "wirlg000.dll"}));
    ShowEvents({});
    Save(path);
    EXPECT_EQ(ReadFile(path), "");
}

// Qt's own dialog, typed into as the user types (keys that go to the dialog are not the main
// window's commands): a name without an extension gets "txt", a dotted name keeps its
// extensions, and an existing file is replaced only once the user confirms.
TEST_F(SaveLogTest, TheDialogAddsTxtKeepsDottedNamesAndAsksBeforeReplacing) {
    ShowEvents({2});
    QString asked;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked = box->text();
            box->button(QMessageBox::Yes)->click();
        }
    });
    user.start(10);
    for (const auto& [typed, saved] : {std::pair{"scan", "scan.txt"},
                                       {"scan.2024.01.log", "scan.2024.01.log"},
                                       {"scan.txt", "scan.txt"}}) {
        window->SetSaveDialogRunner([&, typed = typed](QFileDialog& dialog) {
            QTimer::singleShot(0, &dialog, [&] {
                dialog.setDirectory(dir.path());
                auto& name = Child<QLineEdit>(dialog, "fileNameEdit");
                name.clear();
                QTest::keyClicks(&name, typed);
                QMetaObject::invokeMethod(&dialog, "accept");
            });
            return RunSaveDialog(dialog);
        });
        asked.clear();
        Button("bSave").click();
        EXPECT_EQ(ReadFile(File(saved)), "STOP (*** BUS IS IDLE ***)\r\n") << typed;
        EXPECT_EQ(asked.contains("already exists"), std::string_view(typed) == "scan.txt");
    }
    EXPECT_TRUE(messages.all.empty());
}

} // namespace
} // namespace Wirelog::testing
