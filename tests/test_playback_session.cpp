// SPDX-License-Identifier: GPL-3.0-or-later

// The playback session without a window: which directory line a station ID
// plays, the play reports and their order, play/stop, the volume, the status
// monitor's words and title, and the fallback for a stream that cannot be
// opened.

#include "playback/playback_session.h"
#include "station_data/station_directory.h"
#include "tests/support/fake_platform.h"
#include "tests/support/station_line.h"

#include <QSignalSpy>
#include <QTest>

using platform::PlayState::Buffering;
using platform::PlayState::Playing;
using platform::PlayState::Ready;
using platform::PlayState::Stopped;
using platform::PlayState::Transitioning;
using testsupport::StationLine;

namespace {

const QString kReportBase = QStringLiteral("http://directory.invalid/radio/hot.asp?id=");
const QString kFallback = QStringLiteral("http://fallback.invalid/fallback.asx");

} // namespace

class TestPlaybackSession : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void findsFirstExactId_data();
    void findsFirstExactId();
    void reportUrl_data();
    void reportUrl();
    void reportsGoOutInOrder();
    void playStop();
    void volume();
    void statusWords_data();
    void statusWords();
    void failedStreamFallsBack();
    void deadReportServerKeepsPlaying();

private:
    std::unique_ptr<testsupport::FakePlatform> platform_;
    std::unique_ptr<StationDirectory> directory_;
    std::unique_ptr<PlaybackSession> session_;
    testsupport::FakeMediaPlayer *player_ = nullptr;
};

void TestPlaybackSession::init() {
    platform_ = std::make_unique<testsupport::FakePlatform>();
    platform_->httpResponder = [](const QString &) { return testsupport::FakePage{"", 200}; };
    directory_ = std::make_unique<StationDirectory>(*platform_);
    session_ = std::make_unique<PlaybackSession>(*platform_, *directory_);
    player_ = platform_->player;
}

void TestPlaybackSession::cleanup() {
    session_.reset();
    directory_.reset();
    platform_.reset();
}

void TestPlaybackSession::findsFirstExactId_data() {
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

void TestPlaybackSession::findsFirstExactId() {
    QFETCH(QString, id);
    QFETCH(QString, url);
    directory_->addStationLines({"(zebok)", StationLine("12", "A", "http://a/first")});
    QVERIFY(directory_->lineOfStation("12"));
    // Lines added after the index last looked are found too.
    directory_->addStationLines(
        {StationLine("7", "B", "http://a/seven"), StationLine("12", "C", "http://a/second"),
         StationLine(" 9 ", "D", "http://a/nine"), "(title)no id(/title)(url)http://a/noid(/url)"});
    const QSignalSpy started(session_.get(), &PlaybackSession::stationStarted);
    session_->startStation(id, PlaybackSession::PlayReport::None);
    QCOMPARE(player_->urlsSet, url.isEmpty() ? QStringList() : QStringList{url});
    QCOMPARE(started.size(), url.isEmpty() ? 0 : 1);
}

void TestPlaybackSession::reportUrl_data() {
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

void TestPlaybackSession::reportUrl() {
    QFETCH(QString, id);
    QFETCH(QString, query);
    session_->idz(id);
    QCOMPARE(platform_->httpLog, QStringList{kReportBase + query});
}

// Plays while a report is awaited are reported after it, in their order.
void TestPlaybackSession::reportsGoOutInOrder() {
    directory_->addStationLines({StationLine("12", QStringLiteral("音乐台"), "http://s/12"),
                                 StationLine("15", QStringLiteral("新闻台"), "http://s/15")});
    platform_->holdHttpAnswers = true;
    for (const char *id : {"12", "15", "12"}) {
        session_->PlayAndReport(QLatin1StringView(id));
    }
    QCOMPARE(player_->urlsSet, (QStringList{"http://s/12", "http://s/15", "http://s/12"}));
    QCOMPARE(platform_->httpLog, QStringList{kReportBase + "12"});
    platform_->answerHeldHttpRequests();
    QCOMPARE(platform_->httpLog.size(), 2);
    platform_->answerHeldHttpRequests();
    QCOMPARE(platform_->httpLog,
             (QStringList{kReportBase + "12", kReportBase + "15", kReportBase + "12"}));
}

void TestPlaybackSession::playStop() {
    directory_->addStationLines({StationLine("12", "A", "http://s/12")});
    session_->playStop(); // stop
    QCOMPARE(player_->stopCalls, 1);
    QVERIFY(session_->stoppedByButton());
    session_->startStation("12", PlaybackSession::PlayReport::None);
    session_->playStop(); // play: the station goes on
    QCOMPARE(player_->stopCalls, 1);
    QCOMPARE(player_->playCalls, 1);
    QVERIFY(!session_->stoppedByButton());
    session_->playStop(); // now it stops
    QCOMPARE(player_->stopCalls, 2);
}

void TestPlaybackSession::volume() {
    const QSignalSpy changed(session_.get(), &PlaybackSession::volumeChanged);
    session_->setVolume(45);
    QCOMPARE(player_->volume(), 45);
    QCOMPARE(session_->volume(), 45);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().first().toInt(), 45);
}

// The status word of each state (none for the states that leave the status
// line as it is), and the station's announced title, as written, while it
// sounds.
void TestPlaybackSession::statusWords_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("word"); // empty: no word
    QTest::addColumn<bool>("titled");
    QTest::newRow("playing") << Playing << QStringLiteral("状态：播放中") << true;
    QTest::newRow("stopped") << Stopped << QStringLiteral("状态：停止") << false;
    QTest::newRow("connecting") << Transitioning << QStringLiteral("状态：正在连接") << false;
    QTest::newRow("buffering") << Buffering << QStringLiteral("状态：正在缓冲") << true;
    QTest::newRow("undefined") << 0 << QString() << false;
    QTest::newRow("paused") << 2 << QString() << false;
    QTest::newRow("7") << 7 << QString() << false;
    QTest::newRow("media ended") << 8 << QString() << false;
    QTest::newRow("11") << 11 << QString() << false;
}

void TestPlaybackSession::statusWords() {
    QFETCH(int, state);
    QFETCH(QString, word);
    QFETCH(bool, titled);
    const QSignalSpy words(session_.get(), &PlaybackSession::status);
    player_->state = state;
    player_->title = QStringLiteral("<b>晚间新闻</b><img src=\"/dev/zero\">");
    session_->monitor();
    QCOMPARE(words.size(), word.isEmpty() ? 0 : 1);
    if (!word.isEmpty()) {
        QCOMPARE(words.first().first().toString(), word);
    }
    QCOMPARE(session_->nowPlayingTitle(), titled ? player_->title : QString());
    QVERIFY(player_->urlsSet.isEmpty());
    player_->title.clear(); // no title, none shown
    session_->monitor();
    QCOMPARE(session_->nowPlayingTitle(), QString());
}

void TestPlaybackSession::failedStreamFallsBack() {
    directory_->addStationLines({StationLine("12", "A", "http://s/12")});
    const QSignalSpy started(session_.get(), &PlaybackSession::stationStarted);
    session_->startStation("12", PlaybackSession::PlayReport::None);
    const QSignalSpy words(session_.get(), &PlaybackSession::status);
    player_->state = Playing;
    session_->monitor();
    player_->state = Ready;
    session_->monitor();
    session_->monitor();
    QCOMPARE(player_->urlsSet, (QStringList{"http://s/12", kFallback, kFallback}));
    // The station chosen stays the one named; the status line keeps its word.
    QCOMPARE(started.size(), 1);
    QCOMPARE(session_->stationId(), QStringLiteral("12"));
    QCOMPARE(session_->stationName(), QStringLiteral("A"));
    QCOMPARE(words.size(), 1);
    QCOMPARE(words.first().first().toString(), QStringLiteral("状态：播放中"));
    QVERIFY(platform_->httpLog.isEmpty());
}

void TestPlaybackSession::deadReportServerKeepsPlaying() {
    platform_->httpResponder = [](const QString &) { return std::nullopt; };
    platform_->holdHttpAnswers = true;
    directory_->addStationLines({StationLine("12", "A", "http://s/12")});
    session_->PlayAndReport("12");
    platform_->answerHeldHttpRequests(); // the report fails
    QCOMPARE(player_->urlsSet, QStringList{"http://s/12"});
    QCOMPARE(player_->stopCalls, 0);
    QCOMPARE(platform_->httpLog.size(), 1);
    QVERIFY(platform_->boxes.shown.isEmpty());
}

QTEST_GUILESS_MAIN(TestPlaybackSession)
#include "test_playback_session.moc"
