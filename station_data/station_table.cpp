// The station table: its columns and one row per station line.

#include "main_window/form1.h"
#include "station_data/station_line.h"
#include "station_data/station_row.h"

#include <QHeaderView>
#include <QListWidget>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

namespace {

struct Column {
    const char *key;
    QString caption;
    int widthTwips;
};

const Column kColumns[] = {
    {"ID", QStringLiteral("ID"), 500},      {"Local", QStringLiteral("地区"), 1000},
    {"name", QStringLiteral("名称"), 3500}, {"state", QStringLiteral("状态"), 700},
    {"hot", QStringLiteral("热度"), 800},   {"beizu", QStringLiteral("备注"), 2000},
};

static_assert(std::size(kColumns) <= StationRow::kMaxCells);

constexpr int kKeyRole = Qt::UserRole;

// The index of the column with this key.
int ColumnOf(const QTreeWidget *table, const char *key) {
    const QTreeWidgetItem *header = table->headerItem();
    for (int column = 0; column < header->columnCount(); ++column) {
        if (header->data(column, kKeyRole).toString() == QLatin1String(key)) {
            return column;
        }
    }
    return -1;
}

} // namespace

void Form1::setUpStationTable() {
    ListView1->setColumnCount(std::size(kColumns));
    ListView1->header()->setMinimumSectionSize(1);
    ListView1->header()->setStretchLastSection(false);
    QTreeWidgetItem *header = ListView1->headerItem();
    for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
        header->setText(column, kColumns[column].caption);
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
    const int localColumn = ColumnOf(ListView1, "Local");
    const int nameColumn = ColumnOf(ListView1, "name");
    const int stateColumn = ColumnOf(ListView1, "state");
    const int hotColumn = ColumnOf(ListView1, "hot");
    const int starsColumn = ColumnOf(ListView1, "beizu");
    // Each row goes on top of the earlier ones: collect them in line order and
    // hand them to the table at once, newest first.
    QList<QTreeWidgetItem *> rows;
    rows.reserve(lines.size());
    for (const QString &line : lines) {
        auto row = std::make_unique<StationRow>(line, RowKeyCounter);
        const std::optional<StationCellViews> cells = CellViewsOfStationLine(row->line());
        if (!cells) {
            continue;
        }
        row->cells[0] = cells->id;
        row->cells[localColumn] = cells->local;
        row->cells[nameColumn] = cells->name;
        row->cells[stateColumn] = u"ok";
        row->cells[hotColumn] = cells->hot;
        row->cells[starsColumn] = cells->stars;
        rows.append(row.release());
        ++RowKeyCounter;
    }
    std::reverse(rows.begin(), rows.end());
    ListView1->insertTopLevelItems(0, rows);
}
