// The station table: its columns and one row per station line.

#include "main_window/form1.h"
#include "main_window/list_box.h"
#include "station_data/station_line.h"
#include "station_data/station_rows.h"

#include <QHeaderView>
#include <QTreeView>
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

void Form1::setUpStationTable() {
    QList<StationRows::Column> columns;
    for (const Column &column : kColumns) {
        columns.append({column.caption.toString(), QString::fromLatin1(column.key)});
    }
    ListView1Rows = new StationRows(std::move(columns), TableCells, ListView1);
    ListView1->setModel(ListView1Rows);
    ListView1->header()->setMinimumSectionSize(1);
    ListView1->header()->setStretchLastSection(false);
    for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
        ListView1->setColumnWidth(column, (kColumns[column].widthTwips + 7) / 15);
    }
}

void Form1::AddStationLine(const QString &line) {
    addStationLines({line});
}

void Form1::addStationLines(const QStringList &lines) {
    List1->addItems(lines);
    StationIds.catchUp(List1->lines());
    QStringList stations;
    stations.reserve(lines.size());
    for (const QString &line : lines) {
        if (CellViewsOfStationLine(line)) {
            stations.append(line);
        }
    }
    ListView1Rows->addOnTop(stations, RowKeyCounter);
    RowKeyCounter += stations.size();
}
