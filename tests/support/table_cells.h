// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QStringList>

namespace testsupport {

inline int RowCount(const QAbstractItemModel *model) {
    return model->rowCount();
}

inline QModelIndex Cell(const QAbstractItemModel *model, int row, int column = 0) {
    return model->index(row, column);
}

// One column of a table, top row first: its text, or the data of a role.
inline QStringList Column(const QAbstractItemModel *model, int column, int role = Qt::DisplayRole) {
    QStringList cells;
    for (int row = 0; row < RowCount(model); ++row) {
        cells.append(Cell(model, row, column).data(role).toString());
    }
    return cells;
}

// A column's caption, or the data of a role of its caption.
inline QString Heading(const QAbstractItemModel *model, int column, int role = Qt::DisplayRole) {
    return model->headerData(column, Qt::Horizontal, role).toString();
}

// The same of the table a list view shows.
inline int RowCount(const QAbstractItemView *table) {
    return RowCount(table->model());
}

inline QModelIndex Cell(const QAbstractItemView *table, int row, int column = 0) {
    return Cell(table->model(), row, column);
}

inline QStringList Column(const QAbstractItemView *table, int column, int role = Qt::DisplayRole) {
    return Column(table->model(), column, role);
}

inline QString Heading(const QAbstractItemView *table, int column, int role = Qt::DisplayRole) {
    return Heading(table->model(), column, role);
}

} // namespace testsupport
