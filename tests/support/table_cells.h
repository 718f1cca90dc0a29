#pragma once

#include <QAbstractItemView>
#include <QStringList>

namespace testsupport {

inline int RowCount(const QAbstractItemView *table) {
    return table->model()->rowCount();
}

inline QModelIndex Cell(const QAbstractItemView *table, int row, int column = 0) {
    return table->model()->index(row, column);
}

// One column of a list view, top row first: its text, or the data of a role.
inline QStringList Column(const QAbstractItemView *table, int column, int role = Qt::DisplayRole) {
    QStringList cells;
    for (int row = 0; row < RowCount(table); ++row) {
        cells.append(Cell(table, row, column).data(role).toString());
    }
    return cells;
}

// A column's caption, or the data of a role of its caption.
inline QString Heading(const QAbstractItemView *table, int column, int role = Qt::DisplayRole) {
    return table->model()->headerData(column, Qt::Horizontal, role).toString();
}

} // namespace testsupport
