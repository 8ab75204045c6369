// SPDX-License-Identifier: MIT
#pragma once
// The window's behaviour without a window: a view that records what it is told, answers the
// save dialog as a test says, and lets the test, as the window thread, run the log refreshes
// the reader asks for.
#include "SimControl.h"
#include "TestPlatform.h"
#include "app/Deployment.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"
#include "form/FormBehaviour.h"
#include "form/FormTexts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Wirelog::testing {

class FakeView final : public FormView {
public:
    std::vector<std::string> modules;
    int selected = -1;
    std::string caption = kStartCaption;
    bool saveEnabled = true;
    bool autoScroll = false;
    std::size_t rows = 0;
    int insertions = 0;
    int scrolls = 0;
    bool closed = false;
    std::vector<std::string> messages; // modal boxes, in order
    std::vector<SaveDialogSettings> dialogs;
    std::optional<std::filesystem::path> saveAnswer; // the user's answer to every save dialog

    void ShowModules(const std::vector<std::string>& entries) override {
        modules = entries;
        selected = -1;
    }
    void ShowSelectedModule(int index) override { selected = index; }
    void SetStartStopCaption(std::string_view text) override { caption = text; }
    void SetSaveEnabled(bool enabled) override { saveEnabled = enabled; }
    bool IsAutoScrollChecked() const override { return autoScroll; }
    void LogLinesAppended(std::size_t first, std::size_t count) override {
        EXPECT_EQ(first, rows) << "lines published out of order";
        rows = first + count;
        ++insertions;
    }
    void LogCleared() override { rows = 0; }
    void ScrollLogToEnd() override { ++scrolls; }
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    std::optional<std::filesystem::path>
    AskSaveFileName(const SaveDialogSettings& settings) override {
        dialogs.push_back(settings);
        return saveAnswer;
    }
    void CloseWindow() override { closed = true; }

    // Opening a recording: the user's answer to the channel dialog, the progress shown, and the
    // steps asked for, which RunRecording runs as the window thread would.
    std::optional<std::pair<std::size_t, std::size_t>> channelAnswer;
    std::vector<std::vector<std::string>> channelDialogs;
    int progressShown = -1; // -1: hidden
    int stepsRequested = 0;
    std::optional<std::pair<std::size_t, std::size_t>>
    AskChannels(const std::filesystem::path&, const std::vector<std::string>& channels) override {
        channelDialogs.push_back(channels);
        return channelAnswer;
    }
    void ShowRecordingProgress(int percent) override { progressShown = percent; }
    void HideRecordingProgress() override { progressShown = -1; }
    void RequestRecordingStep() override { ++stepsRequested; }
    // `cancelAfter` steps in, the user cancels.
    void RunRecording(FormBehaviour& form, int cancelAfter = -1) {
        for (int step = 0; stepsRequested > 0; ++step) {
            --stepsRequested;
            if (step == cancelAfter)
                form.CancelRecording();
            form.ContinueRecording();
        }
    }

    // From the reader's thread. The boxes stay open: the reader is released when it is stopped.
    void ShowMessageWithoutBlocking(std::string_view text, std::function<void()>) override {
        const std::lock_guard lock(mutex_);
        readerMessages_.emplace_back(text);
        news_ = true;
        changed_.notify_all();
    }
    void RequestLogRefresh() override {
        const std::lock_guard lock(mutex_);
        news_ = true;
        changed_.notify_all();
    }

    std::vector<std::string> ReaderMessages() {
        const std::lock_guard lock(mutex_);
        return readerMessages_;
    }
    // Runs the refreshes the reader asks for, as the window thread would, until done holds.
    bool RefreshUntil(FormBehaviour& form, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            form.UpdateLoggingWindow();
            if (done())
                return true;
            std::unique_lock lock(mutex_);
            if (!changed_.wait_until(lock, deadline, [this] { return news_; }))
                return false;
            news_ = false;
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool news_ = false; // a refresh request or a message since the last look
    std::vector<std::string> readerMessages_;
};

// A scratch directory, removed with everything in it.
struct ScratchDirectory {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("wirelog-form-" + WirelogTest::ProcessId());
    ScratchDirectory() { std::filesystem::create_directories(path); }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// The behaviour over simulated modules, bound to the built adapter library under the name the
// program deploys: the very file the test's simulator controls reach.
class FormTest : public ::testing::Test {
protected:
    FormTest() {
#ifdef _WIN32
        binding_ = std::filesystem::path(test::kAdapterLibraryPath).parent_path();
#else
        binding_ = scratch.path;
        std::filesystem::create_symlink(test::kAdapterLibraryPath, binding_ / kSupportLibraryFile);
#endif
    }
    // A loaded window over the simulated `modules`, in place of any earlier one (one capture at
    // a time).
    void Open(const std::string& modules) {
        form.reset();
        view.emplace();
        sim.Configure(modules);
        _isRunning = true;
        form = std::make_unique<FormBehaviour>(*view, SupportLibraryDeployment{binding_, {}});
        form->Form1_Load();
    }
    bool RefreshUntilRows(std::size_t rows) {
        return view->RefreshUntil(*form, [&] { return form->Lines().size() >= rows; });
    }
    // The log cleared by the C key, then a new capture of these event codes refreshed into it.
    void ShowEvents(const std::vector<std::uint8_t>& codes) {
        form->Form_KeyDown({.key = kClearKey});
        ResetEventBuffer();
        ResetDecoder();
        for (const std::uint8_t code : codes)
            AppendEvent(code, 0, 0);
        form->UpdateLoggingWindow();
    }
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (std::size_t i = 0; i < form->Lines().size(); ++i)
            rows.emplace_back(form->Lines()[i]);
        return rows;
    }
    // The capture state as the user sees it.
    std::string State() const {
        return view->caption + (view->saveEnabled ? ", Save Log enabled" : ", Save Log disabled");
    }

    ScratchDirectory scratch;
    test::SimControl sim;
    std::optional<FakeView> view; // outlives the behaviour that calls it
    std::unique_ptr<FormBehaviour> form;

private:
    std::filesystem::path binding_;
};

} // namespace Wirelog::testing
