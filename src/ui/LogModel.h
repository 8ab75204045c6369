// SPDX-License-Identifier: MIT
#pragma once
// The log list's rows: a read-only view of the behaviour's compact line store.
//
// Lines reach the store first and are published to views afterwards in one insertion, so a
// refresh that adds a million lines costs views one rowsInserted, not a million. Text becomes a
// QString only when a view asks for a row it shows.
#include "form/FormBehaviour.h"

#include <QAbstractListModel>

namespace Wirelog {

class LogModel : public QAbstractListModel {
    Q_OBJECT

public:
    // form must outlive this model.
    explicit LogModel(const FormBehaviour& form, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The store gained lines [first, first + count): published as one insertion.
    void Appended(std::size_t first, std::size_t count);
    // The store was emptied.
    void Cleared();

    // The store itself, for the figures of the benchmarks.
    const LogLines& Lines() const { return form_.Lines(); }

    // Characters in the longest line.
    std::size_t LongestLine() const { return form_.LongestLine(); }

private:
    const FormBehaviour& form_;
    int published_ = 0; // rows views know of; the store may run ahead only inside one refresh
};

} // namespace Wirelog
