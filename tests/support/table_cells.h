#pragma once

#include <QStringList>
#include <QTreeWidget>

namespace testsupport {

// One column of a list view, top row first: its text, or the data of a role.
inline QStringList Column(const QTreeWidget *table, int column, int role = Qt::DisplayRole) {
    QStringList cells;
    for (int row = 0; row < table->topLevelItemCount(); ++row) {
        cells.append(table->topLevelItem(row)->data(column, role).toString());
    }
    return cells;
}

} // namespace testsupport
