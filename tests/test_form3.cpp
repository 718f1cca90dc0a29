// SPDX-License-Identifier: GPL-3.0-or-later
#include "main_window/picture.h"
#include "search_window/form3.h"
#include "tests/support/fake_platform.h"
#include "tests/support/main_window.h"
#include "tests/support/station_line.h"
#include "tests/support/table_cells.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

using testsupport::Cell;
using testsupport::Column;
using testsupport::Heading;
using testsupport::RowCount;
using testsupport::StationLine;

namespace {

// Types text as a keyboard without an input method does: one key event
// carrying each character (keyClicks takes Latin-1 only).
void Type(QWidget *widget, const QString &text) {
    for (const QChar character : text) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(character),
                            Qt::NoModifier);
    }
}

} // namespace

class TestForm3 : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layout();
    void search_data();
    void search();
    void secondSearchStartsAfresh();
    void emptyKeywordKeepsRows();
    void enterSearches();
    void keyboard();
    void doubleClickPlaysWithoutReport();
    void reopening();

private:
    Form3 *open();
    void searchFor(Form3 *search, const QString &keyword);

    std::unique_ptr<testsupport::FakePlatform> platform_;
    std::unique_ptr<testsupport::MainWindow> window_;
};

void TestForm3::init() {
    platform_ = std::make_unique<testsupport::FakePlatform>();
    platform_->httpResponder = [](const QString &) { return testsupport::FakePage{"", 200}; };
    window_ = std::make_unique<testsupport::MainWindow>(*platform_);
    testsupport::FakeWebBrowser *browser = platform_->browsers.first();
    browser->holdLoads = true;
    const QStringList lines{
        StationLine("1", QStringLiteral("北京新闻"), {}, QStringLiteral("北京")),
        StationLine("2", QStringLiteral("Music FM"), {}, QStringLiteral("上海")),
        StationLine("3", QStringLiteral("京津之声"), {}, QStringLiteral("北京")),
        StationLine(" 4 ", QStringLiteral("北京交通"), {}, QStringLiteral("天津")),
        StationLine("5", QStringLiteral("广播"), {}, QStringLiteral("广东"))};
    browser->pages[browser->navigations.first()] = {"(zebok)\r\n" + lines.join("\r\n"), 200};
    browser->completePending();
    QMetaObject::invokeMethod(window_->control<Picture>("Image10"), "clicked"); // fetch
    window_->form.show();
}

void TestForm3::cleanup() {
    window_.reset();
    platform_.reset();
}

Form3 *TestForm3::open() {
    QMetaObject::invokeMethod(window_->control<Picture>("Image5"), "clicked");
    auto *search = window_->form.findChild<Form3 *>();
    if (search && !QTest::qWaitForWindowExposed(search)) {
        return nullptr;
    }
    return search;
}

// Types the keyword over whatever the box holds and presses 搜索.
void TestForm3::searchFor(Form3 *search, const QString &keyword) {
    QTest::keyClick(search->Text1, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(search->Text1, Qt::Key_Backspace);
    Type(search->Text1, keyword);
    QTest::mouseClick(search->Command1, Qt::LeftButton);
}

void TestForm3::layout() {
    Form3 *search = open();
    QVERIFY(search);
    QCOMPARE(search->windowTitle(), QStringLiteral("快速搜索"));
    QCOMPARE(search->size(), QSize(302, 198));
    QVERIFY(!search->isModal());
    QCOMPARE(search->Text1->count(), 34);
    QCOMPARE(search->Text1->itemText(0), QStringLiteral("北京"));
    QCOMPARE(search->Text1->itemText(27), QStringLiteral("枣庄"));
    QCOMPARE(search->Text1->itemText(33), QStringLiteral("青海"));
    QCOMPARE(search->Text1->currentText(), QString());
    QCOMPARE(search->Command1->text(), QStringLiteral("搜索"));
    QVERIFY(search->Command1->isDefault());
    QCOMPARE(Heading(search->ListView1, 1), QStringLiteral("名称"));
    QCOMPARE(Heading(search->ListView1, 1, Qt::UserRole), "name");
}

void TestForm3::search_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QStringList>("ids"); // rows top to bottom
    QTest::newRow("one space matches lines with a space") << " " << QStringList{"4", "2"};
    QTest::newRow("small letters miss capitals") << "music" << QStringList{};
    QTest::newRow("exact letters") << "Music" << QStringList{"2"};
    QTest::newRow("part of a marker lists everything")
        << "id" << QStringList{"5", "4", "3", "2", "1"};
    QTest::newRow("region and name") << QStringLiteral("北京") << QStringList{"4", "3", "1"};
    QTest::newRow("inside a word") << QStringLiteral("京") << QStringList{"4", "3", "1"};
    QTest::newRow("typed start of a region word") << QStringLiteral("东") << QStringList{"5"};
    QTest::newRow("stream address") << "http://s/5" << QStringList{"5"};
    QTest::newRow("nothing") << QStringLiteral("西藏") << QStringList{};
}

void TestForm3::search() {
    QFETCH(QString, keyword);
    QFETCH(QStringList, ids);
    Form3 *search = open();
    searchFor(search, keyword);
    QCOMPARE(Column(search->ListView1, 0), ids);
    QStringList keys;
    for (int key = static_cast<int>(ids.size()) - 1; key >= 0; --key) {
        keys.append("hg" + QString::number(key));
    }
    QCOMPARE(Column(search->ListView1, 0, Qt::UserRole), keys);
}

void TestForm3::secondSearchStartsAfresh() {
    Form3 *search = open();
    searchFor(search, QStringLiteral("北京"));
    QCOMPARE(RowCount(search->ListView1), 3);
    search->Text1->setCurrentIndex(search->Text1->findText(QStringLiteral("上海")));
    search->Command1->click();
    QCOMPARE(Column(search->ListView1, 0), QStringList{"2"});
    QCOMPARE(Column(search->ListView1, 0, Qt::UserRole), QStringList{"hg0"});
    QCOMPARE(Column(search->ListView1, 1), QStringList{"Music FM"});
    searchFor(search, "nowhere");
    QCOMPARE(RowCount(search->ListView1), 0);
}

void TestForm3::emptyKeywordKeepsRows() {
    Form3 *search = open();
    searchFor(search, QStringLiteral("北京"));
    searchFor(search, "");
    QCOMPARE(platform_->boxes.shown.size(), 1);
    QCOMPARE(platform_->boxes.shown.first().text, QStringLiteral("请输入关键字"));
    QCOMPARE(platform_->boxes.shown.first().icon, platform::BoxIcon::None);
    QCOMPARE(platform_->boxes.shown.first().buttons, platform::BoxButtons::Ok);
    QCOMPARE(RowCount(search->ListView1), 3);
}

void TestForm3::enterSearches() {
    Form3 *search = open();
    search->activateWindow();
    search->Text1->setFocus();
    Type(search->Text1, QStringLiteral("东"));
    QTest::keyClick(search->Text1, Qt::Key_Return);
    QCOMPARE(search->Text1->currentText(), QStringLiteral("东"));
    QCOMPARE(Column(search->ListView1, 0), QStringList{"5"});
    QCOMPARE(search->Text1->count(), 34); // nothing added to the drop-down
}

void TestForm3::keyboard() {
    Form3 *search = open();
    search->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(search));
    QTRY_VERIFY(search->Text1->hasFocus());
    for (QWidget *next :
         {static_cast<QWidget *>(search->Command1), static_cast<QWidget *>(search->ListView1),
          static_cast<QWidget *>(search->Text1)}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(next->hasFocus());
    }
    // No cancel button: Esc keeps the window with its keyword and rows.
    searchFor(search, QStringLiteral("北京"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(search->isVisible());
    QCOMPARE(search->Text1->currentText(), QStringLiteral("北京"));
    QCOMPARE(RowCount(search->ListView1), 3);
}

void TestForm3::doubleClickPlaysWithoutReport() {
    Form3 *search = open();
    searchFor(search, QStringLiteral("北京"));
    const QRect row = search->ListView1->visualRect(Cell(search->ListView1, 1));
    QTest::mouseClick(search->ListView1->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(search->ListView1->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(platform_->player->urlsSet, QStringList{"http://s/3"});
    QCOMPARE(window_->form.windowTitle(), QStringLiteral("Quorvel收音机：京津之声  ID ：3"));
    QCOMPARE(window_->control<Picture>("Label4")->text(), window_->form.windowTitle());
    QVERIFY(platform_->httpLog.isEmpty());
    QVERIFY(search->isVisible());
    QCOMPARE(RowCount(search->ListView1), 3);
    QCOMPARE(search->ListView1->currentIndex().row(), 1);

    // The trimmed ID " 4 " is listed as "4" and finds no line: nothing plays.
    const QRect top = search->ListView1->visualRect(Cell(search->ListView1, 0));
    QTest::mouseClick(search->ListView1->viewport(), Qt::LeftButton, {}, top.center());
    QTest::mouseDClick(search->ListView1->viewport(), Qt::LeftButton, {}, top.center());
    QCOMPARE(platform_->player->urlsSet.size(), 1);
}

void TestForm3::reopening() {
    Form3 *search = open();
    searchFor(search, QStringLiteral("北京"));
    QCOMPARE(open(), search); // open already: nothing changes
    QCOMPARE(RowCount(search->ListView1), 3);
    QCOMPARE(search->Text1->currentText(), QStringLiteral("北京"));
    QPointer<Form3> closed = search;
    search->close();
    QTRY_VERIFY(!closed);
    Form3 *again = open();
    QVERIFY(again);
    QCOMPARE(RowCount(again->ListView1), 0);
    QCOMPARE(again->Text1->currentText(), QString());
}

QTEST_MAIN(TestForm3)
#include "test_form3.moc"
