// SPDX-License-Identifier: GPL-3.0-or-later

// The main window over the station directory: what it shows at start-up,
// while the directory loads and after a fetch, the station table's columns,
// and the message box of a fetch clicked too early.

#include "main_window/form1.h"
#include "main_window/picture.h"
#include "tests/support/fake_platform.h"
#include "tests/support/main_window.h"
#include "tests/support/station_line.h"
#include "tests/support/table_cells.h"

#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using testsupport::FakePlatform;
using testsupport::FakeWebBrowser;

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
    void fetchRefusedUntilReady_data();
    void fetchRefusedUntilReady();
    void fetchFillsListAndTable();

private:
    // Completes the directory load with this body text.
    void serveDirectory(const QString &body);
    // A click on the fetch button.
    void clickFetch();
    QString status() const { return window_->control<Picture>("Label2")->text(); }

    std::unique_ptr<FakePlatform> platform_;
    std::unique_ptr<testsupport::MainWindow> window_;
    FakeWebBrowser *browser_ = nullptr;
    std::unique_ptr<QTemporaryDir> folder_;
};

void TestForm1Directory::init() {
    platform_ = std::make_unique<FakePlatform>();
    window_ = std::make_unique<testsupport::MainWindow>(*platform_);
    browser_ = platform_->browsers.first();
    browser_->holdLoads = true;
    folder_ = std::make_unique<QTemporaryDir>();
    window_->directory.setCacheFolders({folder_->path()});
}

void TestForm1Directory::cleanup() {
    window_.reset();
    platform_.reset();
}

void TestForm1Directory::serveDirectory(const QString &body) {
    browser_->pages[kDirectoryUrl] = {body, 200};
    browser_->completePending();
}

void TestForm1Directory::clickFetch() {
    QTest::mouseClick(window_->control<Picture>("Image10"), Qt::LeftButton);
}

void TestForm1Directory::startUp() {
    QCOMPARE(window_->control<Picture>("Label3")->text(), QStringLiteral("版本： 1.59"));
    QCOMPARE(window_->control<Picture>("Label4")->text(), QString());
    QCOMPARE(status(), QStringLiteral("状态：连接服务器"));
    QCOMPARE(window_->control<QScrollBar>("Slider1")->value(), 70);
    QCOMPARE(platform_->player->volumesSet, QList<int>{70});
    QCOMPARE(browser_->navigations, QStringList{kDirectoryUrl});
    QVERIFY(!window_->directory.serverReady());
    QVERIFY(!window_->directory.channelsFetched());
    QVERIFY(!window_->control<Picture>("Image11")->isEnabled());
    QCOMPARE(RowCount(window_->control<QListView>("List1")), 0);
}

void TestForm1Directory::tableColumns() {
    const auto *table = window_->control<QTreeView>("ListView1");
    QCOMPARE(table->model()->columnCount(), 6);
    const QStringList captions{"ID", "地区", "名称", "状态", "热度", "备注"};
    const QStringList keys{"ID", "Local", "name", "state", "hot", "beizu"};
    const QList<int> widths{33, 67, 233, 47, 53, 133};
    for (int column = 0; column < 6; ++column) {
        QCOMPARE(Heading(table, column), captions[column]);
        QCOMPARE(Heading(table, column, Qt::UserRole), keys[column]);
        QCOMPARE(table->columnWidth(column), widths[column]);
    }
}

// Which pages make the directory ready is the directory's own test; here the
// window shows the outcome.
void TestForm1Directory::readiness_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("ready");
    QTest::newRow("directory page") << "(zebok)" << true;
    QTest::newRow("not a directory page") << "Not Found" << false;
}

void TestForm1Directory::readiness() {
    QFETCH(QString, body);
    QFETCH(bool, ready);
    serveDirectory(body);
    QCOMPARE(window_->control<Picture>("Image11")->isEnabled(), ready);
    QCOMPARE(status(), ready ? QStringLiteral("状态：就绪") : QStringLiteral("状态：连接失败"));
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
        QCOMPARE(status(), QStringLiteral("状态：连接失败"));
    }
    clickFetch();
    QCOMPARE(platform_->boxes.shown.size(), 1);
    const testsupport::ShownBox &box = platform_->boxes.shown.first();
    QCOMPARE(box.text, QStringLiteral("请等待服务器连接成功！"));
    QCOMPARE(box.title, QStringLiteral("Quorvel收音机"));
    QCOMPARE(box.icon, platform::BoxIcon::Information);
    QCOMPARE(box.buttons, platform::BoxButtons::Ok);
    QCOMPARE(RowCount(window_->control<QListView>("List1")), 0);
    QVERIFY(!window_->directory.channelsFetched());
    QCOMPARE(browser_->navigations.size(), 1);
}

void TestForm1Directory::fetchFillsListAndTable() {
    const QStringList stations{StationLine("1", "甲"), StationLine("2", "乙"),
                               StationLine("3", "丙")};
    serveDirectory("(zebok)\r\n" + stations.join("\r\n"));
    clickFetch();
    clickFetch(); // the blank page has not completed yet
    browser_->completePending();
    clickFetch(); // the browser now holds the blank page

    QCOMPARE(Column(window_->control<QListView>("List1"), 0), QStringList{"(zebok)"} + stations);
    QCOMPARE(Column(window_->control<QTreeView>("ListView1"), 2), (QStringList{"丙", "乙", "甲"}));
    QVERIFY(window_->directory.channelsFetched());
    QCOMPARE(status(), QStringLiteral("状态：就绪"));
    QVERIFY(platform_->boxes.shown.isEmpty());
}

QTEST_MAIN(TestForm1Directory)
#include "test_form1_directory.moc"
