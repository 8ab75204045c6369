// SPDX-License-Identifier: MIT
#pragma once
// The Qt window's way of telling the user something: a modal box with an OK button. Form1 shows
// every message of the window's behaviour through it.
//
// Tests of the Qt window record messages instead of showing them (ScopedMessageSink). The box
// belongs to the window thread; called from any other thread, the box is queued to the window
// thread and the caller returns at once, so a worker can never block on a window thread that may
// itself be waiting for the worker.
#include "form/FormTexts.h"

#include <functional>
#include <string>
#include <string_view>

class QWidget;

#ifdef MessageBox
#undef MessageBox // windows.h maps the name to MessageBoxA/W
#endif

namespace Wirelog {

inline constexpr unsigned kMessageOk = 0; // one OK button, no icon
inline constexpr int kMessageResultOk = 1;

struct MessageRequest {
    QWidget* owner = nullptr;
    std::string text;
    std::string caption;
    unsigned type = kMessageOk;
    // Set for a box that does not block the program (ShowMessageWithoutBlocking): called once
    // the user has closed it.
    std::function<void()> closed;
};

// Shows text in a modal box titled caption. Only the type kMessageOk is used by the program;
// the box always has a single OK button and no icon. Returns kMessageResultOk.
int MessageBox(QWidget* owner, std::string_view text, std::string_view caption, unsigned type);

// The form every caller uses: no owner window, the caption "Wirelog", one OK button.
inline void ShowMessage(std::string_view text) {
    MessageBox(nullptr, text, kMessageCaption, kMessageOk);
}

// A box with the caption "Wirelog" and an OK button that leaves every other window usable while
// it is open: for a worker that must wait until the user has seen its message. Callable from
// any thread; it returns at once, and `closed` runs on the window thread when the user closes
// the box. A box still open when the program ends is closed without calling `closed`.
void ShowMessageWithoutBlocking(std::string_view text, std::function<void()> closed);

// While alive, messages go to sink instead of the screen; the previous sink returns afterwards.
// The sink runs on the window thread.
class ScopedMessageSink {
public:
    using Sink = std::function<void(const MessageRequest&)>;
    explicit ScopedMessageSink(Sink sink);
    ~ScopedMessageSink();
    ScopedMessageSink(const ScopedMessageSink&) = delete;
    ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

private:
    Sink previous_;
};

} // namespace Wirelog
