// SPDX-License-Identifier: MIT
#pragma once
// The program's one window in Qt: the module list with SCAN, START/STOP, auto-scroll, Save Log,
// the key help and the log list. A view over FormBehaviour, which decides everything the window
// does: this class builds and lays out the controls, forwards their events and shows what the
// behaviour tells it.
#include "app/Deployment.h"
#include "form/FormBehaviour.h"
#include "form/FormView.h"
#include "ui/ChannelDialog.h"
#include "ui/CoalescedCall.h"
#include "ui/KeyPreview.h"
#include "ui/ListBox.h"
#include "ui/LogModel.h"
#include "ui/LogView.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace Wirelog {

// How Save Log asks for the file: shows the dialog and gives the path chosen, or nothing when
// the user cancels.
using SaveDialogRunner = std::function<std::optional<QString>(QFileDialog&)>;

// What the program does: the dialog, modal, answered by the user.
std::optional<QString> RunSaveDialog(QFileDialog& dialog);

// How a recording's channels are asked for: shows the dialog, true once the user confirmed.
using ChannelDialogRunner = std::function<bool(ChannelDialog&)>;
bool RunChannelDialog(ChannelDialog& dialog);

// The program's icon in every size it is drawn at (16, 32, 48 and 256 pixels).
QIcon ProgramIcon();

// The current directory and the adapter library image embedded in the program.
SupportLibraryDeployment DefaultDeployment();

class Form1 : public QWidget, private FormView {
    Q_OBJECT

public:
    // The behaviour's start-up duties (time base, deployment of the adapter library into the
    // current directory), then the controls.
    Form1();
    // The same with the library's bytes and target directory given, for tests: the window
    // binds whatever file "wirlg000.dll" in that directory is.
    explicit Form1(const SupportLibraryDeployment& deployment);
    // The window's disposal first: no reader outlives the controls.
    ~Form1() override;

    // The first show runs the load step (Form1_Load) just before the window appears.
    void setVisible(bool visible) override;

    // One log refresh now. Window thread only.
    void UpdateLoggingWindow() { behaviour_.UpdateLoggingWindow(); }

    // Replaces the user's answer to the save dialog (RunSaveDialog by default).
    void SetSaveDialogRunner(SaveDialogRunner runner) { runSaveDialog_ = std::move(runner); }
    // Replaces the user's answer to the channel dialog (RunChannelDialog by default).
    void SetChannelDialogRunner(ChannelDialogRunner runner) {
        runChannelDialog_ = std::move(runner);
    }

    // A recording named on the command line: opened once the load step has run.
    void OpenRecordingOnLoad(const QString& file) { startupRecording_ = file; }
    // Opens a recording now, as a file dropped on the log list does.
    void OpenRecording(const QString& file);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::array<QWidget*, 17> Controls();
    QWidget& Control(std::string_view name);

    void InitializeComponent();
    void CreateControls();
    void SetUpSaveDialog();
    void WireHandlers();
    void SetTabOrder();
    void LayOut();
    int SelectedDevice() const;

    // FormView
    void ShowModules(const std::vector<std::string>& entries) override;
    void ShowSelectedModule(int index) override;
    void SetStartStopCaption(std::string_view caption) override;
    void SetSaveEnabled(bool enabled) override;
    bool IsAutoScrollChecked() const override;
    void LogLinesAppended(std::size_t first, std::size_t count) override;
    void LogCleared() override;
    void ScrollLogToEnd() override;
    void ShowMessage(std::string_view text) override;
    void ShowMessageWithoutBlocking(std::string_view text, std::function<void()> closed) override;
    std::optional<std::filesystem::path>
    AskSaveFileName(const SaveDialogSettings& settings) override;
    void RequestLogRefresh() override;
    void CloseWindow() override;
    std::optional<std::pair<std::size_t, std::size_t>>
    AskChannels(const std::filesystem::path& file,
                const std::vector<std::string>& channels) override;
    void ShowRecordingProgress(int percent) override;
    void HideRecordingProgress() override;
    void RequestRecordingStep() override;

    // First: the start-up duties run before any control exists. It goes last, so its capture,
    // stopped by the disposal, is joined once nothing of the window is left to reach.
    FormBehaviour behaviour_;
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
    LogModel logModel_{behaviour_, this};
    LogView listBox1{this};
    QFileDialog saveFileDialog1{this};
    SaveDialogRunner runSaveDialog_ = RunSaveDialog;
    ChannelDialogRunner runChannelDialog_ = RunChannelDialog;
    std::optional<QString> startupRecording_;
    // Made when a recording is first opened.
    std::unique_ptr<QProgressDialog> recordingProgress_;

    KeyPreview keyPreview_{*this, [this](QKeyEvent& event) { OnKeyPress(event); }};
    void OnKeyPress(const QKeyEvent& event);
    // The log list's anchoring to the right and bottom edges, fixed when it is laid out.
    int logRightMargin_ = 0;
    int logBottomMargin_ = 0;
    bool loaded_ = false;
    bool closing_ = false; // the load step ended the program
    // At most one refresh per kRefreshInterval: at a saturated bus the reader asks hundreds of
    // times a second, and each run costs the view a relayout and a repaint.
    static constexpr std::chrono::milliseconds kRefreshInterval{20};
    CoalescedCall logRefresh_{[this] { UpdateLoggingWindow(); }, kRefreshInterval};
};

} // namespace Wirelog
