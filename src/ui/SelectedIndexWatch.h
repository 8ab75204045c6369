// SPDX-License-Identifier: MIT
#pragma once
// A list's "selected index changed" notification with a list box's rules: it fires whenever
// the selected row changes, by the user or by the program, including a change to no selection,
// but not when the list is emptied, and never when only the current (focus) row moves.
#include <QObject>

#include <functional>

class QListWidget;

namespace Wirelog {

class SelectedIndexWatch : public QObject {
    Q_OBJECT

public:
    SelectedIndexWatch(QListWidget& list, std::function<void()> changed);

    // The selected row, -1 when none.
    int SelectedIndex() const { return selected_; }

    // Removes every entry without a notification.
    void Clear();

private:
    void Update();

    QListWidget& list_;
    std::function<void()> changed_;
    int selected_ = -1;
};

} // namespace Wirelog
