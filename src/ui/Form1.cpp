// SPDX-License-Identifier: MIT
#include "ui/Form1.h"

#include "app/MessageBox.h"
#include "decode/LogFile.h"
#include "decode/OutputFile.h"
#include "decode/TimeBase.h"
#include "decode/ViewTWI.h"
#include "ui/AutoScale.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QResizeEvent>

#include <algorithm>
#include <array>
#include <filesystem>

namespace Wirelog {

namespace {

constexpr char kCaption[] = "Wirelog (TM) Protocol Analyzer - v1.003";
constexpr char kModuleNotActivated[] = "Couldn't activate the selected module.";
constexpr QSize kDesignClientSize{657, 302};
constexpr char kStart[] = "START";
constexpr char kStop[] = "STOP";

// Relative to the current directory, so that the program's own case is the bare file name and
// no directory name has to survive a conversion of its characters.
std::string AdapterFile(const SupportLibraryDeployment& deployment) {
    const QString file =
        QDir(deployment.directory).filePath(QString::fromLatin1(kSupportLibraryFile));
    return QDir::toNativeSeparators(QDir::current().relativeFilePath(file)).toStdString();
}

QString InitialSaveDirectory() {
#ifdef _WIN32
    return QStringLiteral("C:\\");
#else
    return QDir::homePath();
#endif
}

} // namespace

std::optional<QString> RunSaveDialog(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

Form1::Form1() : Form1(DefaultDeployment()) {}

// The capture is made whatever the deployment's outcome: it calls the adapter only when the
// load step asks it to, which a failed deployment never reaches.
Form1::Form1(const SupportLibraryDeployment& deployment)
    : adapter_(AdapterFile(deployment), [](const std::string& report) { ShowMessage(report); }) {
    InitTimeBase();
    if (DeploySupportLibrary(deployment) == DeployResult::Failed) {
        ShowMessage(kDeploymentFailedMessage);
        _isRunning = false;
    }
    InitializeComponent();
    capture_ = std::make_unique<CaptureControl>(
        adapter_,
        ReaderCallbacks{.requestRefresh = LogRefreshRequester(),
                        .showMessage = [](const std::string& text, std::function<void()> closed) {
                            ShowMessageWithoutBlocking(text, std::move(closed));
                        }});
}

Form1::~Form1() {
    StopCaptureForDisposal();
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/wirelog/icons/wirelog-%1.png").arg(size), QSize(size, size));
    return icon;
}

void Form1::InitializeComponent() {
    CreateControls();
    SetUpSaveDialog();
    WireHandlers();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(ProgramIcon());
    SetTabOrder();
    SetStackingOrder();
    LayOut();
    bscan.setFocus();
}

// Every control with its name, caption and place at the design cell. Controls sized to text
// take their caption's size and keep only their position.
std::array<Form1::DesignedControl, 17> Form1::Design() {
    return {{
        {label2, "label2", "Module:", {12, 15, 67, 21}, false},
        {bscan, "bscan", "SCAN", {106, 12, 57, 20}, false},
        {lbDevices, "lbDevices", nullptr, {14, 46, 149, 68}, false},
        {label3, "label3", "Operating Mode:", {187, 15, 112, 21}, false},
        {lbMode, "lbMode", nullptr, {191, 46, 173, 68}, false},
        {btnStartStop, "btnStartStop", "START", {304, 12, 60, 20}, false},
        {cbAutoScroll,
         "cbAutoScroll",
         "Always show latest results (auto-scroll)",
         {380, 12, 273, 21},
         true},
        {labelMaxCount, "labelMaxCount", "PWM Max Count:", {377, 38, 116, 13}, false},
        {tbMaxCount, "tbMaxCount", nullptr, {380, 55, 114, 22}, false},
        {labelValue, "labelValue", "PWM Value:", {377, 85, 116, 17}, false},
        {tbValue, "tbValue", nullptr, {380, 103, 113, 22}, false},
        {cbOption1, "cbOption1", "Fast Mode", {504, 37, 96, 21}, true},
        {cbOption2, "cbOption2", "Dual Output", {504, 69, 106, 21}, true},
        {label1, "label1", "Results:", {500, 111, 57, 21}, false},
        {bSave, "bSave", "Save Log", {564, 106, 77, 23}, false},
        {label4,
         "label4",
         "(Press 'C' at any time to clear the log window. Press 'S' to toggle Start/Stop.)",
         {11, 117, 486, 17},
         true},
        {listBox1, "listBox1", nullptr, {16, 137, 627, 124}, false},
    }};
}

void Form1::CreateControls() {
    for (const DesignedControl& designed : Design()) {
        designed.control.setObjectName(QString::fromLatin1(designed.name));
        if (designed.caption != nullptr)
            designed.control.setProperty("text", QString::fromLatin1(designed.caption));
    }
    lbDevices.setSelectionMode(QAbstractItemView::SingleSelection);
    listBox1.setModel(&logModel_);

    // The operating-mode list and the PWM group carry no behaviour: created hidden, never shown.
    for (QWidget* hidden :
         std::initializer_list<QWidget*>{&label3, &lbMode, &labelMaxCount, &tbMaxCount, &labelValue,
                                         &tbValue, &cbOption1, &cbOption2})
        hidden->hide();
    for (QWidget* disabled :
         std::initializer_list<QWidget*>{&labelMaxCount, &tbMaxCount, &labelValue, &tbValue})
        disabled->setEnabled(false);
}

// Qt's own dialog, the counterpart of the older common dialog, reused for every save.
void Form1::SetUpSaveDialog() {
    saveFileDialog1.setObjectName(QStringLiteral("saveFileDialog1"));
    saveFileDialog1.setOptions(QFileDialog::DontUseNativeDialog |
                               QFileDialog::HideNameFilterDetails);
    saveFileDialog1.setAcceptMode(QFileDialog::AcceptSave);
    saveFileDialog1.setFileMode(QFileDialog::AnyFile);
    saveFileDialog1.setWindowTitle(QStringLiteral("Save Bus Activity Log"));
    saveFileDialog1.setNameFilter(QStringLiteral("Log Files (*.log)"));
    saveFileDialog1.setDefaultSuffix(QStringLiteral("txt"));
    saveFileDialog1.setDirectory(InitialSaveDirectory());
}

// The two lists report selection changes through their SelectedIndexWatch.
void Form1::WireHandlers() {
    connect(&bscan, &QPushButton::clicked, this, &Form1::bscan_Click);
    connect(&btnStartStop, &QPushButton::clicked, this, &Form1::bStartStop_Click);
    connect(&bSave, &QPushButton::clicked, this, &Form1::bSave_Click);
}

// By tab index; hidden controls are skipped by the focus chain, labels never take the focus,
// and the log list is reached with the mouse only.
void Form1::SetTabOrder() {
    const std::array<QWidget*, 9> order{&bscan,        &lbDevices,    &lbMode,
                                        &btnStartStop, &cbAutoScroll, &tbMaxCount,
                                        &tbValue,      &bSave,        &cbOption1};
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    setTabOrder(order.back(), &cbOption2);
}

// From the bottom up, each control raised above the ones before it.
void Form1::SetStackingOrder() {
    for (QWidget* control : std::initializer_list<QWidget*>{
             &btnStartStop, &lbDevices, &label2, &bscan, &label1, &bSave, &lbMode, &label3,
             &listBox1, &cbAutoScroll, &tbMaxCount, &tbValue, &labelMaxCount, &labelValue,
             &cbOption1, &cbOption2, &label4})
        control->raise();
}

void Form1::LayOut() {
    const AutoScale scale(CharacterCell(font()));
    for (const DesignedControl& designed : Design()) {
        QRect bounds = scale.Rect(designed.design);
        if (designed.sizedToText)
            bounds.setSize(designed.control.sizeHint());
        designed.control.setGeometry(bounds);
    }
    const QSize client = scale.Size(kDesignClientSize);
    const QRect log = listBox1.geometry();
    logRightMargin_ = client.width() - (log.x() + log.width());
    logBottomMargin_ = client.height() - (log.y() + log.height());
    resize(client);
}

// Only the log list follows the window's size; everything else stays at the top left.
void Form1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QPoint origin = listBox1.pos();
    const QSize client = event->size();
    listBox1.resize(std::max(0, client.width() - origin.x() - logRightMargin_),
                    std::max(0, client.height() - origin.y() - logBottomMargin_));
}

void Form1::setVisible(bool visible) {
    if (visible && !loaded_) {
        loaded_ = true;
        Form1_Load();
        if (!_isRunning)
            return; // the load ended the program; the window never appears
    }
    QWidget::setVisible(visible);
}

void Form1::Form1_Load() {
    if (!_isRunning) {
        ShowMessage(kModuleNotActivated);
        QCoreApplication::quit();
        close();
        return;
    }
    PrepareModules();
}

void Form1::UpdateLoggingWindow() {
    if (logModel_.AppendPendingEvents() == 0)
        return;
    if (cbAutoScroll.isChecked())
        listBox1.ShowNewestLine();
}

void Form1::PrepareModules() {
    ShowModules(capture_->Load());
}

void Form1::StopCaptureForDisposal() {
    // No stop command: the module keeps streaming, and the reader closes it as it ends.
    capture_->StopThread();
}

void Form1::FillDeviceList() {
    ShowModules(capture_->FillDeviceList());
}

// The only entry is selected, which test-opens it; with two or more the user chooses.
void Form1::ShowModules(const ModuleList& modules) {
    devicesSelection_.Clear();
    for (const std::string& entry : modules.entries)
        lbDevices.addItem(QString::fromStdString(entry));
    if (lbDevices.count() == 1)
        lbDevices.setCurrentRow(0);
}

std::string Form1::SelectedEntry() const {
    const int selected = devicesSelection_.SelectedIndex();
    return selected < 0 ? std::string() : lbDevices.item(selected)->text().toStdString();
}

void Form1::EndCaptureWithoutStopCommand() {
    capture_->ClosePort();
    capture_->StopThread();
    btnStartStop.setText(QString::fromLatin1(kStart));
}

void Form1::bscan_Click() {
    EndCaptureWithoutStopCommand();
    lbMode.clearSelection();
    FillDeviceList();
}

void Form1::lbDevices_SelectedIndexChanged() {
    EndCaptureWithoutStopCommand();
    lbMode.clearSelection();
    capture_->OpenPort(SelectedEntry());
    if (capture_->IsPortOpen())
        capture_->ClosePort();
    else
        ShowMessage(kModuleNotActivated);
}

void Form1::lbMode_SelectedIndexChanged() {
    EndCaptureWithoutStopCommand();
    for (QWidget* pwm :
         std::initializer_list<QWidget*>{&labelMaxCount, &labelValue, &tbMaxCount, &tbValue})
        pwm->setEnabled(false);
}

void Form1::bStartStop_Click() {
    if (btnStartStop.text() != QLatin1String(kStart)) {
        capture_->StopCapture();
        btnStartStop.setText(QString::fromLatin1(kStart));
        bSave.setEnabled(true);
        return;
    }
    // The log and the decoder start afresh only once a module is open.
    const bool started = capture_->StartCapture(SelectedEntry(), [this] {
        logModel_.Clear();
        ResetDecoder();
    });
    if (!started) {
        ShowMessage(kModuleNotActivated);
        return;
    }
    btnStartStop.setText(QString::fromLatin1(kStop));
    bSave.setEnabled(false);
}

// C and S, whatever has the focus, unless Alt or Ctrl is held. The key is not consumed: the
// focused control gets it as well.
void Form1::Form_KeyDown(QKeyEvent& event) {
    if (event.modifiers() & (Qt::AltModifier | Qt::ControlModifier))
        return;
    if (event.key() == Qt::Key_C)
        logModel_.Clear();
    else if (event.key() == Qt::Key_S)
        bStartStop_Click();
}

// Ends the capture first, so the list is final. The button keeps its state: only STOP enables
// Save Log again.
void Form1::bSave_Click() {
    EndCaptureWithoutStopCommand();
    const std::optional<QString> path = runSaveDialog_(saveFileDialog1);
    if (!path)
        return;
    // Offered again next time.
    saveFileDialog1.selectFile(*path);
    SaveLogTo(*path);
}

// Written as the command line writes its -o file: a regular file is replaced only once the
// whole log is written, so a failed save leaves an earlier file as it was, never a truncated one;
// a device or FIFO is written directly.
void Form1::SaveLogTo(const QString& path) {
#ifdef _WIN32
    const std::filesystem::path target(path.toStdWString());
#else
    const std::filesystem::path target(QFile::encodeName(path).toStdString());
#endif
    OutputFile file;
    std::string error;
    const bool saved =
        file.Open(target, error) &&
        WriteLogFile(logModel_.Lines(),
                     [&file](std::string_view chunk) { return file.Write(chunk); }) &&
        file.Commit(error);
    if (saved)
        return;
    if (error.empty()) // a failed Write is only explained by Commit
        file.Commit(error);
    ShowMessage("Couldn't save the log to \"" + QDir::toNativeSeparators(path).toStdString() +
                "\": " + error + ". An existing file of that name is left as it was.");
}

} // namespace Wirelog
