// SPDX-License-Identifier: MIT
#include "ui/LogModel.h"

#include "decode/LogDrain.h"

#include <algorithm>
#include <limits>

namespace Wirelog {

LogModel::LogModel(QObject* parent) : QAbstractListModel(parent) {}

int LogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : published_;
}

QVariant LogModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const std::string_view line = lines_[static_cast<std::size_t>(index.row())];
    return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}

std::size_t LogModel::AppendPendingEvents() {
    const std::size_t before = lines_.size();
    DrainEvents(lines_);
    PublishNewLines();
    return lines_.size() - before;
}

void LogModel::PublishNewLines() {
    // A capture gives at most 1,999,998 lines between two clears; rows are int all the same.
    static_assert(2 * 999'999 < std::numeric_limits<int>::max());
    const int total = static_cast<int>(lines_.size());
    if (total == published_)
        return;
    for (int row = published_; row < total; ++row)
        longestLine_ = std::max(longestLine_, lines_[static_cast<std::size_t>(row)].size());
    beginInsertRows({}, published_, total - 1);
    published_ = total;
    endInsertRows();
}

void LogModel::Clear() {
    beginResetModel();
    lines_.clear();
    published_ = 0;
    longestLine_ = 0;
    endResetModel();
}

} // namespace Wirelog
