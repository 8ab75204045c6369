#include "UiTestSupport.h"

#include "EventBuffer.h"
#include "ViewTWI.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QTest>

#include <csignal>

namespace Wirelog::testing {

WindowFixture::WindowFixture() {
    if (!dir_.isValid() ||
        !QFile::link(QString::fromUtf8(WIRELOG_TEST_ADAPTER_LIBRARY), File(kSupportLibraryFile)))
        throw std::runtime_error("cannot prepare the scratch directory");
    sim.Configure("hw:off");
}

QString WindowFixture::File(const char* name) const {
    return QDir(dir_.path()).filePath(QString::fromUtf8(name));
}

std::unique_ptr<Form1> WindowFixture::MakeWindow() {
    _isRunning = true;
    return std::make_unique<Form1>(
        SupportLibraryDeployment{dir_.path(), [] { return QByteArray(); }});
}

QStringList Rows(const QAbstractItemModel& model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows << model.data(model.index(row, 0)).toString();
    return rows;
}

void StartNewCapture() {
    ResetEventBuffer();
    ResetDecoder();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

ScopedFileSizeLimit::ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous_;
    if (bytes > 0)
        limited.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limited) != 0)
        throw std::runtime_error("cannot limit the file size");
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
}

void CaptureWindowTest::Open(const std::string& modules) {
    fixture.sim.Configure(modules);
    window = fixture.MakeWindow();
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
}

void CaptureWindowTest::Press(Qt::Key key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
    QWidget* focus = QApplication::focusWidget();
    QApplication::sendEvent(focus != nullptr ? focus : window.get(), &press);
}

bool CaptureWindowTest::WaitForRows(int rows, int timeoutMs) {
    return QTest::qWaitFor([&] { return Log().rowCount() >= rows; }, timeoutMs);
}

} // namespace Wirelog::testing
