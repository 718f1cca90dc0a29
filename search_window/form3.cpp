#include "search_window/form3.h"

#include "main_window/form1.h"
#include "platform/message_boxes.h"
#include "playback/play_station.h"
#include "station_data/station_line.h"
#include "station_data/station_row.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

namespace {

const QStringList kRegions{"北京",   "上海",   "福建", "江苏", "浙江", "东北", "四川",
                           "重庆",   "天津",   "广东", "广西", "山西", "江西", "陕西",
                           "湖南",   "云南",   "河南", "河北", "湖北", "安徽", "宁夏",
                           "新疆",   "山东",   "辽宁", "吉林", "甘肃", "贵州", "枣庄",
                           "黑龙江", "内蒙古", "香港", "台湾", "海南", "青海"};

constexpr int kKeyRole = Qt::UserRole;

// The cells of a found line: its ID and its name.
StationRow::Cells SearchCells(QStringView line) {
    const StationCellViews cells = CellViewsOfLine(line);
    return {cells.id, cells.name};
}

} // namespace

Form3::Form3(Form1 &main) : FixedDialog(&main, {302, 198}), main_(main) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("快速搜索"));
    setWindowIcon(main.windowIcon());

    Frame1 = new QGroupBox(QStringLiteral("输入关键字"), this);
    Frame1->setGeometry(8, 0, 289, 193);
    Label1 = new QLabel(QStringLiteral("频道名称"), Frame1);
    Label1->setGeometry(8, 19, 49, 17);
    Text1 = new QComboBox(Frame1);
    Text1->setEditable(true);
    Text1->setInsertPolicy(QComboBox::NoInsert);
    // The keyword is searched exactly as typed: the box never completes it to
    // a region word. Choosing a word from the list still puts it in.
    Text1->setCompleter(nullptr);
    Text1->addItems(kRegions);
    Text1->setCurrentIndex(-1);
    Text1->setGeometry(64, 16, 169, Text1->sizeHint().height());
    Command1 = new QPushButton(QStringLiteral("搜索"), Frame1);
    Command1->setGeometry(240, 16, 41, 17);
    Command1->setDefault(true);
    ListView1 = new QTreeWidget(Frame1);
    ListView1->setGeometry(8, 40, 273, 145);
    ListView1->setFont(main.ListView1->font());
    ListView1->viewport()->installEventFilter(this);

    setTabOrder(Command1, ListView1);
    setTabOrder(ListView1, Text1);
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    Form_Load();
}

void Form3::Form_Load() {
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setColumnCount(2);
    QTreeWidgetItem *header = ListView1->headerItem();
    header->setText(0, QStringLiteral("ID"));
    header->setData(0, kKeyRole, QStringLiteral("ID"));
    header->setText(1, QStringLiteral("名称"));
    header->setData(1, kKeyRole, QStringLiteral("name"));
    ListView1->setColumnWidth(0, 47);
    ListView1->setColumnWidth(1, 200);
}

void Form3::Command1_Click() {
    const QString keyword = Text1->currentText();
    if (keyword.isEmpty()) {
        main_.platform().messageBoxes().show(this, QStringLiteral("请输入关键字"),
                                             platform::BoxButtons::Ok, platform::BoxIcon::None);
        return;
    }
    MatchCounter = 0;
    ListView1->clear();
    ListMatchingStations(keyword);
}

void Form3::ListMatchingStations(const QString &keyword) {
    MatchCounter = 0;
    const QListWidget &directory = *main_.List1;
    const int count = directory.count();
    // Each row goes on top of the earlier ones: collect them in line order and
    // hand them to the list at once, newest first.
    QList<QTreeWidgetItem *> rows;
    for (int index = 0; index < count; ++index) {
        const QString line = directory.item(index)->text();
        // The keyword anywhere in the raw line, markers included, case-sensitive.
        if (!line.contains(keyword, Qt::CaseSensitive)) {
            continue;
        }
        rows.append(new StationRow(line, MatchCounter, SearchCells));
        ++MatchCounter;
    }
    std::reverse(rows.begin(), rows.end());
    ListView1->insertTopLevelItems(0, rows);
}

void Form3::ListView1_DblClick() {
    const QList<QTreeWidgetItem *> selected = ListView1->selectedItems();
    if (!selected.isEmpty()) {
        Module1::PlayStationById(main_, selected.first()->text(0));
    }
}

bool Form3::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        ListView1_DblClick();
    }
    return FixedDialog::eventFilter(watched, event);
}
