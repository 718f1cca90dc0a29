// SPDX-License-Identifier: GPL-3.0-or-later

// Time of one quick search over a directory of 32,767 lines, for a keyword
// that matches a few lines and for one that matches every line. Prints the
// median of eleven runs beside its anchor, measured in the same run: the same
// lines searched in a plain string list, each match a row of ready cell texts
// in a bare two-column table.

#include "search_window/form3.h"
#include "station_data/station_directory.h"
#include "station_data/station_rows.h"
#include "tests/support/fake_platform.h"
#include "tests/support/main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kLines = 32767;
const QString kRegions[] = {QStringLiteral("北京"), QStringLiteral("上海"), QStringLiteral("广东"),
                            QStringLiteral("四川")};

double Median(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

double BareSearchMs(QTreeWidget &table, const QStringList &lines, const QString &keyword) {
    table.clear();
    const QString id = QStringLiteral("1234");
    const QString name = QStringLiteral("北京音乐广播");
    QElapsedTimer timer;
    timer.start();
    QList<QTreeWidgetItem *> items;
    for (const QString &line : lines) {
        if (line.contains(keyword)) {
            items.append(new QTreeWidgetItem({id, name}));
        }
    }
    table.insertTopLevelItems(0, items);
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// The median search time and the median anchor time, runs interleaved.
std::pair<double, double> MedianSearchMs(Form3 &search, const QStringList &lines,
                                         const QString &keyword, int &rows) {
    QTreeWidget table;
    table.setColumnCount(2);
    std::vector<double> runs;
    std::vector<double> anchors;
    for (int run = 0; run < 11; ++run) {
        search.ListView1Rows->clear();
        QElapsedTimer timer;
        timer.start();
        search.ListMatchingStations(keyword);
        runs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        rows = search.ListView1Rows->rowCount();
        anchors.push_back(BareSearchMs(table, lines, keyword));
    }
    return {Median(runs), Median(anchors)};
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    testsupport::FakePlatform platform;
    testsupport::MainWindow window(platform);
    QStringList lines;
    for (int id = 0; id < kLines; ++id) {
        const QString &region = kRegions[id % 4];
        lines.append(QStringLiteral("(id)%1(/id)(title)%2音乐广播 %1(/title)"
                                    "(url)http://127.0.0.1:8159/stream/%1.mp3(/url)"
                                    "(local)%2(/local)(hot)%3(/hot)")
                         .arg(id)
                         .arg(region)
                         .arg(id % 700));
    }
    window.directory.addStationLines(lines);
    Form3 search(platform, window.directory, window.session, &window.form);
    for (const QString &keyword :
         {QStringLiteral("音乐广播 1234"), QStringLiteral("北京"), QStringLiteral("id")}) {
        int rows = 0;
        const auto [ms, anchor] = MedianSearchMs(search, lines, keyword, rows);
        std::printf("quick search over %d lines, %5d rows found: median %6.2f ms, "
                    "anchor %6.2f ms, %5.2fx%s\n",
                    kLines, rows, ms, anchor, ms / anchor, rows == kLines ? " (target 20 ms)" : "");
    }
    return 0;
}
