// SPDX-License-Identifier: MIT
#pragma once
// The log list's rows: a read-only view of the compact line store.
//
// Lines reach the store first and are published to views afterwards in one insertion, so a
// refresh that adds a million lines costs views one rowsInserted, not a million. Text becomes a
// QString only when a view asks for a row it shows.
#include "decode/LogLines.h"

#include <QAbstractListModel>

namespace Wirelog {

class LogModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit LogModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Drains every pending event of the event buffer into the log, then publishes the new
    // lines. Returns the number of lines added.
    std::size_t AppendPendingEvents();

    // Removes every line.
    void Clear();

    // The published lines, for saving.
    const LogLines& Lines() const { return lines_; }

    // Characters in the longest published line.
    std::size_t LongestLine() const { return longestLine_; }

private:
    void PublishNewLines();

    LogLines lines_;
    int published_ = 0; // rows views know of; lines_ may run ahead only inside one refresh
    std::size_t longestLine_ = 0;
};

} // namespace Wirelog
