// SPDX-License-Identifier: GPL-3.0-or-later

// The station table: its columns and one row per station line.

#include "station_data/station_table.h"

#include "station_data/station_line.h"
#include "station_data/station_rows.h"

#include <optional>
#include <string_view>
#include <utility>

namespace {

struct Column {
    const char *key;
    QStringView caption;
    int widthTwips;
};

constexpr Column kColumns[] = {
    {"ID", u"ID", 500},      {"Local", u"地区", 1000}, {"name", u"名称", 3500},
    {"state", u"状态", 700}, {"hot", u"热度", 800},    {"beizu", u"备注", 2000},
};

static_assert(std::size(kColumns) <= StationRows::kMaxCells);

// The index of the column with this key.
constexpr int ColumnOf(std::string_view key) {
    for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
        if (std::string_view(kColumns[column].key) == key) {
            return column;
        }
    }
    return -1;
}

// The cells of a station line's row, each in its column.
StationRows::Cells TableCells(QStringView line) {
    static constexpr int kId = ColumnOf("ID");
    static constexpr int kLocal = ColumnOf("Local");
    static constexpr int kName = ColumnOf("name");
    static constexpr int kState = ColumnOf("state");
    static constexpr int kHot = ColumnOf("hot");
    static constexpr int kStars = ColumnOf("beizu");
    StationRows::Cells cells;
    if (const std::optional<StationCellViews> views = CellViewsOfStationLine(line)) {
        cells[kId] = views->id;
        cells[kLocal] = views->local;
        cells[kName] = views->name;
        cells[kState] = u"ok";
        cells[kHot] = views->hot;
        cells[kStars] = views->stars;
    }
    return cells;
}

} // namespace

StationRows *MakeStationTableRows(QObject *parent) {
    QList<StationRows::Column> columns;
    for (const Column &column : kColumns) {
        columns.append({column.caption.toString(), QString::fromLatin1(column.key)});
    }
    return new StationRows(std::move(columns), TableCells, parent);
}

QList<int> StationTableWidthsTwips() {
    QList<int> widths;
    for (const Column &column : kColumns) {
        widths.append(column.widthTwips);
    }
    return widths;
}
