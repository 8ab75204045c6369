// Save Log: the dialog it shows, the file's exact bytes, and failures that keep an earlier file.
#include "EventBuffer.h"
#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace Wirelog::testing {
namespace {

class SaveLogTest : public CaptureWindowTest {
protected:
    void SetUp() override { Open("hw:off"); }

    // The log list becomes one line per event, after a blank line for each code 1.
    void ShowEvents(const std::vector<std::uint8_t>& codes) {
        Press(Qt::Key_C);
        StartNewCapture();
        for (const std::uint8_t code : codes)
            AppendEvent(code, 0, 0);
        window->UpdateLoggingWindow();
    }
    // Save Log, with the user answering the dialog by `answer` (nothing: cancel).
    void Save(const std::optional<QString>& answer) {
        window->SetSaveDialogRunner([this, answer](QFileDialog& dialog) {
            offered.push_back(dialog.selectedFiles().value(0));
            return answer;
        });
        Button("bSave").click();
    }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    QStringList offered; // the file name each dialog offered
};

TEST_F(SaveLogTest, TheFileHoldsEachLineWithCrLfAndNothingElseAndReplacesAnEarlierOne) {
    auto& dialog = Child<QFileDialog>(*window, "saveFileDialog1");
    EXPECT_EQ(dialog.windowTitle(), "Save Bus Activity Log");
    EXPECT_EQ(dialog.nameFilters(), QStringList{"Log Files (*.log)"});
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.directory(), QDir::home());

    const QString path = fixture.File("bus.log");
    Write(path, QByteArray(200, 'x'));
    ShowEvents({1, 2});
    Save(path);
    EXPECT_EQ(ReadFile(path), "\r\nSTART (valid)\r\nSTOP (*** BUS IS IDLE ***)\r\n");
    EXPECT_EQ(ReadFile(path).size(), 45);
    Save(std::nullopt);
    EXPECT_EQ(ReadFile(path).size(), 45) << "a cancelled save wrote";
    ShowEvents({});
    Save(path);
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(offered.mid(1), (QStringList{path, path})) << "the last name is offered again";
    EXPECT_EQ(QDir(fixture.Directory()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"bus.log", "wirlg000.dll"}));
    EXPECT_TRUE(messages.All().empty());
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
                dialog.setDirectory(fixture.Directory());
                auto& name = Child<QLineEdit>(dialog, "fileNameEdit");
                name.clear();
                QTest::keyClicks(&name, typed);
                QMetaObject::invokeMethod(&dialog, "accept");
            });
            return RunSaveDialog(dialog);
        });
        asked.clear();
        Button("bSave").click();
        EXPECT_EQ(ReadFile(fixture.File(saved)), "STOP (*** BUS IS IDLE ***)\r\n") << typed;
        EXPECT_EQ(asked.contains("already exists"), std::string_view(typed) == "scan.txt");
    }
    EXPECT_TRUE(messages.All().empty());
}

TEST_F(SaveLogTest, AFailedSaveKeepsTheEarlierFileAndSaysWhy) {
    ShowEvents(std::vector<std::uint8_t>(3000, 2));
    const QString missing = fixture.File("gone/bus.log");
    const QString tooLarge = fixture.File("bus.log");
    Write(tooLarge, "earlier");
    for (const QString& path : {missing, tooLarge}) {
        SCOPED_TRACE(path.toStdString());
        {
            const ScopedFileSizeLimit limit(path == tooLarge ? 16 * 1024 : 0);
            Save(path);
        }
        ASSERT_EQ(messages.All().size(), path == missing ? 1u : 2u);
        const QString text = QString::fromStdString(messages.All().back().text);
        EXPECT_TRUE(text.startsWith("Couldn't save the log to \"" + path + "\": "))
            << text.toStdString();
        EXPECT_GT(text.size(), path.size() + 30) << "no reason given";
        EXPECT_EQ(Log().rowCount(), 3000);
        EXPECT_EQ(State(), "START, Save Log enabled");
    }
    EXPECT_EQ(ReadFile(tooLarge), "earlier");
    EXPECT_EQ(QDir(fixture.Directory()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"bus.log", "wirlg000.dll"}));
}

} // namespace
} // namespace Wirelog::testing
