// SPDX-License-Identifier: MIT
#pragma once
// The program's one window: the module list with SCAN, START/STOP, auto-scroll, Save Log, the
// key help and the log list. It owns every control and every handler, the binding to the
// adapter library and the capture.
#include "adapter/AdapterLibrary.h"
#include "app/Deployment.h"
#include "capture/CaptureControl.h"
#include "ui/CoalescedCall.h"
#include "ui/KeyPreview.h"
#include "ui/ListBox.h"
#include "ui/LogModel.h"
#include "ui/LogView.h"
#include "ui/SelectedIndexWatch.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;

namespace Wirelog {

// How Save Log asks for the file: shows the dialog and gives the path chosen, or nothing when
// the user cancels.
using SaveDialogRunner = std::function<std::optional<QString>(QFileDialog&)>;

// What the program does: the dialog, modal, answered by the user.
std::optional<QString> RunSaveDialog(QFileDialog& dialog);

// The program's icon in every size it is drawn at (16, 32, 48 and 256 pixels).
QIcon ProgramIcon();

class Form1 : public QWidget {
    Q_OBJECT

public:
    // Sets the time base, deploys the adapter library into the current directory and builds
    // the controls. The adapter library is bound from the deployed file.
    Form1();
    // The same with the library's bytes and target directory given, for tests: the window
    // binds whatever file "wirlg000.dll" in that directory is.
    explicit Form1(const SupportLibraryDeployment& deployment);
    ~Form1() override;

    // The first show runs the load step (Form1_Load) just before the window appears.
    void setVisible(bool visible) override;

    // Moves every event stored since the last refresh into the log list and, with auto-scroll
    // checked, shows the newest line. Window thread only.
    void UpdateLoggingWindow();

    // Asks the window thread for one UpdateLoggingWindow. Callable from any thread, also after
    // the window is gone (it then does nothing); requests still pending are merged.
    std::function<void()> LogRefreshRequester() const { return logRefresh_.Requester(); }

    // Replaces the user's answer to the save dialog (RunSaveDialog by default).
    void SetSaveDialogRunner(SaveDialogRunner runner) { runSaveDialog_ = std::move(runner); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct DesignedControl {
        QWidget& control;
        const char* name;
        const char* caption; // null for controls without one
        QRect design;        // at the design character cell
        bool sizedToText;
    };
    std::array<DesignedControl, 17> Design();

    void InitializeComponent();
    void CreateControls();
    void SetUpSaveDialog();
    void WireHandlers();
    void SetTabOrder();
    void SetStackingOrder();
    void LayOut();

    // Load: ends the program after a failed deployment, otherwise prepares the modules.
    void Form1_Load();
    void PrepareModules();
    // Run first when the window goes away: a capture must not outlive it.
    void StopCaptureForDisposal();

    void FillDeviceList();
    void ShowModules(const ModuleList& modules);
    std::string SelectedEntry() const;
    // What SCAN, a selection and Save Log do to a running capture: no stop command.
    void EndCaptureWithoutStopCommand();
    void SaveLogTo(const QString& path);

    void bscan_Click();
    void lbDevices_SelectedIndexChanged();
    void lbMode_SelectedIndexChanged();
    void bStartStop_Click();
    void bSave_Click();
    void Form_KeyDown(QKeyEvent& event);

    QLabel label2{this};
    QPushButton bscan{this};
    ListBox lbDevices{this};
    QLabel label3{this};
    QListWidget lbMode{this};
    QPushButton btnStartStop{this};
    QCheckBox cbAutoScroll{this};
    QLabel labelMaxCount{this};
    QLineEdit tbMaxCount{this};
    QLabel labelValue{this};
    QLineEdit tbValue{this};
    QCheckBox cbOption1{this};
    QCheckBox cbOption2{this};
    QLabel label1{this};
    QPushButton bSave{this};
    QLabel label4{this};
    LogModel logModel_{this};
    LogView listBox1{this};
    QFileDialog saveFileDialog1{this};
    SaveDialogRunner runSaveDialog_ = RunSaveDialog;

    SelectedIndexWatch devicesSelection_{lbDevices, [this] { lbDevices_SelectedIndexChanged(); }};
    SelectedIndexWatch modeSelection_{lbMode, [this] { lbMode_SelectedIndexChanged(); }};

    KeyPreview keyPreview_{*this, [this](QKeyEvent& event) { Form_KeyDown(event); }};
    // The log list's anchoring to the right and bottom edges, fixed when it is laid out.
    int logRightMargin_ = 0;
    int logBottomMargin_ = 0;
    bool loaded_ = false;
    // Before the capture, which calls it until it is gone.
    AdapterLibrary adapter_;
    // After the controls, so that it goes before them: no refresh can start once they are going.
    // At most one refresh per kRefreshInterval: at a saturated bus the reader asks hundreds of
    // times a second, and each run costs the view a relayout and a repaint.
    static constexpr std::chrono::milliseconds kRefreshInterval{20};
    CoalescedCall logRefresh_{[this] { UpdateLoggingWindow(); }, kRefreshInterval};
    // Last, so that it goes first: every reader joined before anything it reaches goes.
    std::unique_ptr<CaptureControl> capture_;
};

} // namespace Wirelog
