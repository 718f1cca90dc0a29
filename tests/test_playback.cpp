#include "main_window/form1.h"
#include "main_window/picture.h"
#include "playback/play_station.h"
#include "tests/support/fake_platform.h"
#include "tests/support/station_line.h"
#include "tests/support/table_cells.h"
#include "tests/support/tick.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTreeView>

using platform::PlayState::Buffering;
using platform::PlayState::Playing;
using platform::PlayState::Ready;
using platform::PlayState::Stopped;
using platform::PlayState::Transitioning;
using testsupport::Cell;
using testsupport::StationLine;
using testsupport::Tick;

namespace {

const QString kReportBase = QStringLiteral("http://directory.invalid/radio/hot.asp?id=");
const QString kFallback = QStringLiteral("http://fallback.invalid/fallback.asx");

} // namespace

class TestPlayback : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void findsFirstExactId_data();
    void findsFirstExactId();
    void reportUrl_data();
    void reportUrl();
    void tableDoubleClickPlaysAndReports();
    void doubleClickWithoutSelection();
    void typedIdPlays();
    void needsChannelsFirst_data();
    void needsChannelsFirst();
    void playStopButton();
    void volumeFollowsThumbOnly();
    void statusWords_data();
    void statusWords();
    void failedStreamFallsBack();
    void deadReportServerKeepsPlaying();
    void announcements_data();
    void announcements();
    void announcementSourceFollowsReadiness();

private:
    void loadDirectory(const QStringList &lines);
    void doubleClickRow(int row);

    std::unique_ptr<testsupport::FakePlatform> platform_;
    std::unique_ptr<Form1> form_;
    testsupport::FakeMediaPlayer *player_ = nullptr;
};

void TestPlayback::init() {
    platform_ = std::make_unique<testsupport::FakePlatform>();
    platform_->httpResponder = [](const QString &) { return testsupport::FakePage{"", 200}; };
    form_ = std::make_unique<Form1>(*platform_);
    form_->Timer1->stop(); // the tests drive the timers
    form_->Timer3->stop();
    player_ = platform_->player;
}

void TestPlayback::cleanup() {
    form_.reset();
    platform_.reset();
}

void TestPlayback::loadDirectory(const QStringList &lines) {
    testsupport::FakeWebBrowser *browser = platform_->browsers.first();
    browser->holdLoads = true;
    browser->pages[browser->navigations.first()] = {"(zebok)\r\n" + lines.join("\r\n"), 200};
    browser->completePending();
    form_->FetchChannels();
    browser->completePending();
    QVERIFY(form_->ChannelsFetched);
}

void TestPlayback::doubleClickRow(int row) {
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    const QRect place = form_->ListView1->visualRect(Cell(form_->ListView1, row));
    QTest::mouseClick(form_->ListView1->viewport(), Qt::LeftButton, {}, place.center());
    QTest::mouseDClick(form_->ListView1->viewport(), Qt::LeftButton, {}, place.center());
}

void TestPlayback::findsFirstExactId_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("url"); // empty: no line found
    QTest::newRow("upper of two equal IDs") << "12"
                                            << "http://a/first";
    QTest::newRow("other ID") << "7"
                              << "http://a/seven";
    QTest::newRow("leading space") << " 12"
                                   << "";
    QTest::newRow("trailing space") << "12 "
                                    << "";
    QTest::newRow("leading zero") << "012"
                                  << "";
    QTest::newRow("untrimmed ID in the line") << "9"
                                              << "";
    QTest::newRow("placeholder") << QStringLiteral("输入ID") << "";
    QTest::newRow("empty matches no line without an ID") << ""
                                                         << "";
}

void TestPlayback::findsFirstExactId() {
    QFETCH(QString, id);
    QFETCH(QString, url);
    QStringList list{"(zebok)", StationLine("12", "A", "http://a/first")};
    StationIdIndex index;
    index.catchUp(list);
    // Lines appended after the index last looked are found too.
    list.append({StationLine("7", "B", "http://a/seven"), StationLine("12", "C", "http://a/second"),
                 StationLine(" 9 ", "D", "http://a/nine"),
                 "(title)no id(/title)(url)http://a/noid(/url)"});
    const std::optional<QString> line = index.firstLine(list, id);
    QCOMPARE(line.has_value(), !url.isEmpty());
    if (line) {
        QVERIFY(line->contains(url));
    }
}

void TestPlayback::reportUrl_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("query");
    QTest::newRow("digits") << "12"
                            << "12";
    QTest::newRow("letters and digits") << "abC9"
                                        << "abC9";
    QTest::newRow("ampersand and equals") << "1&x=2"
                                          << "1%26x%3D2";
    QTest::newRow("hash and space") << "1 #2"
                                    << "1%20%232";
    QTest::newRow("Chinese") << QStringLiteral("台1") << "%E5%8F%B01";
    QTest::newRow("line break") << "1\r\nX: y"
                                << "1%0D%0AX%3A%20y";
}

void TestPlayback::reportUrl() {
    QFETCH(QString, id);
    QFETCH(QString, query);
    QCOMPARE(PlayReportUrl("http://directory.invalid", id), kReportBase + query);
}

void TestPlayback::tableDoubleClickPlaysAndReports() {
    loadDirectory({StationLine("12", QStringLiteral("音乐台"), "http://s/12"),
                   StationLine("15", QStringLiteral("新闻台"), "http://s/15")});
    platform_->holdHttpAnswers = true;
    doubleClickRow(1); // rows stand in reverse order: row 1 is station 12
    const QString caption = QStringLiteral("Quorvel收音机：音乐台  ID ：12");
    QCOMPARE(form_->windowTitle(), caption);
    QCOMPARE(form_->Label4->text(), caption);
    QCOMPARE(player_->urlsSet, QStringList{"http://s/12"});
    QCOMPARE(platform_->httpLog, QStringList{kReportBase + "12"});

    // Plays while a report is awaited are reported after it, in their order.
    doubleClickRow(0);
    doubleClickRow(1);
    QCOMPARE(player_->urlsSet, (QStringList{"http://s/12", "http://s/15", "http://s/12"}));
    QCOMPARE(platform_->httpLog.size(), 1);
    platform_->answerHeldHttpRequests();
    QCOMPARE(platform_->httpLog.size(), 2);
    platform_->answerHeldHttpRequests();
    QCOMPARE(platform_->httpLog,
             (QStringList{kReportBase + "12", kReportBase + "15", kReportBase + "12"}));
}

void TestPlayback::doubleClickWithoutSelection() {
    loadDirectory({StationLine("12", "A", "http://s/12")});
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    form_->ListView1->clearSelection();
    QTest::mouseDClick(form_->ListView1->viewport(), Qt::LeftButton, {}, QPoint(100, 300));
    QVERIFY(player_->urlsSet.isEmpty());
    QVERIFY(platform_->httpLog.isEmpty());
    QVERIFY(platform_->boxes.shown.isEmpty());
}

void TestPlayback::typedIdPlays() {
    loadDirectory({StationLine("12", "A", "http://s/12"), StationLine("12", "B", "http://s/12b")});
    form_->Text1->setText("12");
    QMetaObject::invokeMethod(form_->Image3, "clicked");
    QCOMPARE(player_->urlsSet, QStringList{"http://s/12"});
    QCOMPARE(platform_->httpLog, QStringList{kReportBase + "12"});
    form_->Text1->setText("12 ");
    QMetaObject::invokeMethod(form_->Image3, "clicked");
    form_->Text1->clear(); // as a click in the box leaves it
    QMetaObject::invokeMethod(form_->Image3, "clicked");
    QCOMPARE(player_->urlsSet.size(), 1);
    QCOMPARE(platform_->httpLog.size(), 1); // no match, no report
    QCOMPARE(form_->windowTitle(), QStringLiteral("Quorvel收音机：A  ID ：12"));
}

void TestPlayback::needsChannelsFirst_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("play by ID") << "Image3";
    QTest::newRow("quick search") << "Image5";
}

void TestPlayback::needsChannelsFirst() {
    QFETCH(QString, button);
    form_->Text1->setText("12");
    QMetaObject::invokeMethod(button == "Image3" ? form_->Image3 : form_->Image5, "clicked");
    QCOMPARE(platform_->boxes.shown.size(), 1);
    QCOMPARE(platform_->boxes.shown.first().text, QStringLiteral("请先获取频道！"));
    QCOMPARE(platform_->boxes.shown.first().icon, platform::BoxIcon::Information);
    QCOMPARE(platform_->boxes.shown.first().title, QStringLiteral("Quorvel收音机"));
    QVERIFY(player_->urlsSet.isEmpty());
    QCOMPARE(QApplication::topLevelWidgets().size(), 1);
}

void TestPlayback::playStopButton() {
    loadDirectory({StationLine("12", "A", "http://s/12")});
    QMetaObject::invokeMethod(form_->Image9, "clicked"); // stop
    QCOMPARE(player_->stopCalls, 1);
    QVERIFY(form_->Image8->isHidden());
    form_->startStation("12", Form1::PlayReport::None);
    QMetaObject::invokeMethod(form_->Image9, "clicked"); // play: the station goes on
    QCOMPARE(player_->stopCalls, 1);
    QCOMPARE(player_->playCalls, 1);
    QMetaObject::invokeMethod(form_->Image9, "clicked"); // now it stops
    QCOMPARE(player_->stopCalls, 2);
}

void TestPlayback::volumeFollowsThumbOnly() {
    QCOMPARE(form_->Slider1->value(), 70);
    QCOMPARE(player_->volume(), 70);
    form_->Slider1->setValue(30); // keyboard, arrows or track: no volume change
    form_->Slider1->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(player_->volume(), 70);
    form_->Slider1->setSliderDown(true); // the thumb is dragged
    form_->Slider1->setSliderPosition(45);
    form_->Slider1->setSliderDown(false);
    QCOMPARE(player_->volume(), 45);
}

// The line's word for each state, and the station's announced title as the
// message line's tooltip while it sounds.
void TestPlayback::statusWords_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("titled");
    const QString before = QStringLiteral("状态：连接服务器");
    QTest::newRow("playing") << Playing << QStringLiteral("状态：播放中") << true;
    QTest::newRow("stopped") << Stopped << QStringLiteral("状态：停止") << false;
    QTest::newRow("connecting") << Transitioning << QStringLiteral("状态：正在连接") << false;
    QTest::newRow("buffering") << Buffering << QStringLiteral("状态：正在缓冲") << true;
    QTest::newRow("undefined") << 0 << before << false;
    QTest::newRow("paused") << 2 << before << false;
    QTest::newRow("7") << 7 << before << false;
    QTest::newRow("media ended") << 8 << before << false;
    QTest::newRow("11") << 11 << before << false;
}

void TestPlayback::statusWords() {
    QFETCH(int, state);
    QFETCH(QString, line);
    QFETCH(bool, titled);
    player_->state = state;
    // A station's title is shown as written, markup and all.
    player_->title = QStringLiteral("<b>晚间新闻</b><img src=\"/dev/zero\">");
    form_->Label4->setToolTip(QStringLiteral("earlier title"));
    Tick(form_->Timer1);
    QCOMPARE(form_->Label2->text(), line);
    QTextDocument shown;
    shown.setHtml(form_->Label4->toolTip());
    QCOMPARE(shown.toPlainText(), titled ? player_->title : QString());
    QCOMPARE(form_->Label4->toolTip().isEmpty(), !titled);
    QVERIFY(player_->urlsSet.isEmpty());
    player_->title.clear(); // no title, no tooltip
    Tick(form_->Timer1);
    QCOMPARE(form_->Label4->toolTip(), QString());
}

void TestPlayback::failedStreamFallsBack() {
    loadDirectory({StationLine("12", "A", "http://s/12")});
    form_->startStation("12", Form1::PlayReport::None);
    const QString caption = form_->windowTitle();
    player_->state = Playing;
    Tick(form_->Timer1);
    player_->state = Ready;
    Tick(form_->Timer1);
    Tick(form_->Timer1);
    QCOMPARE(player_->urlsSet, (QStringList{"http://s/12", kFallback, kFallback}));
    QCOMPARE(form_->windowTitle(), caption);
    QCOMPARE(form_->Label4->text(), caption);
    QCOMPARE(form_->Label2->text(), QStringLiteral("状态：播放中"));
    QVERIFY(platform_->httpLog.isEmpty());
}

void TestPlayback::deadReportServerKeepsPlaying() {
    platform_->httpResponder = [](const QString &) { return std::nullopt; };
    loadDirectory({StationLine("12", "A", "http://s/12")});
    doubleClickRow(0);
    QCOMPARE(player_->urlsSet, QStringList{"http://s/12"});
    QCOMPARE(platform_->httpLog.size(), 1);
    QVERIFY(platform_->boxes.shown.isEmpty());
}

void TestPlayback::announcements_data() {
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("shown");
    const QString before = QStringLiteral("Quorvel收音机：A  ID ：12");
    QTest::newRow("untrimmed") << true << "x(radiomsg) 新节目 (/radiomsg)y"
                               << QStringLiteral(" 新节目 ");
    QTest::newRow("first of two") << true << "(radiomsg)one(/radiomsg)(radiomsg)two(/radiomsg)"
                                  << "one";
    QTest::newRow("page without one clears") << true << "<html>Not found</html>"
                                             << "";
    QTest::newRow("no complete response keeps the line") << false << "" << before;
}

void TestPlayback::announcements() {
    QFETCH(bool, answered);
    QFETCH(QString, page);
    QFETCH(QString, shown);
    loadDirectory({StationLine("12", "A", "http://s/12")});
    form_->startStation("12", Form1::PlayReport::None);
    platform_->httpResponder = [answered,
                                page](const QString &) -> std::optional<testsupport::FakePage> {
        if (!answered) {
            return std::nullopt;
        }
        return testsupport::FakePage{page, 404};
    };
    platform_->holdHttpAnswers = true;
    QCOMPARE(form_->Timer3->interval(), 10000);
    Tick(form_->Timer3);
    QCOMPARE(form_->Timer3->interval(), 40000);
    Tick(form_->Timer3); // the first is still awaited: no second request
    QCOMPARE(platform_->httpLog.size(), 1);
    // The answer lands even after a play has written the line meanwhile.
    form_->startStation("12", Form1::PlayReport::None);
    platform_->answerHeldHttpRequests();
    QCOMPARE(form_->Label4->text(), shown);
    Tick(form_->Timer3); // answered or not, the next tick asks again
    QCOMPARE(platform_->httpLog.size(), 2);
}

void TestPlayback::announcementSourceFollowsReadiness() {
    platform_->holdHttpAnswers = true;
    Tick(form_->Timer3);
    platform_->answerHeldHttpRequests();
    loadDirectory({});
    Tick(form_->Timer3);
    QCOMPARE(platform_->httpLog,
             (QStringList{"http://home.invalid/", "http://directory.invalid/radio/new.asp"}));
}

QTEST_MAIN(TestPlayback)
#include "test_playback.moc"
