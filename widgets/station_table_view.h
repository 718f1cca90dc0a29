// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <optional>

class QAbstractItemModel;
class QTreeView;

// Makes a tree view a station table over rows: flat rows selected whole, not
// editable, in the tables' Song face, each column as wide as given (pixels)
// and the last one not stretched.
void SetUpStationTable(QTreeView &view, QAbstractItemModel *rows, const QList<int> &widths);

// The ID (the first cell) of the table's selected row, or nothing.
std::optional<QString> SelectedStationId(const QTreeView &view);

// Calls handler on each double click in the table's rows.
void OnStationDoubleClick(QTreeView &view, std::function<void()> handler);
