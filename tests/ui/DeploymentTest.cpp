// SPDX-License-Identifier: MIT
// Deployment of the adapter library into the current directory, and what the program does when
// it succeeds and when it fails.
#include "UiTestSupport.h"
#include "ui/MainLoop.h"

#include <QDir>
#include <QListWidget>
#include <QTimer>

namespace Wirelog::testing {
namespace {

class DeploymentTest : public ::testing::Test {
protected:
    std::string LibraryPath() const { return dir.filePath("wirlg000.dll").toStdString(); }
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

// The load step of a failed deployment closes the window before it ever appears, and the
// program's loop ends by itself.
TEST_F(DeploymentTest, AFailedDeploymentEndsTheProgramWithTheWindowUnseen) {
    _isRunning = true;
    Form1 window(SupportLibraryDeployment{Path(dir.path()), {}});
    bool everShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { everShown |= window.isVisible(); });
    watch.start(0);
    EXPECT_TRUE(RunToTheEnd(window)) << "the program did not end by itself";
    EXPECT_FALSE(everShown);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{kDeploymentFailedMessage, kNotActivated}));
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
