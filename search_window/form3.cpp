// SPDX-License-Identifier: GPL-3.0-or-later
#include "search_window/form3.h"

#include "platform/message_boxes.h"
#include "playback/play_station.h"
#include "station_data/station_directory.h"
#include "station_data/station_line.h"
#include "station_data/station_rows.h"
#include "widgets/station_table_view.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>

namespace {

const QStringList kRegions{"北京",   "上海",   "福建", "江苏", "浙江", "东北", "四川",
                           "重庆",   "天津",   "广东", "广西", "山西", "江西", "陕西",
                           "湖南",   "云南",   "河南", "河北", "湖北", "安徽", "宁夏",
                           "新疆",   "山东",   "辽宁", "吉林", "甘肃", "贵州", "枣庄",
                           "黑龙江", "内蒙古", "香港", "台湾", "海南", "青海"};

// The cells of a found line: its ID and its name.
StationRows::Cells SearchCells(QStringView line) {
    const StationCellViews cells = CellViewsOfLine(line);
    return {cells.id, cells.name};
}

} // namespace

Form3::Form3(platform::Platform &platform, StationDirectory &directory, PlaybackSession &session,
             QWidget *parent)
    : FixedDialog(parent, {302, 198}), platform_(platform), directory_(directory),
      session_(session) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("快速搜索"));
    setWindowIcon(parent->windowIcon());

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
    ListView1 = new QTreeView(Frame1);
    ListView1Rows = new StationRows({{QStringLiteral("ID"), QStringLiteral("ID")},
                                     {QStringLiteral("名称"), QStringLiteral("name")}},
                                    SearchCells, ListView1);
    ListView1->setGeometry(8, 40, 273, 145);
    OnStationDoubleClick(*ListView1, [this] { ListView1_DblClick(); });

    setTabOrder(Command1, ListView1);
    setTabOrder(ListView1, Text1);
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    Form_Load();
}

void Form3::Form_Load() {
    SetUpStationTable(*ListView1, ListView1Rows, {47, 200});
}

void Form3::Command1_Click() {
    const QString keyword = Text1->currentText();
    if (keyword.isEmpty()) {
        platform_.messageBoxes().show(this, QStringLiteral("请输入关键字"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::None);
        return;
    }
    MatchCounter = 0;
    ListView1Rows->clear();
    ListMatchingStations(keyword);
}

void Form3::ListMatchingStations(const QString &keyword) {
    MatchCounter = 0;
    // Each found line goes on top of the earlier ones, numbered on from
    // MatchCounter.
    QStringList found;
    for (const QString &line : directory_.lines()) {
        // The keyword anywhere in the raw line, markers included, case-sensitive.
        if (line.contains(keyword, Qt::CaseSensitive)) {
            found.append(line);
        }
    }
    ListView1Rows->addOnTop(found, MatchCounter);
    MatchCounter += found.size();
}

void Form3::ListView1_DblClick() {
    if (const std::optional<QString> id = SelectedStationId(*ListView1)) {
        Module1::PlayStationById(session_, *id);
    }
}
