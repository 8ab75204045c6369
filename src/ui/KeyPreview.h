// SPDX-License-Identifier: MIT
#pragma once
// Lets a window see every key press meant for any of its widgets before that widget does,
// without consuming it: the window's keyboard commands work whichever control has the focus,
// and the focused control still gets the key.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QKeyEvent;

namespace Wirelog {

class KeyPreview : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(QKeyEvent&)>;

    // Watches the key presses of window and its children for as long as this object lives.
    KeyPreview(QWidget& window, Handler handler);
    ~KeyPreview() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsFirstReceiver(QObject* watched, const QEvent* event);

    QWidget& window_;
    Handler handler_;
    // The press last handled and who got it, to tell its travel to the parents from a new press;
    // the event is only compared, never used.
    const QEvent* lastEvent_ = nullptr;
    QPointer<QWidget> lastReceiver_;
};

} // namespace Wirelog
