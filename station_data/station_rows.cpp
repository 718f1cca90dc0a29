// SPDX-License-Identifier: GPL-3.0-or-later
#include "station_data/station_rows.h"

#include <utility>

StationRows::StationRows(QList<Column> columns, CellsOfLine cellsOfLine, QObject *parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)), cellsOfLine_(cellsOfLine) {
    Q_ASSERT(columns_.size() <= kMaxCells);
}

void StationRows::addOnTop(const QStringList &lines, qint64 firstKey) {
    if (lines.isEmpty()) {
        return;
    }
    if (lines_.isEmpty()) {
        firstKey_ = firstKey;
    }
    beginInsertRows({}, 0, lines.size() - 1);
    lines_.append(lines);
    endInsertRows();
}

void StationRows::clear() {
    beginResetModel();
    lines_.clear();
    endResetModel();
}

int StationRows::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : lines_.size();
}

int StationRows::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : columns_.size();
}

QVariant StationRows::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    // The top row holds the newest line.
    const qsizetype line = lines_.size() - 1 - index.row();
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        return cellsOfLine_(lines_.at(line))[index.column()].toString();
    }
    if (role == Qt::UserRole && index.column() == 0) {
        return QStringLiteral("hg") + QString::number(firstKey_ + line);
    }
    return {};
}

QVariant StationRows::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns_.size()) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return columns_.at(section).caption;
    }
    if (role == Qt::UserRole) {
        return columns_.at(section).key;
    }
    return {};
}
