// Deployment of the adapter library into the current directory, and what the program does when
// it fails: two messages in order, then the program ends without its window.
#include "MainLoop.h"
#include "UiTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>

#include <gtest/gtest.h>

namespace Wirelog::testing {
namespace {

QByteArray RandomImage(qsizetype size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(20240611);
    for (qsizetype i = 1; i < size; ++i) // byte 0 stays zero: zero bytes must survive too
        bytes[i] = static_cast<char>(generator.bounded(256));
    return bytes;
}

class DeploymentTest : public ::testing::Test {
protected:
    QString LibraryPath() const { return QDir(dir.path()).filePath("wirlg000.dll"); }

    // Counts how often the image is asked for.
    SupportLibraryDeployment Deployment(const QString& directory, QByteArray image) {
        return {directory, [this, image] {
                    ++imageReads;
                    return image;
                }};
    }

    QTemporaryDir dir;
    int imageReads = 0;
};

TEST_F(DeploymentTest, WritesTheImageExactlyOnlyWhenNoFileOfThatNameIsThere) {
    const QByteArray image = RandomImage(300'001);
    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path(), image)), DeployResult::Written);
    EXPECT_EQ(ReadFile(LibraryPath()), image);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"wirlg000.dll"});

    QFile file(LibraryPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("whatever the user put there");
    file.close();
    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path(), image)), DeployResult::AlreadyPresent);
    EXPECT_EQ(ReadFile(LibraryPath()), "whatever the user put there");
    EXPECT_EQ(imageReads, 1) << "the image is read only when the file has to be written";
}

TEST_F(DeploymentTest, FailsWithoutAnImageOrAWritableDirectory) {
    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path(), QByteArray())), DeployResult::Failed);
    EXPECT_FALSE(QFileInfo::exists(LibraryPath()));
    // A plain file where the directory should be: no user, root included, can write into it.
    const QString notADirectory = QDir(dir.path()).filePath("plain-file");
    QFile plain(notADirectory);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(DeploySupportLibrary(Deployment(notADirectory, RandomImage(10))),
              DeployResult::Failed);
}

// A write that stops part-way (here at a file size limit) must not leave a truncated library
// that the next start would take for the real one.
TEST_F(DeploymentTest, APartlyWrittenFileIsRemoved) {
    const ScopedFileSizeLimit limit(16 * 1024);
    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path(), RandomImage(1 << 20))),
              DeployResult::Failed);
    EXPECT_FALSE(QFileInfo::exists(LibraryPath()));
}

// The test program carries a stand-in library the way the program carries the adapter library;
// by default it is that build output, byte for byte, that goes to the current directory.
TEST_F(DeploymentTest, ByDefaultTheEmbeddedLibraryGoesToTheCurrentDirectory) {
    const QByteArray built = ReadFile(QString::fromUtf8(WIRELOG_STANDIN_LIBRARY));
    ASSERT_FALSE(built.isEmpty());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const DeployResult result = DeploySupportLibrary(DefaultDeployment());
    QDir::setCurrent(previous);
    EXPECT_EQ(result, DeployResult::Written);
    EXPECT_EQ(ReadFile(LibraryPath()), built);
}

// Runs the program's message loop around window; false when it had to be cut short.
bool RunToTheEnd(Form1& window) {
    bool cutShort = false;
    QTimer::singleShot(20'000, &window, [&] {
        cutShort = true;
        QCoreApplication::exit(1);
    });
    EXPECT_EQ(RunMainWindow(window), 0);
    return !cutShort;
}

TEST_F(DeploymentTest, AFailedDeploymentReportsTwiceAndEndsTheProgramUnseen) {
    const RecordedMessages messages;
    _isRunning = true;
    Form1 window(Deployment(dir.path() + "/missing", RandomImage(100)));
    EXPECT_FALSE(_isRunning);
    EXPECT_EQ(messages.All().size(), 1u) << "the constructor reports at once";

    bool everShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { everShown |= window.isVisible(); });
    watch.start(0);
    EXPECT_TRUE(RunToTheEnd(window)) << "the program did not end by itself";
    EXPECT_FALSE(everShown || window.isVisible());
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"Unable to create a required supporting DLL in the current "
                                        "directory. Wirelog is unable to run!",
                                        "Couldn't activate the selected module."}));
    for (const MessageRequest& message : messages.All())
        EXPECT_TRUE(message.owner == nullptr && message.caption == "Wirelog" && message.type == 0);
}

// The program as a user first starts it: the library it writes is the one it binds, and the
// module that library finds is listed.
TEST_F(DeploymentTest, ASuccessfulStartBindsTheDeployedLibraryAndShowsTheWindowUntilItCloses) {
    const RecordedMessages messages;
    const QByteArray library = ReadFile(QString::fromUtf8(WIRELOG_TEST_ADAPTER_LIBRARY));
    qputenv("WIRELOG_SIM", "hw:off;dev:serial=FRESH");
    _isRunning = true;
    Form1 window(Deployment(dir.path(), library));
    QString listed;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (!window.isVisible())
            return;
        listed = Child<QListWidget>(window, "lbDevices").item(0)->text();
        window.close();
    });
    user.start(0);
    EXPECT_TRUE(RunToTheEnd(window)) << "closing the window did not end the program";
    qunsetenv("WIRELOG_SIM");
    EXPECT_EQ(listed, "0 (s/n FRESH)");
    EXPECT_TRUE(messages.All().empty());
    EXPECT_EQ(ReadFile(LibraryPath()), library);
}

} // namespace
} // namespace Wirelog::testing
