// SPDX-License-Identifier: MIT
#include "ui/SelectedIndexWatch.h"

#include <QListWidget>
#include <QSignalBlocker>

namespace Wirelog {

SelectedIndexWatch::SelectedIndexWatch(QListWidget& list, std::function<void()> changed)
    : QObject(&list), list_(list), changed_(std::move(changed)) {
    connect(&list_, &QListWidget::itemSelectionChanged, this, &SelectedIndexWatch::Update);
}

void SelectedIndexWatch::Clear() {
    const QSignalBlocker quiet(list_);
    list_.clear();
    selected_ = -1;
}

void SelectedIndexWatch::Update() {
    const QList<QListWidgetItem*> selected = list_.selectedItems();
    const int index = selected.isEmpty() ? -1 : list_.row(selected.front());
    if (index == selected_)
        return;
    selected_ = index;
    changed_();
}

} // namespace Wirelog
