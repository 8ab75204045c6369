#include "Form1.h"

#include "AutoScale.h"
#include "MessageBox.h"
#include "TimeBase.h"

#include <QCoreApplication>
#include <QResizeEvent>

#include <algorithm>
#include <array>

namespace Wirelog {

namespace {

constexpr char kCaption[] = "Wirelog (TM) Protocol Analyzer - v1.003";
constexpr char kModuleNotActivated[] = "Couldn't activate the selected module.";
constexpr QSize kDesignClientSize{657, 302};

} // namespace

Form1::Form1() : Form1(DefaultDeployment()) {}

Form1::Form1(const SupportLibraryDeployment& deployment) {
    InitTimeBase();
    if (DeploySupportLibrary(deployment) == DeployResult::Failed) {
        ShowMessage(kDeploymentFailedMessage);
        _isRunning = false;
    }
    InitializeComponent();
}

Form1::~Form1() {
    StopCaptureForDisposal();
}

void Form1::InitializeComponent() {
    CreateControls();
    WireHandlers();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kCaption));
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

void Form1::WireHandlers() {
    connect(&bscan, &QPushButton::clicked, this, &Form1::bscan_Click);
    connect(&lbDevices, &QListWidget::currentRowChanged, this,
            &Form1::lbDevices_SelectedIndexChanged);
    connect(&lbMode, &QListWidget::currentRowChanged, this, &Form1::lbMode_SelectedIndexChanged);
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

// Hooks for the capture engine. Until it is wired in, the window has no module to act on.

void Form1::PrepareModules() {
    // Filled in with the capture engine: handle := null, create hEvent, FillDeviceList().
}

void Form1::StopCaptureForDisposal() {
    // Filled in with the capture engine: StopThread().
}

void Form1::bscan_Click() {}
void Form1::lbDevices_SelectedIndexChanged() {}
void Form1::lbMode_SelectedIndexChanged() {}
void Form1::bStartStop_Click() {}
void Form1::bSave_Click() {}
void Form1::Form_KeyDown(QKeyEvent& /*event*/) {}

} // namespace Wirelog
