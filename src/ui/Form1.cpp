// SPDX-License-Identifier: MIT
#include "ui/Form1.h"

#include "form/Design.h"
#include "form/FormTexts.h"
#include "ui/AutoScale.h"
#include "ui/EmbeddedLibrary.h"
#include "ui/MessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QSignalBlocker>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace Wirelog {

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::filesystem::path PathOf(const QString& name) {
#ifdef _WIN32
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

QString NameOf(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

} // namespace

std::optional<QString> RunSaveDialog(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

bool RunChannelDialog(ChannelDialog& dialog) {
    return dialog.exec() == QDialog::Accepted;
}

SupportLibraryDeployment DefaultDeployment() {
    return {std::filesystem::current_path(), EmbeddedSupportLibrary};
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/wirelog/icons/wirelog-%1.png").arg(size), QSize(size, size));
    return icon;
}

Form1::Form1() : Form1(DefaultDeployment()) {}

Form1::Form1(const SupportLibraryDeployment& deployment) : behaviour_(*this, deployment) {
    InitializeComponent();
}

Form1::~Form1() {
    behaviour_.Dispose();
}

void Form1::InitializeComponent() {
    CreateControls();
    SetUpSaveDialog();
    WireHandlers();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kWindowCaption));
    setWindowIcon(ProgramIcon());
    SetTabOrder();
    LayOut();
    bscan.setFocus();
}

// In the design table's (stacking) order.
std::array<QWidget*, 17> Form1::Controls() {
    return {&btnStartStop,  &lbDevices,  &label2,    &bscan,        &label1,     &bSave,
            &lbMode,        &label3,     &listBox1,  &cbAutoScroll, &tbMaxCount, &tbValue,
            &labelMaxCount, &labelValue, &cbOption1, &cbOption2,    &label4};
}

QWidget& Form1::Control(std::string_view name) {
    const std::array<QWidget*, 17> controls = Controls();
    for (std::size_t i = 0; i < kControls.size(); ++i)
        if (kControls[i].name == name)
            return *controls[i];
    throw std::logic_error("no control of that name");
}

// Named, captioned, shown and enabled as designed; each raised above the ones before it.
void Form1::CreateControls() {
    const std::array<QWidget*, 17> controls = Controls();
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        const ControlDesign& design = kControls[i];
        QWidget& control = *controls[i];
        control.setObjectName(Text(design.name));
        if (!design.caption.empty())
            control.setProperty("text", Text(design.caption));
        control.setVisible(design.shown);
        control.setEnabled(design.enabled);
        control.raise();
    }
    lbDevices.setSelectionMode(QAbstractItemView::SingleSelection);
    listBox1.setModel(&logModel_);
    listBox1.SetFileDropHandler([this](const QString& file) { OpenRecording(file); });
}

// Qt's own dialog, the counterpart of the older common dialog, reused for every save.
void Form1::SetUpSaveDialog() {
    saveFileDialog1.setObjectName(QStringLiteral("saveFileDialog1"));
    saveFileDialog1.setOptions(QFileDialog::DontUseNativeDialog |
                               QFileDialog::HideNameFilterDetails);
    saveFileDialog1.setAcceptMode(QFileDialog::AcceptSave);
    saveFileDialog1.setFileMode(QFileDialog::AnyFile);
}

void Form1::WireHandlers() {
    connect(&bscan, &QPushButton::clicked, this, [this] { behaviour_.bscan_Click(); });
    connect(&btnStartStop, &QPushButton::clicked, this, [this] { behaviour_.bStartStop_Click(); });
    connect(&bSave, &QPushButton::clicked, this, [this] { behaviour_.bSave_Click(); });
    connect(&lbDevices, &QListWidget::itemSelectionChanged, this,
            [this] { behaviour_.lbDevices_SelectedIndexChanged(SelectedDevice()); });
    connect(&lbMode, &QListWidget::itemSelectionChanged, this,
            [this] { behaviour_.lbMode_SelectedIndexChanged(); });
}

int Form1::SelectedDevice() const {
    const QList<QListWidgetItem*> selected = lbDevices.selectedItems();
    return selected.isEmpty() ? -1 : lbDevices.row(selected.front());
}

// Hidden controls are skipped by the focus chain, labels never take the focus, and the log list
// is reached with the mouse only.
void Form1::SetTabOrder() {
    for (std::size_t i = 1; i < kTabOrder.size(); ++i)
        setTabOrder(&Control(kTabOrder[i - 1]), &Control(kTabOrder[i]));
}

void Form1::LayOut() {
    const AutoScale scale(CharacterCell(font()));
    const std::array<QWidget*, 17> controls = Controls();
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        const DesignRect& design = kControls[i].place;
        QRect bounds = scale.Rect({design.x, design.y, design.width, design.height});
        if (kControls[i].sizedToText)
            bounds.setSize(controls[i]->sizeHint());
        controls[i]->setGeometry(bounds);
    }
    const QSize client = scale.Size({kDesignClientWidth, kDesignClientHeight});
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
        behaviour_.Form1_Load();
    }
    if (visible && closing_)
        return; // the load ended the program; the window never appears
    QWidget::setVisible(visible);
    if (visible && startupRecording_) {
        // Once the window is up, so the progress and any message have it to stand over.
        QMetaObject::invokeMethod(
            this, [this, file = *startupRecording_] { OpenRecording(file); }, Qt::QueuedConnection);
        startupRecording_.reset();
    }
}

void Form1::OpenRecording(const QString& file) {
    behaviour_.OpenRecording(PathOf(file));
}

// Qt gives letter keys their upper-case ASCII code, as the behaviour takes them.
void Form1::OnKeyPress(const QKeyEvent& event) {
    behaviour_.Form_KeyDown({.key = event.key(),
                             .alt = event.modifiers().testFlag(Qt::AltModifier),
                             .ctrl = event.modifiers().testFlag(Qt::ControlModifier)});
}

void Form1::ShowModules(const std::vector<std::string>& entries) {
    const QSignalBlocker quiet(lbDevices);
    lbDevices.clear();
    for (const std::string& entry : entries)
        lbDevices.addItem(Text(entry));
}

void Form1::ShowSelectedModule(int index) {
    const QSignalBlocker quiet(lbDevices);
    if (index < 0)
        lbDevices.clearSelection();
    else
        lbDevices.setCurrentRow(index);
}

void Form1::SetStartStopCaption(std::string_view caption) {
    btnStartStop.setText(Text(caption));
}

void Form1::SetSaveEnabled(bool enabled) {
    bSave.setEnabled(enabled);
}

bool Form1::IsAutoScrollChecked() const {
    return cbAutoScroll.isChecked();
}

void Form1::LogLinesAppended(std::size_t first, std::size_t count) {
    logModel_.Appended(first, count);
}

void Form1::LogCleared() {
    logModel_.Cleared();
}

void Form1::ScrollLogToEnd() {
    listBox1.ShowNewestLine();
}

void Form1::ShowMessage(std::string_view text) {
    Wirelog::ShowMessage(text);
}

void Form1::ShowMessageWithoutBlocking(std::string_view text, std::function<void()> closed) {
    Wirelog::ShowMessageWithoutBlocking(text, std::move(closed));
}

std::optional<std::filesystem::path> Form1::AskSaveFileName(const SaveDialogSettings& settings) {
    saveFileDialog1.setWindowTitle(Text(settings.title));
    saveFileDialog1.setNameFilter(
        QStringLiteral("%1 (%2)").arg(Text(settings.filterName), Text(settings.filterPattern)));
    saveFileDialog1.setDefaultSuffix(Text(settings.defaultExtension));
    saveFileDialog1.setDirectory(NameOf(settings.initialDirectory));
    if (!settings.fileName.empty())
        saveFileDialog1.selectFile(NameOf(settings.fileName));
    const std::optional<QString> chosen = runSaveDialog_(saveFileDialog1);
    if (!chosen)
        return std::nullopt;
    return PathOf(*chosen);
}

void Form1::RequestLogRefresh() {
    logRefresh_.Request();
}

void Form1::CloseWindow() {
    closing_ = true;
    QCoreApplication::quit();
    close();
}

} // namespace Wirelog

namespace Wirelog {

std::optional<std::pair<std::size_t, std::size_t>>
Form1::AskChannels(const std::filesystem::path& file, const std::vector<std::string>& channels) {
    ChannelDialog dialog(NameOf(file.filename()), channels, this);
    if (!runChannelDialog_(dialog) || dialog.sclIndex() < 0 || dialog.sdaIndex() < 0)
        return std::nullopt;
    return std::pair{static_cast<std::size_t>(dialog.sclIndex()),
                     static_cast<std::size_t>(dialog.sdaIndex())};
}

// Qt's progress dialog appears only once the work has taken half a second, so a short file
// shows none; its Cancel button ends the opening.
void Form1::ShowRecordingProgress(int percent) {
    if (!recordingProgress_) {
        recordingProgress_ = std::make_unique<QProgressDialog>(this);
        recordingProgress_->setObjectName(QStringLiteral("recordingProgress"));
        recordingProgress_->setWindowTitle(QString::fromLatin1(kMessageCaption));
        recordingProgress_->setLabelText(tr("Opening the recording..."));
        recordingProgress_->setWindowModality(Qt::WindowModal);
        recordingProgress_->setMinimumDuration(500);
        recordingProgress_->setAutoReset(false);
        recordingProgress_->setAutoClose(false);
        connect(recordingProgress_.get(), &QProgressDialog::canceled, this,
                [this] { behaviour_.CancelRecording(); });
    }
    recordingProgress_->setRange(0, 100);
    recordingProgress_->setValue(percent);
}

void Form1::HideRecordingProgress() {
    if (recordingProgress_) {
        const QSignalBlocker quiet(recordingProgress_.get()); // a reset is no cancel
        recordingProgress_->reset();
        recordingProgress_->hide();
    }
}

void Form1::RequestRecordingStep() {
    QMetaObject::invokeMethod(
        this, [this] { behaviour_.ContinueRecording(); }, Qt::QueuedConnection);
}

} // namespace Wirelog
