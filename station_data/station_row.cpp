#include "station_data/station_row.h"

QVariant StationRow::data(int column, int role) const {
    if ((role == Qt::DisplayRole || role == Qt::EditRole) && column >= 0 && column < kMaxCells) {
        return cellsOfLine_(line_)[column].toString();
    }
    if (role == Qt::UserRole && column == 0) {
        return QStringLiteral("hg") + QString::number(key_);
    }
    return QTreeWidgetItem::data(column, role);
}
