// Deployment of the adapter library into the current directory, and what the program does when
// it fails: two messages in order, then the program ends without its window.
#include "MainLoop.h"
#include "UiTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace Wirelog::testing {
namespace {

const std::string kDeployFailed =
    "Unable to create a required supporting DLL in the current directory. Wirelog is unable to "
    "run!";
const std::string kNotActivated = "Couldn't activate the selected module.";

QByteArray RandomImage(qsizetype size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(20240611);
    for (char& byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    bytes[0] = '\0'; // leading and embedded zero bytes must survive
    return bytes;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class DeploymentTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

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

TEST_F(DeploymentTest, AnExistingFileIsUsedAsItIs) {
    const QByteArray existing = "whatever the user put there";
    QFile file(LibraryPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(existing);
    file.close();

    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path(), RandomImage(1000))),
              DeployResult::AlreadyPresent);
    EXPECT_EQ(ReadFile(LibraryPath()), existing);
    EXPECT_EQ(imageReads, 0) << "the embedded image must not even be read";
}

TEST_F(DeploymentTest, AMissingFileIsWrittenWithTheImagesExactBytes) {
    const QByteArray image = RandomImage(300'001);
    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path(), image)), DeployResult::Written);
    EXPECT_EQ(ReadFile(LibraryPath()), image);
    EXPECT_EQ(imageReads, 1);
    // Exactly one file appears: nothing temporary is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"wirlg000.dll"});
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
    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path() + "/missing", RandomImage(10))),
              DeployResult::Failed);
}

#ifndef _WIN32
// A write that stops part-way (here at a file size limit) must not leave a truncated library
// that the next start would take for the real one.
TEST_F(DeploymentTest, APartlyWrittenFileIsRemoved) {
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 16 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const DeployResult result = DeploySupportLibrary(Deployment(dir.path(), RandomImage(1 << 20)));
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(result, DeployResult::Failed);
    EXPECT_FALSE(QFileInfo::exists(LibraryPath()));
}
#endif

TEST_F(DeploymentTest, TheDefaultTargetIsTheCurrentDirectory) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const SupportLibraryDeployment deployment = DefaultDeployment();
    QDir::setCurrent(previous);
    EXPECT_EQ(QFileInfo(deployment.directory).canonicalFilePath(),
              QFileInfo(dir.path()).canonicalFilePath());
}

// The test program carries a stand-in library the same way the program carries the adapter
// library; the image read back is that build output, byte for byte.
TEST_F(DeploymentTest, TheEmbeddedImageIsTheLibrarysBuildOutput) {
    const QByteArray built = ReadFile(QString::fromUtf8(WIRELOG_STANDIN_LIBRARY));
    ASSERT_FALSE(built.isEmpty());
    EXPECT_EQ(EmbeddedSupportLibrary(), built);
    EXPECT_EQ(DeploySupportLibrary({dir.path(), DefaultDeployment().image}), DeployResult::Written);
    EXPECT_EQ(ReadFile(LibraryPath()), built);
}

class StartUpTest : public DeploymentTest {
protected:
    // Runs the program's message loop around window; false when it had to be cut short.
    static bool RunToTheEnd(Form1& window) {
        bool cutShort = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [&] {
            cutShort = true;
            QCoreApplication::exit(1);
        });
        deadline.start(20'000);
        EXPECT_EQ(RunMainWindow(window), 0);
        return !cutShort;
    }

    RecordedMessages messages;
};

TEST_F(StartUpTest, AFailedDeploymentReportsTwiceAndEndsTheProgram) {
    _isRunning = true;
    const QString notWritable = dir.path() + "/missing";
    Form1 window(Deployment(notWritable, RandomImage(100)));
    EXPECT_FALSE(_isRunning);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{kDeployFailed}) << "from the constructor";

    bool everShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { everShown |= window.isVisible(); });
    watch.start(0);
    EXPECT_TRUE(RunToTheEnd(window)) << "the program did not end by itself";
    EXPECT_FALSE(everShown || window.isVisible());
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{kDeployFailed, kNotActivated}));
    for (const MessageRequest& message : messages.All()) {
        EXPECT_EQ(message.owner, nullptr);
        EXPECT_EQ(message.caption, "Wirelog");
        EXPECT_EQ(message.type, 0u);
    }
}

TEST_F(StartUpTest, ASuccessfulStartShowsTheWindowUntilItCloses) {
    _isRunning = true;
    Form1 window(Deployment(dir.path(), RandomImage(100)));
    EXPECT_TRUE(_isRunning);
    bool shownInLoop = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (!window.isVisible())
            return;
        shownInLoop = true;
        window.close();
    });
    user.start(0);
    EXPECT_TRUE(RunToTheEnd(window)) << "closing the window did not end the program";
    EXPECT_TRUE(shownInLoop);
    EXPECT_TRUE(messages.All().empty());
    EXPECT_TRUE(QFileInfo::exists(LibraryPath()));
}

} // namespace
} // namespace Wirelog::testing
