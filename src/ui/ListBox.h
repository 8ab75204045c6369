// SPDX-License-Identifier: MIT
#pragma once
// A single-selection list that behaves as a list box: a click always leaves the clicked line
// selected. Qt lets Ctrl+click clear the selection, which would tell the module-selection
// handler that nothing is chosen and make it report a module it cannot open.
#include <QListWidget>

namespace Wirelog {

class ListBox : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override {
        const QItemSelectionModel::SelectionFlags flags =
            QListWidget::selectionCommand(index, event);
        if (index.isValid() && (flags & QItemSelectionModel::Deselect))
            return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
        return flags;
    }
};

} // namespace Wirelog
