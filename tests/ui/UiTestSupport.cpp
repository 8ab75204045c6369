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
#include <dlfcn.h>

namespace Wirelog::testing {

namespace {

template <auto function> auto SimFunction(void* library, const char* name) {
    void* address = dlsym(library, name);
    if (address == nullptr)
        throw std::runtime_error(std::string("the adapter library lacks ") + name);
    return reinterpret_cast<decltype(function)>(address);
}

void Check(int result, const std::string& what) {
    if (result != 0)
        throw std::runtime_error("the simulator refused " + what);
}

} // namespace

#define WIRELOG_SIM_CALL(name) SimFunction<&WirelogSim_##name>(library_, "WirelogSim_" #name)

Simulator::Simulator() : library_(dlopen(WIRELOG_TEST_ADAPTER_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
    if (library_ == nullptr)
        throw std::runtime_error(dlerror());
}

void Simulator::Configure(const std::string& config) {
    Check(WIRELOG_SIM_CALL(Configure)(config.c_str()), config);
}

void Simulator::SetFaults(int device, const std::string& faults) {
    Check(WIRELOG_SIM_CALL(SetFaults)(device, faults.c_str()), faults);
}

void Simulator::Inject(int device, const std::vector<std::uint8_t>& bytes) {
    Check(WIRELOG_SIM_CALL(Inject)(device, bytes.data(), static_cast<std::uint32_t>(bytes.size())),
          "the bytes");
}

WirelogSimStats Simulator::Stats(int device) const {
    WirelogSimStats stats{};
    Check(WIRELOG_SIM_CALL(GetStats)(device, &stats), "stats");
    return stats;
}

int Simulator::DeviceCount() const {
    return WIRELOG_SIM_CALL(DeviceCount)();
}

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
