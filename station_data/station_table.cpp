// The station table: its columns and one row per station line.

#include "main_window/form1.h"
#include "station_data/station_line.h"

#include <QHeaderView>
#include <QListWidget>
#include <QTreeWidget>

namespace {

struct Column {
    const char *key;
    QString caption;
    int widthTwips;
};

const Column kColumns[] = {
    {"ID", QStringLiteral("ID"), 500},       {"Local", QStringLiteral("地区"), 1000},
    {"name", QStringLiteral("名称"), 3500},  {"state", QStringLiteral("状态"), 700},
    {"hot", QStringLiteral("热度"), 800},    {"beizu", QStringLiteral("备注"), 2000},
};

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

void Form1::SetUpStationTable() {
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
    List1->addItem(line);
    const std::optional<StationCells> cells = CellsOfStationLine(line);
    if (!cells) {
        return;
    }
    auto *row = new QTreeWidgetItem;
    row->setText(0, cells->id);
    row->setData(0, kKeyRole, QStringLiteral("hg%1").arg(RowKeyCounter));
    row->setText(ColumnOf(ListView1, "Local"), cells->local);
    row->setText(ColumnOf(ListView1, "name"), cells->name);
    row->setText(ColumnOf(ListView1, "state"), QStringLiteral("ok"));
    row->setText(ColumnOf(ListView1, "hot"), cells->hot);
    row->setText(ColumnOf(ListView1, "beizu"), cells->stars);
    ListView1->insertTopLevelItem(0, row);
    ++RowKeyCounter;
}
