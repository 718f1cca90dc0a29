// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's side of playback: what a double click, the ID box and
// the play/stop and volume controls ask of the playback session, and what the
// window shows of it (caption, status line, title, announcements).

#include "main_window/picture.h"
#include "tests/support/fake_platform.h"
#include "tests/support/main_window.h"
#include "tests/support/station_line.h"
#include "tests/support/table_cells.h"
#include "tests/support/tick.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTreeView>

using platform::PlayState::Playing;
using platform::PlayState::Stopped;
using testsupport::Cell;
using testsupport::StationLine;
using testsupport::Tick;

namespace {

const QString kReportBase = QStringLiteral("http://directory.invalid/radio/hot.asp?id=");

} // namespace

class TestPlayback : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void tableDoubleClickPlaysAndReports();
    void doubleClickWithoutSelection();
    void typedIdPlays();
    void needsChannelsFirst_data();
    void needsChannelsFirst();
    void playStopButton();
    void volumeFollowsThumbOnly();
    void statusWords();
    void announcements_data();
    void announcements();
    void announcementSourceFollowsReadiness();

private:
    void loadDirectory(const QStringList &lines);
    void doubleClickRow(int row);
    template <class Control> Control *control(const char *name) const {
        return window_->control<Control>(name);
    }
    void startStation(const QString &id) {
        window_->session.startStation(id, PlaybackSession::PlayReport::None);
    }

    std::unique_ptr<testsupport::FakePlatform> platform_;
    std::unique_ptr<testsupport::MainWindow> window_;
    testsupport::FakeMediaPlayer *player_ = nullptr;
};

void TestPlayback::init() {
    platform_ = std::make_unique<testsupport::FakePlatform>();
    platform_->httpResponder = [](const QString &) { return testsupport::FakePage{"", 200}; };
    window_ = std::make_unique<testsupport::MainWindow>(*platform_);
    control<QTimer>("Timer1")->stop(); // the tests drive the timers
    control<QTimer>("Timer3")->stop();
    player_ = platform_->player;
}

void TestPlayback::cleanup() {
    window_.reset();
    platform_.reset();
}

void TestPlayback::loadDirectory(const QStringList &lines) {
    testsupport::FakeWebBrowser *browser = platform_->browsers.first();
    browser->holdLoads = true;
    browser->pages[browser->navigations.first()] = {"(zebok)\r\n" + lines.join("\r\n"), 200};
    browser->completePending();
    QMetaObject::invokeMethod(control<Picture>("Image10"), "clicked");
    browser->completePending();
    QVERIFY(window_->directory.channelsFetched());
}

void TestPlayback::doubleClickRow(int row) {
    auto *table = control<QTreeView>("ListView1");
    window_->form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window_->form));
    const QRect place = table->visualRect(Cell(table, row));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, place.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, place.center());
}

void TestPlayback::tableDoubleClickPlaysAndReports() {
    loadDirectory({StationLine("12", QStringLiteral("音乐台"), "http://s/12"),
                   StationLine("15", QStringLiteral("新闻台"), "http://s/15")});
    doubleClickRow(1); // rows stand in reverse order: row 1 is station 12
    const QString caption = QStringLiteral("Quorvel收音机：音乐台  ID ：12");
    QCOMPARE(window_->form.windowTitle(), caption);
    QCOMPARE(control<Picture>("Label4")->text(), caption);
    QCOMPARE(player_->urlsSet, QStringList{"http://s/12"});
    QCOMPARE(platform_->httpLog, QStringList{kReportBase + "12"});
    doubleClickRow(0);
    QCOMPARE(player_->urlsSet, (QStringList{"http://s/12", "http://s/15"}));
    QCOMPARE(window_->form.windowTitle(), QStringLiteral("Quorvel收音机：新闻台  ID ：15"));
}

void TestPlayback::doubleClickWithoutSelection() {
    loadDirectory({StationLine("12", "A", "http://s/12")});
    auto *table = control<QTreeView>("ListView1");
    window_->form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window_->form));
    table->clearSelection();
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, QPoint(100, 300));
    QVERIFY(player_->urlsSet.isEmpty());
    QVERIFY(platform_->httpLog.isEmpty());
    QVERIFY(platform_->boxes.shown.isEmpty());
}

void TestPlayback::typedIdPlays() {
    loadDirectory({StationLine("12", "A", "http://s/12"), StationLine("12", "B", "http://s/12b")});
    auto *text1 = control<QLineEdit>("Text1");
    auto *image3 = control<Picture>("Image3");
    text1->setText("12");
    QMetaObject::invokeMethod(image3, "clicked");
    QCOMPARE(player_->urlsSet, QStringList{"http://s/12"});
    QCOMPARE(platform_->httpLog, QStringList{kReportBase + "12"});
    text1->setText("12 ");
    QMetaObject::invokeMethod(image3, "clicked");
    text1->clear(); // as a click in the box leaves it
    QMetaObject::invokeMethod(image3, "clicked");
    QCOMPARE(player_->urlsSet.size(), 1);
    QCOMPARE(platform_->httpLog.size(), 1); // no match, no report
    QCOMPARE(window_->form.windowTitle(), QStringLiteral("Quorvel收音机：A  ID ：12"));
}

void TestPlayback::needsChannelsFirst_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("play by ID") << "Image3";
    QTest::newRow("quick search") << "Image5";
}

void TestPlayback::needsChannelsFirst() {
    QFETCH(QString, button);
    control<QLineEdit>("Text1")->setText("12");
    QMetaObject::invokeMethod(control<Picture>(button.toLatin1().constData()), "clicked");
    QCOMPARE(platform_->boxes.shown.size(), 1);
    QCOMPARE(platform_->boxes.shown.first().text, QStringLiteral("请先获取频道！"));
    QCOMPARE(platform_->boxes.shown.first().icon, platform::BoxIcon::Information);
    QCOMPARE(platform_->boxes.shown.first().title, QStringLiteral("Quorvel收音机"));
    QVERIFY(player_->urlsSet.isEmpty());
    QCOMPARE(QApplication::topLevelWidgets().size(), 1);
}

void TestPlayback::playStopButton() {
    loadDirectory({StationLine("12", "A", "http://s/12")});
    auto *image9 = control<Picture>("Image9");
    QMetaObject::invokeMethod(image9, "clicked"); // stop
    QCOMPARE(player_->stopCalls, 1);
    QVERIFY(window_->session.stoppedByButton());
    QVERIFY(control<Picture>("Image8")->isHidden());
    QMetaObject::invokeMethod(image9, "clicked"); // play again
    QCOMPARE(player_->playCalls, 1);
    QVERIFY(!window_->session.stoppedByButton());
}

void TestPlayback::volumeFollowsThumbOnly() {
    auto *slider = control<QScrollBar>("Slider1");
    QCOMPARE(slider->value(), 70);
    QCOMPARE(player_->volume(), 70);
    slider->setValue(30); // keyboard, arrows or track: no volume change
    slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(player_->volume(), 70);
    slider->setSliderDown(true); // the thumb is dragged
    slider->setSliderPosition(45);
    slider->setSliderDown(false);
    QCOMPARE(player_->volume(), 45);
    QCOMPARE(window_->session.volume(), 45);
}

// The status line shows the monitor's word, and the message line's tooltip
// the station's announced title as written, markup and all, while it sounds.
void TestPlayback::statusWords() {
    auto *timer1 = control<QTimer>("Timer1");
    auto *label2 = control<Picture>("Label2");
    auto *label4 = control<Picture>("Label4");
    QCOMPARE(label2->text(), QStringLiteral("状态：连接服务器"));
    player_->state = 0; // no word: the line keeps what it shows
    Tick(timer1);
    QCOMPARE(label2->text(), QStringLiteral("状态：连接服务器"));
    player_->state = Playing;
    player_->title = QStringLiteral("<b>晚间新闻</b><img src=\"/dev/zero\">");
    Tick(timer1);
    QCOMPARE(label2->text(), QStringLiteral("状态：播放中"));
    QTextDocument shown;
    shown.setHtml(label4->toolTip());
    QCOMPARE(shown.toPlainText(), player_->title);
    player_->title.clear(); // no title, no tooltip
    Tick(timer1);
    QCOMPARE(label4->toolTip(), QString());
    player_->title = QStringLiteral("晚间新闻");
    Tick(timer1);
    QVERIFY(!label4->toolTip().isEmpty());
    player_->state = Stopped; // not sounding: no tooltip
    Tick(timer1);
    QCOMPARE(label2->text(), QStringLiteral("状态：停止"));
    QCOMPARE(label4->toolTip(), QString());
}

void TestPlayback::announcements_data() {
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("stationMeanwhile"); // a station is started while the answer is awaited
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("shownAfterNextTick");
    const QString before = QStringLiteral("Quorvel收音机：A  ID ：12");
    QTest::newRow("untrimmed") << true << "x(radiomsg) 新节目 (/radiomsg)y" << false
                               << QStringLiteral(" 新节目 ") << QStringLiteral(" 新节目 ");
    QTest::newRow("first of two") << true << "(radiomsg)one(/radiomsg)(radiomsg)two(/radiomsg)"
                                  << false << "one"
                                  << "one";
    QTest::newRow("page without one clears") << true << "<html>Not found</html>" << false << ""
                                             << "";
    QTest::newRow("no complete response keeps the line")
        << false << "" << false << before << before;
    QTest::newRow("station shown since asking keeps its caption")
        << true << "(radiomsg)one(/radiomsg)" << true << before << "one";
}

void TestPlayback::announcements() {
    QFETCH(bool, answered);
    QFETCH(QString, page);
    QFETCH(bool, stationMeanwhile);
    QFETCH(QString, shown);
    QFETCH(QString, shownAfterNextTick);
    auto *timer3 = control<QTimer>("Timer3");
    auto *label4 = control<Picture>("Label4");
    loadDirectory({StationLine("12", "A", "http://s/12")});
    startStation("12");
    platform_->httpResponder = [answered,
                                page](const QString &) -> std::optional<testsupport::FakePage> {
        if (!answered) {
            return std::nullopt;
        }
        return testsupport::FakePage{page, 404};
    };
    platform_->holdHttpAnswers = true;
    QCOMPARE(timer3->interval(), 10000);
    Tick(timer3);
    QCOMPARE(timer3->interval(), 40000);
    Tick(timer3); // the first is still awaited: no second request
    QCOMPARE(platform_->httpLog.size(), 1);
    if (stationMeanwhile) {
        startStation("12");
    }
    platform_->answerHeldHttpRequests();
    QCOMPARE(label4->text(), shown);
    Tick(timer3); // answered or not, the next tick asks again
    QCOMPARE(platform_->httpLog.size(), 2);
    platform_->answerHeldHttpRequests();
    QCOMPARE(label4->text(), shownAfterNextTick);
}

void TestPlayback::announcementSourceFollowsReadiness() {
    platform_->holdHttpAnswers = true;
    Tick(control<QTimer>("Timer3"));
    platform_->answerHeldHttpRequests();
    loadDirectory({});
    Tick(control<QTimer>("Timer3"));
    QCOMPARE(platform_->httpLog,
             (QStringList{"http://home.invalid/", "http://directory.invalid/radio/new.asp"}));
}

QTEST_MAIN(TestPlayback)
#include "test_playback.moc"
