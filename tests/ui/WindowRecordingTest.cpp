// SPDX-License-Identifier: MIT
// Recordings in the Qt window: named on the command line or dropped on the log list, a file
// fills the list with the lines `decode` writes for it; the channel dialog comes only for a
// capture without channels named SCL and SDA, and a bad file leaves the list and shows a message.
#include "UiTestSupport.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace Wirelog::testing {
namespace {

const QString kCliData = QString::fromUtf8(WIRELOG_CLI_TEST_DATA);
const QString kCaptures = QString::fromUtf8(WIRELOG_CAPTURE_TEST_DATA);

QStringList LogLines(const QString& file) {
    QStringList lines = QString::fromStdString(ReadFile(file.toStdString())).split(QStringLiteral("\r\n"));
    lines.removeLast(); // after the last CR LF
    return lines;
}

class WindowRecordingTest : public UiTest {
protected:
    void Drop(const QString& file) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file)});
        LogView& list = Child<LogView>(*window, "listBox1");
        // As a drag ends: Qt gives the drop to the widget that took the drag's entry.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(list.viewport(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(list.viewport(), &drop);
        EXPECT_TRUE(drop.isAccepted());
    }
    bool WaitForLog(const QStringList& lines) {
        return QTest::qWaitFor([&] { return Rows(Log()) == lines; }, 10'000);
    }
    std::vector<QStringList> dialogs; // the channels each channel dialog offered
    // Answers the dialog with SCL on channel 2 and SDA on channel 1.
    ChannelDialogRunner answer = [this](ChannelDialog& dialog) {
        QStringList offered;
        for (int i = 0; i < dialog.sclBox().count(); ++i)
            offered << dialog.sclBox().itemText(i);
        dialogs.push_back(offered);
        dialog.sclBox().setCurrentIndex(2);
        dialog.sdaBox().setCurrentIndex(1);
        return true;
    };
};

TEST_F(WindowRecordingTest, AFileOnTheCommandLineOrDroppedFillsTheListAsDecodeDoes) {
    const QString batches = kCliData + "/gigabyte_6vle_vxl_i2c.batches.txt";
    const QStringList decoded = LogLines(kCliData + "/gigabyte_6vle_vxl_i2c.log");
    sim.Configure("hw:off");
    window = std::make_unique<Form1>(SupportLibraryDeployment{dir.path().toStdString(), {}});
    window->OpenRecordingOnLoad(batches);
    window->show();
    ASSERT_TRUE(WaitForLog(decoded));

    Press(Qt::Key_C);
    window->SetChannelDialogRunner(answer);
    // SCL and SDA by name: no dialog. decode writes 8 lines for it, the last a STOP.
    Drop(kCaptures + "/wii_nunchuk_init.vcd");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Log().rowCount() == 8; }, 10'000));
    EXPECT_EQ(Rows(Log()).back(), QStringLiteral("STOP (*** BUS IS IDLE ***)"));
    EXPECT_TRUE(dialogs.empty());
    Drop(batches);
    ASSERT_TRUE(WaitForLog(decoded));
    Drop(kCaptures + "/braintechnology_usb_lps_powerup.vcd");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Rows(Log()) != decoded; }, 10'000));
    EXPECT_EQ(dialogs, (std::vector<QStringList>{
                           {"PB0", "PB1/SDA", "PB2/SCL", "PB3", "PB4", "PB5", "D6", "D7"}}));
    EXPECT_EQ(Rows(Log()).at(4), QStringLiteral("Address + Read  + ACK, addr = 0x50"));
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(WindowRecordingTest, ABadFileLeavesTheListAndNamesItselfInAMessage) {
    Open("hw:off");
    ShowEvents({0, 1});
    const QStringList before = Rows(Log());
    const QString bad = File("bad.txt");
    QFile out(bad);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("0 00 05\n12 0x\n");
    out.close();
    Drop(bad);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.texts.empty(); }, 10'000));
    EXPECT_EQ(messages.texts,
              std::vector<std::string>{"Couldn't open the recording \"" + bad.toStdString() +
                                       "\": line 2: bad hex byte '0x' (expected two hex digits)"});
    EXPECT_EQ(Rows(Log()), before);
}

} // namespace
} // namespace Wirelog::testing
