// SPDX-License-Identifier: GPL-3.0-or-later
#include "station_data/directory_cache.h"
#include "station_data/station_line.h"

#include <QTest>

class TestStationLine : public QObject {
    Q_OBJECT
private slots:
    void numericValue_data();
    void numericValue();
    void cells_data();
    void cells();
    void lineWithoutId_data();
    void lineWithoutId();
    void splitsLines_data();
    void splitsLines();
};

void TestStationLine::numericValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");

    QTest::newRow("digits") << "123" << true << 123.0;
    QTest::newRow("leading zero") << "012" << true << 12.0;
    QTest::newRow("negative") << "-5" << true << -5.0;
    QTest::newRow("plus") << "+7" << true << 7.0;
    QTest::newRow("decimal") << "1.5" << true << 1.5;
    QTest::newRow("trailing point") << "3." << true << 3.0;
    QTest::newRow("leading point") << ".5" << true << 0.5;
    QTest::newRow("blanks around") << "  42 \t" << true << 42.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("blank") << "   " << false << 0.0;
    QTest::newRow("placeholder") << QStringLiteral("输入ID") << false << 0.0;
    QTest::newRow("placeholder after focus") << QStringLiteral("频道ID") << false << 0.0;
    QTest::newRow("word") << "abc" << false << 0.0;
    QTest::newRow("digits then word") << "12a" << false << 0.0;
    QTest::newRow("inner blank") << "1 2" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
    QTest::newRow("sign alone") << "-" << false << 0.0;
    QTest::newRow("point alone") << "." << false << 0.0;
    QTest::newRow("exponent") << "1e5" << false << 0.0;
    QTest::newRow("infinity") << "inf" << false << 0.0;
    QTest::newRow("full-width digits") << QStringLiteral("１２") << false << 0.0;
}

void TestStationLine::numericValue() {
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, value);
    const std::optional<double> result = NumericValue(text);
    QCOMPARE(result.has_value(), numeric);
    if (numeric) {
        QCOMPARE(*result, value);
    }
}

void TestStationLine::cells_data() {
    QTest::addColumn<QString>("hot");
    QTest::addColumn<QString>("shownHot");
    QTest::addColumn<QString>("stars");

    const QString s1 = QStringLiteral("☆");
    QTest::newRow("0") << "0"
                       << ""
                       << "";
    QTest::newRow("0.0") << "0.0"
                         << ""
                         << "";
    QTest::newRow("79") << "79"
                        << "79" << s1;
    QTest::newRow("80") << "80"
                        << "80" << s1.repeated(2);
    QTest::newRow("159") << "159"
                         << "159" << s1.repeated(2);
    QTest::newRow("160") << "160"
                         << "160" << s1.repeated(3);
    QTest::newRow("299") << "299"
                         << "299" << s1.repeated(3);
    QTest::newRow("300") << "300"
                         << "300" << s1.repeated(4);
    QTest::newRow("499") << "499"
                         << "499" << s1.repeated(4);
    QTest::newRow("500") << "500"
                         << "500" << s1.repeated(5);
    QTest::newRow("100000") << "100000"
                            << "100000" << s1.repeated(5);
    QTest::newRow("-5") << "-5"
                        << "-5" << s1;
    QTest::newRow("012 keeps its zero") << "012"
                                        << "012" << s1;
    QTest::newRow("79.5") << "79.5"
                          << "79.5" << s1;
    QTest::newRow("spaces trimmed") << " 160 "
                                    << "160" << s1.repeated(3);
    // A heat that is no number gives a row without heat, never a lost line.
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("word") << "hot"
                          << ""
                          << "";
    QTest::newRow("tab kept in the shown text") << "\t80"
                                                << "\t80" << s1.repeated(2);
}

void TestStationLine::cells() {
    QFETCH(QString, hot);
    QFETCH(QString, shownHot);
    QFETCH(QString, stars);
    const QString line = QStringLiteral("(id) 12 (/id)(title) 中国 之声\t(/title)"
                                        "(url)http://x/a(/url)(local)  北京(/local)(hot)") +
                         hot + QStringLiteral("(/hot)");
    const std::optional<StationCells> cells = CellsOfStationLine(line);
    QVERIFY(cells);
    QCOMPARE(cells->id, "12");
    QCOMPARE(cells->local, QStringLiteral("北京"));
    QCOMPARE(cells->name, QStringLiteral("中国 之声\t"));
    QCOMPARE(cells->hot, shownHot);
    QCOMPARE(cells->stars, stars);
}

void TestStationLine::lineWithoutId_data() {
    QTest::addColumn<QString>("line");
    QTest::newRow("empty line") << "";
    QTest::newRow("success marker") << "(zebok)";
    QTest::newRow("no id field") << "(title)A(/title)(hot)5(/hot)";
    QTest::newRow("id of spaces") << "(id)   (/id)(title)A(/title)";
    QTest::newRow("empty id") << "(id)(/id)(title)A(/title)";
    QTest::newRow("capital id") << "(ID)5(/ID)";
}

void TestStationLine::lineWithoutId() {
    QFETCH(QString, line);
    QVERIFY(!CellsOfStationLine(line));
}

void TestStationLine::splitsLines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("CR LF lines, final break") << "a\r\nb\r\nc\r\n" << QStringList{"a", "b", "c"};
    QTest::newRow("break after the last line gives an empty line") << "a\r\nb\r\n\r\n"
                                                                   << QStringList{"a", "b", ""};
    QTest::newRow("last line ends at the end") << "a\r\nb" << QStringList{"a", "b"};
    QTest::newRow("lone LF stays in the line") << "a\nb\r\n" << QStringList{"a\nb"};
    QTest::newRow("lone CR ends a line") << "a\rb" << QStringList{"a", "b"};
    QTest::newRow("LF after CR belongs to it") << "a\r\n\nb" << QStringList{"a", "\nb"};
    QTest::newRow("only a break") << "\r\n" << QStringList{""};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("Chinese") << QStringLiteral("北京\r\n上海\r\n")
                             << QStringList{QStringLiteral("北京"), QStringLiteral("上海")};
}

void TestStationLine::splitsLines() {
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(SplitDirectoryLines(text), lines);
}

QTEST_GUILESS_MAIN(TestStationLine)
#include "test_station_line.moc"
