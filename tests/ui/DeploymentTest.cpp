// SPDX-License-Identifier: MIT
// Deployment of the adapter library into the current directory, and what the program does when
// it succeeds and when it fails.
#include "UiTestSupport.h"
#include "app/MainLoop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QRandomGenerator>
#include <QTimer>

namespace Wirelog::testing {
namespace {

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
    // Runs the program's message loop around window; false when it had to be cut short.
    static bool RunToTheEnd(Form1& window) {
        bool cutShort = false;
        QTimer::singleShot(20'000, &window, [&] {
            cutShort = true;
            QCoreApplication::exit(1);
        });
        EXPECT_EQ(RunMainWindow(window), 0);
        return !cutShort;
    }

    RecordedMessages messages;
    QTemporaryDir dir;
    int imageReads = 0;
};

// An existing file is the user's, whatever it holds; a write that stops part-way (here at a
// file size limit) leaves no truncated library that a later start would take for the real one.
TEST_F(DeploymentTest, WritesTheWholeImageOnlyWhenNoFileOfThatNameIsThere) {
    QByteArray image(300'001, '\0'); // byte 0 stays zero: zero bytes must survive too
    QRandomGenerator generator(20240611);
    for (qsizetype i = 1; i < image.size(); ++i)
        image[i] = static_cast<char>(generator.bounded(256));
    {
        const ScopedFileSizeLimit limit(16 * 1024);
        EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path(), image)), DeployResult::Failed);
        EXPECT_FALSE(QFileInfo::exists(LibraryPath()));
    }
    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path(), image)), DeployResult::Written);
    EXPECT_EQ(ReadFile(LibraryPath()), image);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"wirlg000.dll"});

    QFile file(LibraryPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("the user's");
    file.close();
    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path(), image)), DeployResult::AlreadyPresent);
    EXPECT_EQ(ReadFile(LibraryPath()), "the user's");
    EXPECT_EQ(imageReads, 2) << "the image is read only when the file has to be written";
    EXPECT_EQ(DeploySupportLibrary(Deployment(dir.path() + "/x", {})), DeployResult::Failed)
        << "no image";
}

// A missing directory, or a directory named like the library (no file, so no library).
TEST_F(DeploymentTest, AFailedDeploymentReportsTwiceAndEndsTheProgramUnseen) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("wirlg000.dll"));
    for (const QString& directory : {dir.path() + "/missing", dir.path()}) {
        SCOPED_TRACE(directory.toStdString());
        messages.all.clear();
        _isRunning = true;
        Form1 window(Deployment(directory, QByteArray(100, 'x')));
        EXPECT_FALSE(_isRunning);
        bool everShown = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] { everShown |= window.isVisible(); });
        watch.start(0);
        EXPECT_TRUE(RunToTheEnd(window)) << "the program did not end by itself";
        EXPECT_FALSE(everShown);
        EXPECT_EQ(messages.Texts(),
                  (std::vector<std::string>{"Unable to create a required supporting DLL in the "
                                            "current directory. Wirelog is unable to run!",
                                            kNotActivated}));
        for (const MessageRequest& message : messages.all)
            EXPECT_TRUE(message.owner == nullptr && message.caption == "Wirelog" &&
                        message.type == 0);
    }
}

// A file of that name that is no library: the load reports it, the window opens with no module.
TEST_F(DeploymentTest, ALibraryThatCannotBeLoadedIsReportedOnceWhenTheWindowLoads) {
    QFile junk(LibraryPath());
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("not a library") > 0);
    junk.close();
    _isRunning = true;
    Form1 window(Deployment(dir.path(), QByteArray(100, 'x')));
    window.show();
    Child<QPushButton>(window, "btnStartStop").click();
    ASSERT_EQ(messages.all.size(), 2u);
    EXPECT_TRUE(messages.Texts()[0].starts_with("Couldn't load the adapter library \""))
        << messages.Texts()[0];
    EXPECT_EQ(messages.Texts()[1], kNotActivated);
    EXPECT_EQ(Child<QListWidget>(window, "lbDevices").count(), 0);
}

// The program as a user first starts it: the library it carries goes to the current directory,
// byte for byte, is bound from there, and lists the module it finds.
TEST_F(DeploymentTest, AFirstStartBindsTheLibraryItWroteAndShowsTheWindowUntilItCloses) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    qputenv("WIRELOG_SIM", "hw:off;dev:serial=FRESH");
    _isRunning = true;
    QString listed;
    {
        Form1 window;
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            if (!window.isVisible())
                return;
            listed = Child<QListWidget>(window, "lbDevices").item(0)->text();
            window.close();
        });
        user.start(0);
        EXPECT_TRUE(RunToTheEnd(window)) << "closing the window did not end the program";
    }
    qunsetenv("WIRELOG_SIM");
    QDir::setCurrent(previous);
    EXPECT_EQ(listed, "0 (s/n FRESH)");
    EXPECT_TRUE(messages.all.empty());
    EXPECT_EQ(ReadFile(LibraryPath()), ReadFile(WIRELOG_TEST_ADAPTER_LIBRARY));
}

} // namespace
} // namespace Wirelog::testing
