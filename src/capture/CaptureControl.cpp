// SPDX-License-Identifier: MIT
#include "capture/CaptureControl.h"

#include "events/EventBuffer.h"

#include <algorithm>
#include <condition_variable>
#include <future>
#include <stdexcept>
#include <thread>

#ifdef __linux__
#include <pthread.h>
#endif

namespace Wirelog {

namespace {

std::atomic<bool> instanceAlive{false};

constexpr AdapterFunction kReaderFunctions[] = {AdapterFunction::GetQueueStatus,
                                                AdapterFunction::Read, AdapterFunction::Close};

// Held open by the reader while its message is on screen; closed by the owner's `closed`
// call or by an abort. Shared, so a late `closed` after everything is gone stays harmless.
class MessageGate {
public:
    void Open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    void WaitOpen() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// Adapter faults that surface as C++ exceptions count as a failed call.
template <class Call> bool Guarded(Call&& call, FT_STATUS& status) {
    try {
        status = call();
        return true;
    } catch (...) {
        status = FT_OTHER_ERROR;
        return false;
    }
}

void NameReaderThread() {
#ifdef __linux__
    pthread_setname_np(pthread_self(), "wirelog-reader");
#endif
}

} // namespace

struct CaptureControl::Reader {
    std::uint64_t generation = 0;
    std::thread thread;
    std::promise<void> ended;
    std::shared_future<void> endedSignal = ended.get_future().share();
    std::shared_ptr<MessageGate> gate; // guarded by adapterMutex_
    bool heldByMessage = false;        // guarded by quietMutex_

    bool HasEnded() const {
        return endedSignal.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
};

CaptureControl::CaptureControl(Adapter& adapter, ReaderCallbacks callbacks, Clock clock)
    : adapter_(adapter), callbacks_(std::move(callbacks)), clock_(std::move(clock)) {
    if (instanceAlive.exchange(true))
        throw std::logic_error("only one CaptureControl may exist at a time");
}

CaptureControl::~CaptureControl() {
    StopThread();
    for (auto& reader : abandoned_)
        reader->thread.join();
    abandoned_.clear();
    // An aborted reader leaves the module open; nobody else can close it now.
    ClosePort();
    instanceAlive.store(false);
}

ModuleList CaptureControl::Load() {
    ClosePort();
    hEvent = CreateNotifyEvent();
    return FillDeviceList();
}

ModuleList CaptureControl::FillDeviceList() {
    return ListModules(adapter_);
}

void CaptureControl::OpenPort(std::string_view selectedEntry) {
    const std::optional<int> index = LeadingDeviceIndex(selectedEntry);
    if (!index)
        return;
    std::lock_guard lock(adapterMutex_);
    ClosePortLocked();
    FT_HANDLE opened = nullptr;
    FT_STATUS status;
    if (!Guarded([&] { return adapter_.Open(*index, &opened); }, status) || status != FT_OK ||
        opened == nullptr)
        return;
    handle.store(opened);
    Guarded([&] { return adapter_.SetLatencyTimer(opened, kModuleLatencyMs); }, status);
}

void CaptureControl::ClosePort() {
    std::lock_guard lock(adapterMutex_);
    ClosePortLocked();
}

void CaptureControl::ClosePortLocked() {
    if (FT_HANDLE open = handle.exchange(nullptr)) {
        FT_STATUS ignored;
        Guarded([&] { return adapter_.Close(open); }, ignored);
    }
}

bool CaptureControl::StartCapture(std::string_view selectedEntry,
                                  const std::function<void()>& resetLog) {
    if (!IsPortOpen())
        OpenPort(selectedEntry);
    if (!IsPortOpen())
        return false;
    StopThread();
    if (resetLog)
        resetLog();
    // A missing reader function is reported here, on the owner's thread, not by the reader.
    adapter_.BindNow(kReaderFunctions);
    StartThread();
    SendStartCommand();
    return true;
}

void CaptureControl::StopCapture() {
    SendStopCommand();
    WaitForQuietQueue();
    ClosePort();
    StopThread();
}

void CaptureControl::WaitForQuietQueue() {
    if (!thrdReader || thrdReader->HasEnded())
        return;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point sent = Clock::now();
    const Clock::time_point limit = sent + kStopDrainLimit;
    const Reader& reader = *thrdReader;
    std::unique_lock lock(quietMutex_);
    while (lastEmptyPoll_ < sent + kStopQuiet && !reader.heldByMessage) {
        if (quiet_.wait_until(lock, limit) == std::cv_status::timeout)
            return;
    }
}

void CaptureControl::NoteEmptyPoll(std::chrono::steady_clock::time_point began) {
    {
        std::lock_guard lock(quietMutex_);
        lastEmptyPoll_ = began;
    }
    quiet_.notify_all();
}

void CaptureControl::NoteReaderHeld(Reader& self, bool held) {
    {
        std::lock_guard lock(quietMutex_);
        self.heldByMessage = held;
    }
    quiet_.notify_all();
}

void CaptureControl::SendStartCommand() {
    SendCommand({Modes[0].command, Modes[0].commandComplement});
}

void CaptureControl::SendStopCommand() {
    SendCommand(kStopCommand);
}

void CaptureControl::SendCommand(const std::uint8_t (&command)[2]) {
    std::lock_guard lock(adapterMutex_);
    FT_HANDLE open = handle.load();
    if (open == nullptr)
        return;
    std::uint8_t bytes[2] = {command[0], command[1]};
    DWORD written = 0;
    FT_STATUS ignored;
    Guarded(
        [&] {
            return adapter_.SetEventNotification(open, FT_EVENT_RXCHAR,
                                                 hEvent != nullptr ? hEvent->Param() : nullptr);
        },
        ignored);
    Guarded([&] { return adapter_.Write(open, bytes, 2, &written); }, ignored);
}

void CaptureControl::StartThread() {
    if (thrdReader)
        StopThread();
    ReapEndedReaders();
    // The reset happens here, on the draining thread, so that no drain can overlap it.
    ResetEventBuffer();
    pending_ = PendingCode{};

    auto reader = std::make_unique<Reader>();
    {
        std::lock_guard lock(adapterMutex_);
        reader->generation = generation_.load() + 1;
        generation_.store(reader->generation);
    }
    bContinue.store(true);
    // The thread owns the promise, so the state it signals outlives the signalling.
    std::promise<void> running;
    std::future<void> isRunning = running.get_future();
    Reader& self = *reader;
    reader->thread = std::thread([this, &self, running = std::move(running)]() mutable {
        NameReaderThread();
        const std::int64_t base = clock_();
        running.set_value();
        ReadingProc(self, base);
        self.ended.set_value();
    });
    isRunning.wait();
    thrdReader = std::move(reader);
}

bool CaptureControl::StopThread() {
    bContinue.store(false);
    if (hEvent != nullptr)
        hEvent->Set();
    ReapEndedReaders();
    if (!thrdReader)
        return true;
    if (thrdReader->endedSignal.wait_for(kStopWait) == std::future_status::ready) {
        thrdReader->thread.join();
        thrdReader.reset();
        return true;
    }
    Abort(*thrdReader);
    abandoned_.push_back(std::move(thrdReader));
    return false;
}

void CaptureControl::Abort(Reader& reader) {
    std::lock_guard lock(adapterMutex_);
    if (generation_.load() == reader.generation)
        generation_.store(reader.generation + 1);
    if (reader.gate)
        reader.gate->Open();
}

void CaptureControl::ReapEndedReaders() {
    std::erase_if(abandoned_, [](std::unique_ptr<Reader>& reader) {
        if (!reader->HasEnded())
            return false;
        reader->thread.join();
        return true;
    });
}

std::size_t CaptureControl::LiveReaderThreads() const {
    return abandoned_.size() + (thrdReader ? 1 : 0);
}

bool CaptureControl::IsCurrent(const Reader& self) const {
    return generation_.load() == self.generation;
}

void CaptureControl::ReadingProc(Reader& self, std::int64_t base) {
    // Allocated once per thread and reused by every read.
    std::vector<std::uint8_t> buffer(kReadBufferBytes);
    while (bContinue.load() && IsCurrent(self)) {
        DWORD queued = 0;
        const Step polled = PollQueue(self, queued);
        if (polled == Step::Aborted)
            return;
        // While bytes keep arriving, read again at once.
        while (polled == Step::Ready && queued > 0 && bContinue.load()) {
            const DWORD request = queued >= kReadBufferBytes ? kLargestRequest : queued;
            const Step read = ReadBatch(self, buffer.data(), request, base, queued);
            if (read == Step::Aborted)
                return;
            if (read == Step::Idle)
                break;
            if (read == Step::Failed && !WaitForMessageClosed(self))
                return;
        }
        std::this_thread::sleep_for(kIdlePause);
    }
    CloseAtEnd(self);
}

CaptureControl::Step CaptureControl::PollQueue(Reader& self, DWORD& queued) {
    std::lock_guard lock(adapterMutex_);
    if (!IsCurrent(self))
        return Step::Aborted;
    FT_HANDLE open = handle.load();
    if (open == nullptr)
        return Step::Idle;
    const auto began = std::chrono::steady_clock::now();
    DWORD count = 0;
    FT_STATUS status;
    Guarded([&] { return adapter_.GetQueueStatus(open, &count); }, status);
    // A failing queue (a vanished module) is polled after the idle pause like an empty one,
    // so that it neither spins a core nor starves ClosePort of this mutex.
    if (status != FT_OK || count == 0) {
        NoteEmptyPoll(began);
        return Step::Idle;
    }
    queued = count;
    return Step::Ready;
}

CaptureControl::Step CaptureControl::ReadBatch(Reader& self, std::uint8_t* buffer, DWORD request,
                                               std::int64_t base, DWORD& queued) {
    std::lock_guard lock(adapterMutex_);
    if (!IsCurrent(self))
        return Step::Aborted;
    FT_HANDLE open = handle.load();
    if (open == nullptr)
        return Step::Idle;
    const std::int64_t stamp = clock_() - base;
    DWORD received = 0;
    FT_STATUS status;
    if (!Guarded([&] { return adapter_.Read(open, buffer, request, &received); }, status)) {
        ShowReaderMessage(self, "Exception during Read");
        return Step::Failed;
    }
    if (status != FT_OK) {
        ShowReaderMessage(self, "RError!");
        return Step::Failed;
    }
    // A count beyond the request would describe bytes that are not in the buffer.
    const std::size_t taken = received < request ? received : request;
    if (callbacks_.takeRead)
        callbacks_.takeRead(buffer, taken, stamp);
    else
        FrameBatch(buffer, taken, stamp, pending_);
    if (callbacks_.requestRefresh)
        callbacks_.requestRefresh();
    DWORD count = 0;
    Guarded([&] { return adapter_.GetQueueStatus(open, &count); }, status);
    // A failed count is taken as nothing queued: the loop pauses and asks again.
    queued = status == FT_OK ? count : 0;
    return Step::Ready;
}

void CaptureControl::ShowReaderMessage(Reader& self, const char* text) {
    if (!callbacks_.showMessage)
        return;
    auto gate = std::make_shared<MessageGate>();
    self.gate = gate;
    NoteReaderHeld(self, true);
    callbacks_.showMessage(text, [gate] { gate->Open(); });
}

bool CaptureControl::WaitForMessageClosed(Reader& self) {
    std::shared_ptr<MessageGate> gate;
    {
        std::lock_guard lock(adapterMutex_);
        gate = self.gate;
    }
    if (!gate) {
        std::this_thread::sleep_for(kIdlePause);
        return IsCurrent(self);
    }
    gate->WaitOpen();
    NoteReaderHeld(self, false);
    std::lock_guard lock(adapterMutex_);
    self.gate.reset();
    return IsCurrent(self);
}

void CaptureControl::CloseAtEnd(Reader& self) {
    std::lock_guard lock(adapterMutex_);
    if (IsCurrent(self))
        ClosePortLocked();
}

} // namespace Wirelog
