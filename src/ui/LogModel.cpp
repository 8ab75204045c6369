// SPDX-License-Identifier: MIT
#include "ui/LogModel.h"

#include <limits>

namespace Wirelog {

LogModel::LogModel(const FormBehaviour& form, QObject* parent)
    : QAbstractListModel(parent), form_(form) {}

int LogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : published_;
}

// A row the store no longer holds (it was emptied and the views are yet to hear of it) is
// shown empty.
QVariant LogModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= form_.Lines().size())
        return QString();
    const std::string_view line = form_.Lines()[row];
    return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}

void LogModel::Appended(std::size_t first, std::size_t count) {
    // A capture gives at most 1,999,998 lines between two clears; rows are int all the same.
    static_assert(2 * 999'999 < std::numeric_limits<int>::max());
    const int total = static_cast<int>(first + count);
    if (total <= published_)
        return;
    beginInsertRows({}, published_, total - 1);
    published_ = total;
    endInsertRows();
}

void LogModel::Cleared() {
    beginResetModel();
    published_ = 0;
    endResetModel();
}

} // namespace Wirelog
