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
    if (event->type() == QEvent::KeyPress && IsFirstReceiver(watched, event))
        handler_(static_cast<QKeyEvent&>(*event));
    return false;
}

// A key press that its first receiver ignores travels on to the parents, passing this filter
// again; only the first delivery counts. That first receiver is the focus widget, or the
// window itself when nothing inside it has the focus. A message box opened by the handler can
// take the focus before the press travels on, so the press last handled is remembered too.
bool KeyPreview::IsFirstReceiver(QObject* watched, const QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != &window_)
        return false;
    const QWidget* focus = QApplication::focusWidget();
    const bool first =
        focus != nullptr && focus->window() == &window_ ? widget == focus : widget == &window_;
    const bool travelling =
        event == lastEvent_ && lastReceiver_ && widget->isAncestorOf(lastReceiver_);
    // The window is where a press's travel ends; a later press may reuse the event's address.
    lastEvent_ = widget == &window_ ? nullptr : event;
    lastReceiver_ = widget;
    return first && !travelling;
}

} // namespace Wirelog
