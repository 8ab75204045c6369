// SPDX-License-Identifier: MIT
#include "ui/KeyPreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace Wirelog {

KeyPreview::KeyPreview(QWidget& window, Handler handler)
    : QObject(&window), window_(window), handler_(std::move(handler)) {
    // An application filter runs before the receiver's own filters and handlers.
    qApp->installEventFilter(this);
}

KeyPreview::~KeyPreview() {
    qApp->removeEventFilter(this);
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && IsFirstReceiver(watched))
        handler_(static_cast<QKeyEvent&>(*event));
    return false;
}

// A key press that its first receiver ignores travels on to the parents, passing this filter
// again; only the first delivery counts. That first receiver is the focus widget, or the
// window itself when nothing inside it has the focus.
bool KeyPreview::IsFirstReceiver(QObject* watched) const {
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (widget == nullptr || widget->window() != &window_)
        return false;
    const QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && focus->window() == &window_)
        return widget == focus;
    return widget == &window_;
}

} // namespace Wirelog
