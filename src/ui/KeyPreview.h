// SPDX-License-Identifier: MIT
#pragma once
// Lets a window see every key press meant for any of its widgets before that widget does,
// without consuming it: the window's keyboard commands work whichever control has the focus,
// and the focused control still gets the key.
#include <QObject>

#include <functional>

class QKeyEvent;
class QWidget;

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
    bool IsFirstReceiver(QObject* watched) const;

    QWidget& window_;
    Handler handler_;
};

} // namespace Wirelog
