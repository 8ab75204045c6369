// SPDX-License-Identifier: MIT
#include "UiTestSupport.h"

#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>

#include <csignal>

namespace Wirelog::testing {

std::vector<std::string> RecordedMessages::Texts() const {
    std::vector<std::string> texts;
    for (const MessageRequest& message : all)
        texts.push_back(message.text);
    return texts;
}

QStringList Rows(const QAbstractItemModel& model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows << model.data(model.index(row, 0)).toString();
    return rows;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void StartNewCapture() {
    ResetEventBuffer();
    ResetDecoder();
}

ScopedFileSizeLimit::ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limited) != 0)
        throw std::runtime_error("cannot limit the file size");
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
}

UiTest::UiTest() {
    if (!dir.isValid() ||
        !QFile::link(QString::fromUtf8(WIRELOG_TEST_ADAPTER_LIBRARY), File(kSupportLibraryFile)))
        throw std::runtime_error("cannot prepare the scratch directory");
    sim.Configure("hw:off");
}

QString UiTest::File(const char* name) const {
    return QDir(dir.path()).filePath(QString::fromUtf8(name));
}

std::unique_ptr<Form1> UiTest::MakeWindow() {
    _isRunning = true;
    return std::make_unique<Form1>(
        SupportLibraryDeployment{dir.path(), [] { return QByteArray(); }});
}

void UiTest::Open(const std::string& modules) {
    window.reset(); // one window, so one capture, at a time
    sim.Configure(modules);
    window = MakeWindow();
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
}

void UiTest::Press(Qt::Key key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
    QWidget* focus = QApplication::focusWidget();
    QApplication::sendEvent(focus != nullptr ? focus : window.get(), &press);
}

void UiTest::ShowEvents(const std::vector<std::uint8_t>& codes) {
    Press(Qt::Key_C);
    StartNewCapture();
    for (const std::uint8_t code : codes)
        AppendEvent(code, 0, 0);
    window->UpdateLoggingWindow();
}

std::string UiTest::State() {
    return Button("btnStartStop").text().toStdString() +
           (Button("bSave").isEnabled() ? ", Save Log enabled" : ", Save Log disabled");
}

} // namespace Wirelog::testing
