#include "main_window/form1.h"
#include "main_window/list_box.h"
#include "main_window/picture.h"
#include "tests/support/fake_platform.h"
#include "tests/support/station_line.h"
#include "tests/support/table_cells.h"

#include <QDir>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using testsupport::FakePlatform;
using testsupport::FakeWebBrowser;

using testsupport::Cell;
using testsupport::Column;
using testsupport::Heading;
using testsupport::RowCount;
using testsupport::StationLine;

namespace {

const QString kDirectoryUrl = QStringLiteral("http://directory.invalid/radio/1.59.asp");

} // namespace

class TestForm1Directory : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startUp();
    void tableColumns();
    void readiness_data();
    void readiness();
    void blankCompletionChangesNothing();
    void fetchRefusedUntilReady_data();
    void fetchRefusedUntilReady();
    void fetchFillsListAndTable();
    void secondLoadContinuesKeys();
    void repeatedFetchKeepsTable();
    void lfOnlyLinesArriveAsOne();
    void fetchWithoutStations();
    void trimsCellsButKeepsRawLine();
    void badHeatLosesNoStation();
    void hundredThousandStations();
    void cacheFileNeverFollowsLinks();
    void cacheFileFallsBack_data();
    void cacheFileFallsBack();

private:
    // Completes the directory load with this body text.
    void serveDirectory(const QString &body);
    // A directory page with these station lines after the success marker.
    void fetch(const QString &stations);

    std::unique_ptr<FakePlatform> platform_;
    std::unique_ptr<Form1> form_;
    FakeWebBrowser *browser_ = nullptr;
    std::unique_ptr<QTemporaryDir> folder_;
};

void TestForm1Directory::init() {
    platform_ = std::make_unique<FakePlatform>();
    form_ = std::make_unique<Form1>(*platform_);
    browser_ = platform_->browsers.last();
    browser_->holdLoads = true;
    folder_ = std::make_unique<QTemporaryDir>();
    form_->CacheFolders = {folder_->path()};
}

void TestForm1Directory::cleanup() {
    form_.reset();
    platform_.reset();
}

void TestForm1Directory::serveDirectory(const QString &body) {
    browser_->pages[kDirectoryUrl] = {body, 200};
    if (browser_->LocationURL() == QLatin1String("about:blank")) {
        browser_->Navigate2(kDirectoryUrl);
    }
    browser_->completePending();
}

void TestForm1Directory::fetch(const QString &stations) {
    serveDirectory("(zebok)\r\n" + stations);
    QVERIFY(form_->ServerReady);
    form_->FetchChannels();
    browser_->completePending(); // the blank page
}

void TestForm1Directory::startUp() {
    QCOMPARE(form_->Label3->text(), QStringLiteral("版本： 1.59"));
    QCOMPARE(form_->Label4->text(), QString());
    QCOMPARE(form_->Label2->text(), QStringLiteral("状态：连接服务器"));
    QCOMPARE(form_->Slider1->value(), 70);
    QCOMPARE(platform_->player->volumesSet, QList<int>{70});
    QCOMPARE(browser_->navigations, QStringList{kDirectoryUrl});
    QVERIFY(!form_->ServerReady);
    QVERIFY(!form_->ChannelsFetched);
    QVERIFY(!form_->Image11->isEnabled());
    QCOMPARE(form_->List1->count(), 0);
}

void TestForm1Directory::tableColumns() {
    QCOMPARE(form_->ListView1->model()->columnCount(), 6);
    const QStringList captions{"ID", "地区", "名称", "状态", "热度", "备注"};
    const QStringList keys{"ID", "Local", "name", "state", "hot", "beizu"};
    const QList<int> widths{33, 67, 233, 47, 53, 133};
    for (int column = 0; column < 6; ++column) {
        QCOMPARE(Heading(form_->ListView1, column), captions[column]);
        QCOMPARE(Heading(form_->ListView1, column, Qt::UserRole), keys[column]);
        QCOMPARE(form_->ListView1->columnWidth(column), widths[column]);
    }
}

void TestForm1Directory::readiness_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("ready");
    QTest::newRow("marker alone") << "(zebok)" << true;
    QTest::newRow("marker inside a longer line") << "abc(zebok)def\r\nmore" << true;
    QTest::newRow("marker in capitals") << "(ZEBOK)" << false;
    QTest::newRow("no marker") << "Not Found" << false;
    QTest::newRow("empty page") << "" << false;
}

void TestForm1Directory::readiness() {
    QFETCH(QString, body);
    QFETCH(bool, ready);
    serveDirectory(body);
    QCOMPARE(form_->ServerReady, ready);
    QCOMPARE(form_->Image11->isEnabled(), ready);
    QCOMPARE(form_->Label2->text(),
             ready ? QStringLiteral("状态：就绪") : QStringLiteral("状态：连接失败"));
}

void TestForm1Directory::blankCompletionChangesNothing() {
    browser_->Navigate2("about:blank");
    browser_->completePending();
    QCOMPARE(form_->Label2->text(), QStringLiteral("状态：连接服务器"));
    QVERIFY(!form_->ServerReady);
}

void TestForm1Directory::fetchRefusedUntilReady_data() {
    QTest::addColumn<bool>("loadFails");
    QTest::newRow("before the page completed") << false;
    QTest::newRow("after a failed load") << true;
}

void TestForm1Directory::fetchRefusedUntilReady() {
    QFETCH(bool, loadFails);
    if (loadFails) {
        browser_->completePending(); // no page scripted: the load fails
        QCOMPARE(form_->Label2->text(), QStringLiteral("状态：连接失败"));
    }
    form_->FetchChannels();
    QCOMPARE(platform_->boxes.shown.size(), 1);
    const testsupport::ShownBox &box = platform_->boxes.shown.first();
    QCOMPARE(box.text, QStringLiteral("请等待服务器连接成功！"));
    QCOMPARE(box.title, QStringLiteral("Quorvel收音机"));
    QCOMPARE(box.icon, platform::BoxIcon::Information);
    QCOMPARE(box.buttons, platform::BoxButtons::Ok);
    QCOMPARE(form_->List1->count(), 0);
    QVERIFY(!form_->ChannelsFetched);
    QCOMPARE(browser_->navigations.size(), 1);
}

void TestForm1Directory::fetchFillsListAndTable() {
    const QStringList stations{StationLine("1", "甲"), StationLine("2", "乙"),
                               StationLine("3", "丙")};
    fetch(stations.join("\r\n") + "\r\n");

    QCOMPARE(form_->List1->lines(), QStringList{"(zebok)"} + stations + QStringList{""});
    QCOMPARE(Column(form_->ListView1, 0), (QStringList{"3", "2", "1"}));
    QCOMPARE(Column(form_->ListView1, 0, Qt::UserRole), (QStringList{"hg2", "hg1", "hg0"}));
    QCOMPARE(Column(form_->ListView1, 2), (QStringList{"丙", "乙", "甲"}));
    QCOMPARE(Column(form_->ListView1, 3), (QStringList{"ok", "ok", "ok"}));
    QVERIFY(form_->ChannelsFetched);
    QCOMPARE(browser_->navigations.last(), QStringLiteral("about:blank"));
    QCOMPARE(form_->Label2->text(), QStringLiteral("状态：就绪"));
    QVERIFY(!QFile::exists(folder_->filePath("zeb.tmp")));
    QVERIFY(QDir(folder_->path()).isEmpty());
}

void TestForm1Directory::secondLoadContinuesKeys() {
    fetch(StationLine("1", "a") + "\r\n" + StationLine("1", "a"));
    QCOMPARE(Column(form_->ListView1, 0, Qt::UserRole), (QStringList{"hg1", "hg0"}));
    fetch(StationLine("7", "b"));
    QCOMPARE(Column(form_->ListView1, 0, Qt::UserRole), QStringList{"hg2"});
    QCOMPARE(form_->List1->count(), 5);
}

void TestForm1Directory::repeatedFetchKeepsTable() {
    serveDirectory("(zebok)\r\n" + StationLine("1", "a"));
    form_->FetchChannels();
    form_->FetchChannels(); // the blank page has not completed yet
    browser_->completePending();
    form_->FetchChannels(); // the browser now holds the blank page
    QCOMPARE(RowCount(form_->ListView1), 1);
    QCOMPARE(form_->List1->count(), 2);
    QVERIFY(platform_->boxes.shown.isEmpty());
}

void TestForm1Directory::lfOnlyLinesArriveAsOne() {
    fetch(StationLine("1", "a") + "\n" + StationLine("2", "b"));
    QCOMPARE(form_->List1->count(), 2);
    QCOMPARE(Column(form_->ListView1, 0), QStringList{"1"});
}

void TestForm1Directory::fetchWithoutStations() {
    serveDirectory("(zebok)");
    form_->FetchChannels();
    QVERIFY(form_->ChannelsFetched);
    QCOMPARE(form_->List1->lines(), QStringList{"(zebok)"});
    QCOMPARE(RowCount(form_->ListView1), 0);
}

void TestForm1Directory::trimsCellsButKeepsRawLine() {
    const QString line =
        "(id)  42 (/id)(local) 上海\t(/local)(title) 东方 广播 (/title)(hot) 90 (/hot)";
    fetch(line);
    QCOMPARE(form_->List1->text(1), line);
    const auto cell = [this](int column) {
        return Cell(form_->ListView1, 0, column).data().toString();
    };
    QCOMPARE(cell(0), "42");
    QCOMPARE(cell(1), QStringLiteral("上海\t"));
    QCOMPARE(cell(2), QStringLiteral("东方 广播"));
    QCOMPARE(cell(4), "90");
    QCOMPARE(cell(5), QStringLiteral("☆☆"));
}

void TestForm1Directory::badHeatLosesNoStation() {
    fetch(StationLine("1", "a", {}, QStringLiteral("北京"), "") + "\r\n" +
          StationLine("2", "b", {}, QStringLiteral("北京"), "many") + "\r\n" +
          StationLine("3", "c", {}, QStringLiteral("北京"), "600"));
    QCOMPARE(Column(form_->ListView1, 0), (QStringList{"3", "2", "1"}));
    QCOMPARE(Column(form_->ListView1, 4), (QStringList{"600", "", ""}));
    QCOMPARE(Column(form_->ListView1, 5), (QStringList{QStringLiteral("☆☆☆☆☆"), "", ""}));
}

void TestForm1Directory::hundredThousandStations() {
    QStringList lines;
    for (int id = 0; id < 100000; ++id) {
        lines.append(StationLine(QString::number(id), QStringLiteral("电台")));
    }
    fetch(lines.join("\r\n"));
    QCOMPARE(form_->List1->count(), 100001);
    QCOMPARE(RowCount(form_->ListView1), 100000);
    QCOMPARE(Cell(form_->ListView1, 0).data(Qt::UserRole).toString(), "hg99999");
    QCOMPARE(Cell(form_->ListView1, 99999).data(Qt::UserRole).toString(), "hg0");
    QCOMPARE(Cell(form_->ListView1, 0).data().toString(), "99999");
}

void TestForm1Directory::cacheFileNeverFollowsLinks() {
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim.txt");
    QFile file(victim);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QVERIFY(QFile::link(victim, folder_->filePath("zeb.tmp")));

    fetch(StationLine("5", QStringLiteral("广播")));
    QCOMPARE(Column(form_->ListView1, 0), QStringList{"5"});
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
    QVERIFY(!QFileInfo::exists(folder_->filePath("zeb.tmp")));
    QVERIFY(!QFileInfo(folder_->filePath("zeb.tmp")).isSymLink());
}

void TestForm1Directory::cacheFileFallsBack_data() {
    QTest::addColumn<QString>("firstFolder");
    QTest::addColumn<bool>("secondFolderUsable");
    QTest::newRow("missing program folder, cache folder works") << "missing" << true;
    QTest::newRow("zeb.tmp is a folder, cache folder works") << "occupied" << true;
    QTest::newRow("no folder takes the file") << "missing" << false;
    QTest::newRow("leftover regular zeb.tmp is replaced") << "leftover" << false;
}

void TestForm1Directory::cacheFileFallsBack() {
    QFETCH(QString, firstFolder);
    QFETCH(bool, secondFolderUsable);
    const QString first = folder_->filePath(firstFolder);
    if (firstFolder == QLatin1String("occupied")) {
        QVERIFY(QDir().mkpath(first + "/zeb.tmp"));
    } else if (firstFolder == QLatin1String("leftover")) {
        QVERIFY(QDir().mkpath(first));
        QFile leftover(first + "/zeb.tmp");
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.write("(id)999(/id)\r\n");
    }
    QTemporaryDir second;
    form_->CacheFolders = {first, secondFolderUsable ? second.path() : folder_->filePath("none")};

    const QString text = StationLine("1", QStringLiteral("北京新闻")) + "\r\n" +
                         StationLine("2", QStringLiteral("上海音乐"));
    fetch(text);
    QCOMPARE(Column(form_->ListView1, 2),
             (QStringList{QStringLiteral("上海音乐"), QStringLiteral("北京新闻")}));
    QCOMPARE(form_->List1->count(), 3);
    QVERIFY(QDir(second.path()).isEmpty());
    QVERIFY(!QFileInfo(first + "/zeb.tmp").isFile());
}

QTEST_MAIN(TestForm1Directory)
#include "test_form1_directory.moc"
