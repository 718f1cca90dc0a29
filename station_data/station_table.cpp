// The station table: its columns and one row per station line.

#include "main_window/form1.h"
#include "station_data/station_line.h"
#include "station_data/station_row.h"

#include <QHeaderView>
#include <QListWidget>
#include <QTreeWidget>
#include <algorithm>
#include <optional>
#include <string_view>

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

static_assert(std::size(kColumns) <= StationRow::kMaxCells);

constexpr int kKeyRole = Qt::UserRole;

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
StationRow::Cells TableCells(QStringView line) {
    static constexpr int kId = ColumnOf("ID");
    static constexpr int kLocal = ColumnOf("Local");
    static constexpr int kName = ColumnOf("name");
    static constexpr int kState = ColumnOf("state");
    static constexpr int kHot = ColumnOf("hot");
    static constexpr int kStars = ColumnOf("beizu");
    StationRow::Cells cells;
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
    ListView1->setColumnCount(std::size(kColumns));
    ListView1->header()->setMinimumSectionSize(1);
    ListView1->header()->setStretchLastSection(false);
    QTreeWidgetItem *header = ListView1->headerItem();
    for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
        header->setText(column, kColumns[column].caption.toString());
        header->setData(column, kKeyRole, QString::fromLatin1(kColumns[column].key));
        ListView1->setColumnWidth(column, (kColumns[column].widthTwips + 7) / 15);
    }
}

void Form1::AddStationLine(const QString &line) {
    addStationLines({line});
}

void Form1::addStationLines(const QStringList &lines) {
    List1->addItems(lines);
    StationIds.catchUp(*List1);
    // Each row goes on top of the earlier ones: collect them in line order and
    // hand them to the table at once, newest first.
    QList<QTreeWidgetItem *> rows;
    rows.reserve(lines.size());
    for (const QString &line : lines) {
        if (!CellViewsOfStationLine(line)) {
            continue;
        }
        rows.append(new StationRow(line, RowKeyCounter, TableCells));
        ++RowKeyCounter;
    }
    std::reverse(rows.begin(), rows.end());
    ListView1->insertTopLevelItems(0, rows);
}
