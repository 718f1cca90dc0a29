// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>

class QObject;
class StationRows;

// The rows of the main window's station table: its six columns (ID, region,
// name, state, heat, stars), each row's cells taken from its directory line.
StationRows *MakeStationTableRows(QObject *parent);

// The widths of the station table's columns in twips, in column order.
QList<int> StationTableWidthsTwips();
