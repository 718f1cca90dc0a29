// SPDX-License-Identifier: GPL-3.0-or-later

// The station directory without a window: its start, its readiness, the fetch
// that turns the directory page into lines and table rows through the cache
// file, with the fake browser and with the real one against a loopback server.

#include "platform/html_browser.h"
#include "platform/text_decoding.h"
#include "station_data/station_directory.h"
#include "station_data/station_rows.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_platform.h"
#include "tests/support/loopback_server.h"
#include "tests/support/station_line.h"
#include "tests/support/table_cells.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using testsupport::FakePlatform;
using testsupport::FakeWebBrowser;

using testsupport::Cell;
using testsupport::Column;
using testsupport::RowCount;
using testsupport::StationLine;

namespace {

const QString kDirectoryUrl = QStringLiteral("http://directory.invalid/radio/1.59.asp");

// A directory page as a server writes it: markup around the text, one station
// per line separated by <br>, and a script whose text must not show.
const QByteArray kDirectoryPage = R"page(<!DOCTYPE html>
<html><head><meta charset="gbk"><title>目录</title>
<style>body { color: red }</style><script>var x = "(id)666(/id)";</script></head>
<body><div>(zebok)</div>
(id)101(/id)(title)北京音乐台(/title)(url)http://127.0.0.1:1/101(/url)(local)北京(/local)(hot)320(/hot)<br>
(id)102(/id)(title)上海 &amp; 东方(/title)(url)http://127.0.0.1:1/102(/url)(local)上海(/local)(hot)0(/hot)<br/>
(id)103(/id)(title)广东&lt;新闻&gt;(/title)(url)http://127.0.0.1:1/103(/url)(local)广东(/local)(hot)85(/hot)
</body></html>)page";

} // namespace

class TestStationDirectory : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startUp();
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
    void realBrowserLoadsDirectoryPage();
    void realBrowserNotReady_data();
    void realBrowserNotReady();

private:
    // Completes the directory load with this body text.
    void serveDirectory(const QString &body);
    // A directory page with these station lines after the success marker.
    void fetch(const QString &stations);
    StationRows *rows() const { return directory_->tableRows(); }

    std::unique_ptr<FakePlatform> platform_;
    std::unique_ptr<StationDirectory> directory_;
    FakeWebBrowser *browser_ = nullptr;
    std::unique_ptr<QTemporaryDir> folder_;
};

void TestStationDirectory::init() {
    platform_ = std::make_unique<FakePlatform>();
    directory_ = std::make_unique<StationDirectory>(*platform_);
    browser_ = platform_->browsers.first();
    browser_->holdLoads = true;
    folder_ = std::make_unique<QTemporaryDir>();
    directory_->setCacheFolders({folder_->path()});
    directory_->start();
}

void TestStationDirectory::cleanup() {
    directory_.reset();
    platform_.reset();
}

void TestStationDirectory::serveDirectory(const QString &body) {
    browser_->pages[kDirectoryUrl] = {body, 200};
    if (browser_->LocationURL() == QLatin1String("about:blank")) {
        browser_->Navigate2(kDirectoryUrl);
    }
    browser_->completePending();
}

void TestStationDirectory::fetch(const QString &stations) {
    serveDirectory("(zebok)\r\n" + stations);
    QVERIFY(directory_->serverReady());
    directory_->FetchChannels();
    browser_->completePending(); // the blank page
}

void TestStationDirectory::startUp() {
    QCOMPARE(browser_->navigations, QStringList{kDirectoryUrl});
    QVERIFY(!directory_->serverReady());
    QVERIFY(!directory_->channelsFetched());
    QVERIFY(directory_->lines().isEmpty());
    QCOMPARE(RowCount(rows()), 0);
}

void TestStationDirectory::readiness_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("ready");
    QTest::newRow("marker alone") << "(zebok)" << true;
    QTest::newRow("marker inside a longer line") << "abc(zebok)def\r\nmore" << true;
    QTest::newRow("marker in capitals") << "(ZEBOK)" << false;
    QTest::newRow("no marker") << "Not Found" << false;
    QTest::newRow("empty page") << "" << false;
}

void TestStationDirectory::readiness() {
    QFETCH(QString, body);
    QFETCH(bool, ready);
    QSignalSpy loads(directory_.get(), &StationDirectory::pageLoaded);
    serveDirectory(body);
    QCOMPARE(directory_->serverReady(), ready);
    QCOMPARE(loads.size(), 1);
    QCOMPARE(loads.first().first().toBool(), ready);
}

void TestStationDirectory::blankCompletionChangesNothing() {
    QSignalSpy loads(directory_.get(), &StationDirectory::pageLoaded);
    browser_->Navigate2("about:blank");
    browser_->completePending();
    QCOMPARE(loads.size(), 0);
    QVERIFY(!directory_->serverReady());
}

void TestStationDirectory::fetchRefusedUntilReady_data() {
    QTest::addColumn<bool>("loadFails");
    QTest::newRow("before the page completed") << false;
    QTest::newRow("after a failed load") << true;
}

void TestStationDirectory::fetchRefusedUntilReady() {
    QFETCH(bool, loadFails);
    if (loadFails) {
        QSignalSpy loads(directory_.get(), &StationDirectory::pageLoaded);
        browser_->completePending(); // no page scripted: the load fails
        QCOMPARE(loads.size(), 1);
        QVERIFY(!loads.first().first().toBool());
    }
    directory_->FetchChannels();
    QVERIFY(directory_->lines().isEmpty());
    QCOMPARE(RowCount(rows()), 0);
    QVERIFY(!directory_->channelsFetched());
    QCOMPARE(browser_->navigations.size(), 1);
}

void TestStationDirectory::fetchFillsListAndTable() {
    const QStringList stations{StationLine("1", "甲"), StationLine("2", "乙"),
                               StationLine("3", "丙")};
    QSignalSpy loads(directory_.get(), &StationDirectory::pageLoaded);
    fetch(stations.join("\r\n") + "\r\n");

    QCOMPARE(directory_->lines(), QStringList{"(zebok)"} + stations + QStringList{""});
    QCOMPARE(RowCount(directory_->lineModel()), 5);
    QCOMPARE(Column(rows(), 0), (QStringList{"3", "2", "1"}));
    QCOMPARE(Column(rows(), 0, Qt::UserRole), (QStringList{"hg2", "hg1", "hg0"}));
    QCOMPARE(Column(rows(), 2), (QStringList{"丙", "乙", "甲"}));
    QCOMPARE(Column(rows(), 3), (QStringList{"ok", "ok", "ok"}));
    QVERIFY(directory_->channelsFetched());
    QCOMPARE(browser_->navigations.last(), QStringLiteral("about:blank"));
    QCOMPARE(loads.size(), 1); // the blank page is not a load of the directory
    QVERIFY(directory_->serverReady());
    QVERIFY(!QFile::exists(folder_->filePath("zeb.tmp")));
    QVERIFY(QDir(folder_->path()).isEmpty());
}

void TestStationDirectory::secondLoadContinuesKeys() {
    fetch(StationLine("1", "a") + "\r\n" + StationLine("1", "a"));
    QCOMPARE(Column(rows(), 0, Qt::UserRole), (QStringList{"hg1", "hg0"}));
    fetch(StationLine("7", "b"));
    QCOMPARE(Column(rows(), 0, Qt::UserRole), QStringList{"hg2"});
    QCOMPARE(directory_->lines().size(), 5);
}

void TestStationDirectory::repeatedFetchKeepsTable() {
    serveDirectory("(zebok)\r\n" + StationLine("1", "a"));
    directory_->FetchChannels();
    directory_->FetchChannels(); // the blank page has not completed yet
    browser_->completePending();
    directory_->FetchChannels(); // the browser now holds the blank page
    QCOMPARE(RowCount(rows()), 1);
    QCOMPARE(directory_->lines().size(), 2);
    QVERIFY(directory_->channelsFetched());
}

void TestStationDirectory::lfOnlyLinesArriveAsOne() {
    fetch(StationLine("1", "a") + "\n" + StationLine("2", "b"));
    QCOMPARE(directory_->lines().size(), 2);
    QCOMPARE(Column(rows(), 0), QStringList{"1"});
}

void TestStationDirectory::fetchWithoutStations() {
    serveDirectory("(zebok)");
    directory_->FetchChannels();
    QVERIFY(directory_->channelsFetched());
    QCOMPARE(directory_->lines(), QStringList{"(zebok)"});
    QCOMPARE(RowCount(rows()), 0);
}

void TestStationDirectory::trimsCellsButKeepsRawLine() {
    const QString line =
        "(id)  42 (/id)(local) 上海\t(/local)(title) 东方 广播 (/title)(hot) 90 (/hot)";
    fetch(line);
    QCOMPARE(directory_->lines().at(1), line);
    const auto cell = [this](int column) { return Cell(rows(), 0, column).data().toString(); };
    QCOMPARE(cell(0), "42");
    QCOMPARE(cell(1), QStringLiteral("上海\t"));
    QCOMPARE(cell(2), QStringLiteral("东方 广播"));
    QCOMPARE(cell(4), "90");
    QCOMPARE(cell(5), QStringLiteral("☆☆"));
}

void TestStationDirectory::badHeatLosesNoStation() {
    fetch(StationLine("1", "a", {}, QStringLiteral("北京"), "") + "\r\n" +
          StationLine("2", "b", {}, QStringLiteral("北京"), "many") + "\r\n" +
          StationLine("3", "c", {}, QStringLiteral("北京"), "600"));
    QCOMPARE(Column(rows(), 0), (QStringList{"3", "2", "1"}));
    QCOMPARE(Column(rows(), 4), (QStringList{"600", "", ""}));
    QCOMPARE(Column(rows(), 5), (QStringList{QStringLiteral("☆☆☆☆☆"), "", ""}));
}

void TestStationDirectory::hundredThousandStations() {
    QStringList lines;
    for (int id = 0; id < 100000; ++id) {
        lines.append(StationLine(QString::number(id), QStringLiteral("电台")));
    }
    fetch(lines.join("\r\n"));
    QCOMPARE(directory_->lines().size(), 100001);
    QCOMPARE(RowCount(rows()), 100000);
    QCOMPARE(Cell(rows(), 0).data(Qt::UserRole).toString(), "hg99999");
    QCOMPARE(Cell(rows(), 99999).data(Qt::UserRole).toString(), "hg0");
    QCOMPARE(Cell(rows(), 0).data().toString(), "99999");
}

void TestStationDirectory::cacheFileNeverFollowsLinks() {
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim.txt");
    QFile file(victim);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QVERIFY(QFile::link(victim, folder_->filePath("zeb.tmp")));

    fetch(StationLine("5", QStringLiteral("广播")));
    QCOMPARE(Column(rows(), 0), QStringList{"5"});
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
    QVERIFY(!QFileInfo::exists(folder_->filePath("zeb.tmp")));
    QVERIFY(!QFileInfo(folder_->filePath("zeb.tmp")).isSymLink());
}

void TestStationDirectory::cacheFileFallsBack_data() {
    QTest::addColumn<QString>("firstFolder");
    QTest::addColumn<bool>("secondFolderUsable");
    QTest::newRow("missing program folder, cache folder works") << "missing" << true;
    QTest::newRow("zeb.tmp is a folder, cache folder works") << "occupied" << true;
    QTest::newRow("no folder takes the file") << "missing" << false;
    QTest::newRow("leftover regular zeb.tmp is replaced") << "leftover" << false;
}

void TestStationDirectory::cacheFileFallsBack() {
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
    directory_->setCacheFolders(
        {first, secondFolderUsable ? second.path() : folder_->filePath("none")});

    const QString text = StationLine("1", QStringLiteral("北京新闻")) + "\r\n" +
                         StationLine("2", QStringLiteral("上海音乐"));
    fetch(text);
    QCOMPARE(Column(rows(), 2),
             (QStringList{QStringLiteral("上海音乐"), QStringLiteral("北京新闻")}));
    QCOMPARE(directory_->lines().size(), 3);
    QVERIFY(QDir(second.path()).isEmpty());
    QVERIFY(!QFileInfo(first + "/zeb.tmp").isFile());
}

void TestStationDirectory::realBrowserLoadsDirectoryPage() {
    testsupport::LoopbackServer server;
    // Declared only inside the page, as many servers do.
    server.serve("/radio/1.59.asp", platform::EncodeText(QString::fromUtf8(kDirectoryPage), "gbk"),
                 "text/html");
    testsupport::LoopbackPlatform platform(testsupport::LoopbackPlatform::onServer(server.url("")));
    StationDirectory directory(platform);
    directory.setCacheFolders({folder_->path()});
    QSignalSpy loads(&directory, &StationDirectory::pageLoaded);
    directory.start();
    QVERIFY(!directory.serverReady());
    QTRY_COMPARE_WITH_TIMEOUT(loads.size(), 1, 10000);
    QVERIFY(loads.first().first().toBool());
    QVERIFY(directory.serverReady());

    directory.FetchChannels();
    QVERIFY(directory.channelsFetched());
    StationRows *table = directory.tableRows();
    QCOMPARE(Column(table, 0), (QStringList{"103", "102", "101"}));
    QCOMPARE(Column(table, 2),
             (QStringList{QStringLiteral("广东<新闻>"), QStringLiteral("上海 & 东方"),
                          QStringLiteral("北京音乐台")}));
    QCOMPARE(Column(table, 4), (QStringList{"85", "", "320"}));
    QCOMPARE(Column(table, 5), (QStringList{QStringLiteral("☆☆"), "", QStringLiteral("☆☆☆☆")}));
    QCOMPARE(directory.lines().first(), "(zebok)");
    QCOMPARE(directory.lines().size(), 4);
    QCOMPARE(server.requestCount("/radio/1.59.asp"), 1);

    // A second fetch, even before the blank page completes, keeps the table.
    directory.FetchChannels();
    // The blank page's completion, posted by the browser, changes nothing.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(loads.size(), 1);
    QVERIFY(directory.serverReady());
    QCOMPARE(RowCount(table), 3);
    QCOMPARE(directory.lines().size(), 4);
}

void TestStationDirectory::realBrowserNotReady_data() {
    QTest::addColumn<bool>("serverUp");
    QTest::newRow("dead server") << false;
    // The stations past the cap would be missing without a word.
    QTest::newRow("directory beyond the document cap") << true;
}

void TestStationDirectory::realBrowserNotReady() {
    QFETCH(bool, serverUp);
    testsupport::LoopbackServer server;
    const QByteArray line = QStringLiteral("<br>(id)101(/id)(title)北京音乐台(/title)(url)http://"
                                           "127.0.0.1:1/101(/url)(local)北京(/local)(hot)3(/hot)")
                                .toUtf8();
    const auto cap = static_cast<qint64>(platform::HtmlBrowser::documentLimits().maxBodyBytes);
    server.serveRepeated("/radio/1.59.asp", "<html><body>(zebok)", line, cap / line.size() + 1,
                         "</body></html>");
    const QString root = serverUp
                             ? server.url("")
                             : QStringLiteral("http://127.0.0.1:%1").arg(testsupport::UnusedPort());
    testsupport::LoopbackPlatform platform(testsupport::LoopbackPlatform::onServer(root));
    StationDirectory directory(platform);
    directory.setCacheFolders({folder_->path()});
    QSignalSpy loads(&directory, &StationDirectory::pageLoaded);
    directory.start();
    // Not ready: a page cut at the cap, its marker kept, would make it ready.
    QTRY_COMPARE_WITH_TIMEOUT(loads.size(), 1, 20000);
    QVERIFY(!loads.first().first().toBool());
    QVERIFY(!directory.serverReady());
}

QTEST_GUILESS_MAIN(TestStationDirectory)
#include "test_station_directory.moc"
