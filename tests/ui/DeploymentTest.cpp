// SPDX-License-Identifier: MIT
// Deployment of the adapter library into the current directory, and what the program does when
// it succeeds and when it fails.
#include "UiTestSupport.h"
#include "app/MainLoop.h"

#include <QDir>
#include <QListWidget>
#include <QTimer>

#include <fstream>
#include <optional>

namespace Wirelog::testing {
namespace {

class DeploymentTest : public ::testing::Test {
protected:
    std::string LibraryPath() const { return dir.filePath("wirlg000.dll").toStdString(); }
    SupportLibraryDeployment Deployment(qsizetype bytes = 100'000) const {
        return {dir.path(), [bytes] { return QByteArray(bytes, 'x'); }};
    }
    // Runs the program's message loop around window; false when it had to be cut short.
    static bool RunToTheEnd(Form1& window) {
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        deadline.start(20'000);
        RunMainWindow(window);
        return deadline.isActive();
    }

    RecordedMessages messages;
    QTemporaryDir dir;
};

// No image to write; a write that stops part-way (here at a file size limit) leaves no truncated
// library that a later start would take for the real one; a directory named like the library is
// no library.
TEST_F(DeploymentTest, AFailedDeploymentReportsTwiceAndEndsTheProgramUnseen) {
    for (const std::string_view failure : {"no image", "write cut short", "a directory"}) {
        SCOPED_TRACE(failure);
        messages.all.clear();
        std::optional<ScopedFileSizeLimit> limit;
        if (failure == "write cut short")
            limit.emplace(16 * 1024);
        if (failure == "a directory") {
            ASSERT_TRUE(QDir(dir.path()).mkdir("wirlg000.dll"));
        }
        _isRunning = true;
        Form1 window(Deployment(failure == "no image" ? 0 : 100'000));
        bool everShown = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] { everShown |= window.isVisible(); });
        watch.start(0);
        EXPECT_TRUE(RunToTheEnd(window)) << "the program did not end by itself";
        EXPECT_FALSE(everShown);
        EXPECT_EQ(messages.Texts(),
                  (std::vector<std::string>{kDeploymentFailedMessage, kNotActivated}));
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

// An existing file is the user's, whatever it holds: kept, and bound. One that is no library:
// the load reports it, and the window opens with no module.
TEST_F(DeploymentTest, ALibraryThatCannotBeLoadedIsKeptAndReportedOnceWhenTheWindowLoads) {
    ASSERT_TRUE(std::ofstream(LibraryPath()) << "not a library");
    _isRunning = true;
    Form1 window(Deployment());
    window.show();
    Child<QPushButton>(window, "btnStartStop").click();
    ASSERT_EQ(messages.all.size(), 2u);
    EXPECT_TRUE(messages.Texts()[0].starts_with("Couldn't load the adapter library \""))
        << messages.Texts()[0];
    EXPECT_EQ(messages.Texts()[1], kNotActivated);
    EXPECT_EQ(Child<QListWidget>(window, "lbDevices").count(), 0);
    EXPECT_EQ(ReadFile(LibraryPath()), "not a library");
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
