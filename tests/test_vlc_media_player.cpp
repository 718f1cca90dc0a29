// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/icy_metadata.h"
#include "directory_server/tone/tone.h"
#include "platform/log_categories.h"
#include "platform/vlc_media_player.h"
#include "tests/support/audio_tap.h"
#include "tests/support/hls_station.h"
#include "tests/support/live_tone.h"
#include "tests/support/loopback_server.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace PlayState = platform::PlayState;
using testsupport::HlsPlan;
using testsupport::LoopbackServer;
using testsupport::Next;
using namespace std::chrono_literals;

namespace {

// Generous bounds for a loaded machine; a healthy run needs a fraction of them.
constexpr int kConnectMs = 10000;
constexpr int kFailMs = 15000; // the player gives a play 10 s to sound
constexpr qint64 kSamplesPerSecond = 44100 * 2;

const QByteArray &ToneLoop() {
    static const QByteArray loop = QByteArray::fromStdString(tone::EncodeToneLoop({}));
    return loop;
}

void ServeTone(LoopbackServer &server, const std::string &path) {
    server.serveStream(path, "audio/mpeg", [] { return ToneLoop(); });
}

// Two seconds of tone, then silence on an open connection until released.
void ServeStallingTone(LoopbackServer &server, const std::string &path,
                       const std::atomic<bool> &released) {
    testsupport::ServeLiveTone(server, path, [&released](int, std::chrono::microseconds sent) {
        return released ? Next::End : sent > 2s ? Next::Wait : Next::Send;
    });
}

// An endless tone (sent as fast as it is read) with ICY metadata announcing
// title, given as the raw bytes the station sends.
void ServeTitledTone(LoopbackServer &server, const std::string &path, const QByteArray &title,
                     const QByteArray &loop = ToneLoop(),
                     const std::string &contentType = "audio/mpeg") {
    server.get(path, [=](const httplib::Request &request, httplib::Response &response) {
        QVERIFY(request.get_header_value("Icy-MetaData") == "1");
        constexpr std::size_t kInterval = 8192;
        auto icy = std::make_shared<directory::IcyInterleaver>(kInterval, title.toStdString());
        response.set_header("icy-metaint", std::to_string(kInterval));
        response.set_content_provider(contentType, [icy, loop](size_t, httplib::DataSink &sink) {
            const std::string out = icy->wrap(loop.toStdString());
            return sink.write(out.data(), out.size());
        });
    });
}

QString Title() {
    return QStringLiteral("晚间新闻 – 北京");
}

QByteArray RandomBytes() {
    QByteArray bytes(64 * 1024, '\0');
    QRandomGenerator generator(7);
    for (char &byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

// The states a player passes through, polled on the event loop while a test waits.
class StateTrail {
public:
    explicit StateTrail(const platform::MediaPlayer &player) : player_(player) {
        timer_.callOnTimeout([this] { note(); });
        timer_.start(5);
        note();
    }
    // Everything seen so far, up to the state at this moment.
    const QList<int> &states() {
        note();
        return states_;
    }

private:
    void note() {
        const int state = player_.playState();
        if (states_.isEmpty() || states_.back() != state)
            states_.append(state);
    }

    const platform::MediaPlayer &player_;
    QTimer timer_;
    QList<int> states_;
};

// Runs a helper that checks with the QTest macros, and ends the test when it failed.
#define STEP(helper)                                                                               \
    do {                                                                                           \
        helper;                                                                                    \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

// The media player's log lines, turned on and caught while it lives (and
// still written where they would go).
class PlayerLog {
public:
    PlayerLog() {
        const std::lock_guard lock(mutex_);
        lines_.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("quorvel.player.info=true"));
        previous_ = qInstallMessageHandler(&PlayerLog::handle);
    }
    ~PlayerLog() {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules(QString());
    }
    PlayerLog(const PlayerLog &) = delete;
    PlayerLog &operator=(const PlayerLog &) = delete;

    QStringList lines() const {
        const std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (qstrcmp(context.category, platform::lcPlayer().categoryName()) == 0) {
            const std::lock_guard lock(mutex_);
            lines_.append(text);
        }
        if (previous_)
            previous_(type, context, text);
    }

    static inline std::mutex mutex_;
    static inline QStringList lines_;
    static inline QtMessageHandler previous_ = nullptr;
};

QString Expand(QString text, const LoopbackServer &server) {
    QString withCredentials = server.url(QString());
    withCredentials.replace(QStringLiteral("://"), QStringLiteral("://user:secret@"));
    return text.replace(QStringLiteral("{server}"), server.url(QString()))
        .replace(QStringLiteral("{credentials}"), withCredentials)
        .replace(QStringLiteral("{refused}"),
                 QStringLiteral("http://127.0.0.1:%1").arg(testsupport::UnusedPort()));
}

} // namespace

Q_DECLARE_METATYPE(HlsPlan)

class TestVlcMediaPlayer : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<LoopbackServer> server_;
    std::unique_ptr<testsupport::AudioTap> tap_;
    std::unique_ptr<platform::VlcMediaPlayer> player_;
    std::atomic<bool> releaseStalls_{false};

    bool hears(qint64 samples) const { return tap_->levels().nonSilent > samples; }

    // RMS of a second of audio, taken after the level has had time to settle.
    void measureSteadyRms(double &rms) {
        tap_->reset();
        QTRY_VERIFY_WITH_TIMEOUT(tap_->levels().samples > kSamplesPerSecond / 2, 5000);
        tap_->reset();
        QTRY_VERIFY_WITH_TIMEOUT(tap_->levels().samples > kSamplesPerSecond, 5000);
        rms = tap_->levels().rms;
    }

    // Connecting reads 9 until the stream really plays, with audio.
    void playAndHear(const QString &url) {
        player_->setURL(url);
        StateTrail trail(*player_);
        QCOMPARE(player_->playState(), PlayState::Transitioning);
        QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::Playing, kConnectMs);
        QCOMPARE(trail.states().front(), PlayState::Transitioning);
        QCOMPARE(trail.states().back(), PlayState::Playing);
        for (const int state : {PlayState::Stopped, PlayState::MediaEnded, PlayState::Ready})
            QVERIFY2(!trail.states().contains(state), qPrintable(QString::number(state)));
        QTRY_VERIFY_WITH_TIMEOUT(hears(kSamplesPerSecond / 2), 5000);
    }

    void playlistRows() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
    }

private slots:
    void init() {
        server_ = std::make_unique<LoopbackServer>();
        ServeTone(*server_, "/tone.mp3");
        tap_ = std::make_unique<testsupport::AudioTap>();
        player_ = std::make_unique<platform::VlcMediaPlayer>(QStringList{}, tap_->hook());
    }
    void cleanup() {
        releaseStalls_ = true;
        player_.reset();
        server_.reset();
        tap_.reset();
        releaseStalls_ = false;
    }

    void startsInUndefinedState() {
        QCOMPARE(player_->playState(), PlayState::Undefined);
        QCOMPARE(player_->volume(), 100);
    }

    // One connection reads the station and feeds the decoder.
    void playsStream() {
        STEP(playAndHear(server_->url("/tone.mp3")));
        QCOMPARE(server_->requestCount("/tone.mp3"), 1);
    }

    // Served as /list; {server} stands for the server, {refused} for a port nobody
    // listens on.
    void playsPlaylist_data() {
        playlistRows();
        QTest::newRow("xml asx")
            << QByteArray("<ASX version=\"3.0\"><Entry><Ref HREF=\"{server}/tone.mp3\""
                          "/></Entry></ASX>")
            << QByteArray("video/x-ms-asf");
        QTest::newRow("reference asx") << QByteArray("[Reference]\r\nRef1={server}/tone.mp3\r\n")
                                       << QByteArray("video/x-ms-asf");
        QTest::newRow("pls") << QByteArray(
                                    "[playlist]\nNumberOfEntries=1\nFile1={server}/tone.mp3\n")
                             << QByteArray("audio/x-scpls");
        QTest::newRow("m3u") << QByteArray("#EXTM3U\n#EXTINF:-1,Tone\n{server}/tone.mp3\n")
                             << QByteArray("audio/x-mpegurl");
        // Left to libVLC, which opens it as a playlist item with a sub-item.
        QTest::newRow("m3u sent as audio")
            << QByteArray("#EXTM3U\n{server}/tone.mp3\n") << QByteArray("audio/mpeg");
    }
    void playsPlaylist() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        server_->serve("/list", Expand(QString::fromUtf8(body), *server_).toUtf8(),
                       contentType.toStdString());
        playAndHear(server_->url("/list"));
    }

    void skipsDeadFirstEntry_data() {
        playlistRows();
        QTest::newRow("refused")
            << QByteArray("[playlist]\nFile1={refused}/a.mp3\nFile2={server}/tone.mp3\n")
            << QByteArray("audio/x-scpls");
        QTest::newRow("not found")
            << QByteArray("<asx><entry><ref href=\"{server}/missing.mp3\"/></entry>"
                          "<entry><ref href=\"{server}/tone.mp3\"/></entry></asx>")
            << QByteArray("video/x-ms-asf");
        QTest::newRow("no audio in it") << QByteArray("{server}/junk.mp3\n{server}/tone.mp3\n")
                                        << QByteArray("audio/x-mpegurl");
    }
    void skipsDeadFirstEntry() {
        server_->serve("/junk.mp3", RandomBytes(), "audio/mpeg");
        playsPlaylist();
    }

    // With the one log line each failed play writes: the reason it gives.
    void failsLikeUnreachableStream_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("reason");
        const QString noEntry = QStringLiteral("playlist without a playable entry");
        const QString noSound = QStringLiteral("decoder failure|not a stream");
        QTest::newRow("refused") << "{refused}/a.mp3"
                                 << "no response";
        QTest::newRow("not found") << "{server}/missing.mp3"
                                   << "HTTP status 404";
        QTest::newRow("credentials and query") << "{credentials}/missing.mp3?token=secret#secret"
                                               << "HTTP status 404";
        QTest::newRow("random bytes") << "{server}/junk.bin" << noSound;
        QTest::newRow("random bytes as text") << "{server}/junk.txt" << noSound;
        QTest::newRow("random bytes as audio") << "{server}/junk.mp3" << noSound;
        QTest::newRow("playlist of dead entries")
            << "{server}/dead.pls"
            << "HTTP status 404 \\(entry \"http://[^\"]+/missing\"\\)";
        QTest::newRow("playlist of local files") << "{server}/local.m3u" << noEntry;
        QTest::newRow("hls: sample-aes") << "{server}/sample-aes.m3u8" << noEntry;
        QTest::newRow("hls: key of 15 bytes") << "{server}/short-key.m3u8" << noEntry;
        // Never silent for long, never enough to decide what it is.
        QTest::newRow("a byte a second") << "{server}/drip.mp3"
                                         << "no sound within";
        for (const char *url :
             {"file:///etc/passwd", "v4l2:///dev/video0", "screen://", "", "garbage"})
            QTest::newRow(url) << QString::fromLatin1(url) << "not an http or https address";
    }
    void failsLikeUnreachableStream() {
        QFETCH(QString, url);
        QFETCH(QString, reason);
        const PlayerLog log;
        const QByteArray junk = RandomBytes();
        server_->serve("/junk.bin", junk, "application/octet-stream");
        server_->serve("/junk.txt", junk, "text/plain");
        server_->serve("/junk.mp3", junk, "audio/mpeg");
        server_->serve(
            "/dead.pls",
            Expand("[playlist]\nFile1={refused}/a\nFile2={server}/missing\n", *server_).toUtf8(),
            "audio/x-scpls");
        server_->serve("/local.m3u", "file:///etc/passwd\nv4l2://\n", "audio/x-mpegurl");
        // Segments that would play if their encryption were ignored.
        const QByteArray hls = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-KEY:METHOD=%1,URI=\"/k\"\n"
                               "#EXTINF:2,\n/tone.mp3\n#EXT-X-ENDLIST\n";
        server_->serve("/sample-aes.m3u8", QByteArray(hls).replace("%1", "SAMPLE-AES"),
                       "application/vnd.apple.mpegurl");
        server_->serve("/short-key.m3u8", QByteArray(hls).replace("%1", "AES-128"),
                       "application/vnd.apple.mpegurl");
        server_->serve("/k", QByteArray(15, 'k'), "application/octet-stream");
        server_->serveStream("/drip.mp3", "audio/mpeg", [] {
            std::this_thread::sleep_for(1s); // pacing the drip, not waiting for an event
            return QByteArray(1, '\xff');
        });
        player_->setURL(Expand(url, *server_));
        StateTrail trail(*player_);
        QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::Ready, kFailMs);
        QVERIFY(!trail.states().contains(PlayState::Playing));
        QCOMPARE(tap_->levels().nonSilent, 0);
        QTRY_COMPARE_WITH_TIMEOUT(log.lines().size(), 1, 1000);
        const QString line = log.lines().front();
        QVERIFY2(line.contains(QRegularExpression(reason)), qPrintable(line));
        QVERIFY2(!line.contains(QStringLiteral("secret")), qPrintable(line));
    }

    // HLS followed by the player itself, segment by segment; after the first
    // sound the play goes on (3), ends (8, then 1) or drops (9).
    void playsHls_data() {
        QTest::addColumn<HlsPlan>("plan");
        QTest::addColumn<int>("after");
        using Format = HlsPlan::Format;
        QTest::newRow("packed mp3, live") << HlsPlan{} << PlayState::Playing;
        QTest::newRow("mpeg-ts with aac, live")
            << HlsPlan{.format = Format::TsAac} << PlayState::Playing;
        QTest::newRow("aes-128, mpeg-ts")
            << HlsPlan{.format = Format::TsAac, .encrypted = true} << PlayState::Playing;
        QTest::newRow("aes-128, packed mp3, behind a master playlist")
            << HlsPlan{.encrypted = true, .master = true} << PlayState::Playing;
        QTest::newRow("sent as text/plain")
            << HlsPlan{.contentType = "text/plain"} << PlayState::Playing;
        QTest::newRow("endlist") << HlsPlan{.format = Format::TsAac, .segments = 3}
                                 << PlayState::MediaEnded;
        QTest::newRow("stops advancing") << HlsPlan{.advancesFor = 1} << PlayState::Transitioning;
    }
    void playsHls() {
        QFETCH(HlsPlan, plan);
        QFETCH(int, after);
        testsupport::ServeHls(*server_, "/hls", plan);
        STEP(playAndHear(server_->url("/hls/index.m3u8")));
        tap_->reset();
        switch (after) {
        case PlayState::Playing: // on past the segments there were at the start
            QTRY_VERIFY_WITH_TIMEOUT(hears(4 * kSamplesPerSecond), 15000);
            QCOMPARE(player_->playState(), PlayState::Playing);
            QVERIFY(server_->requestCount("/hls/key.bin") <= 1);
            break;
        case PlayState::MediaEnded:
            QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::MediaEnded, kConnectMs);
            QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::Stopped, kConnectMs);
            QCOMPARE(server_->requestCount("/hls/index.m3u8"), 1);
            break;
        default:
            QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), after, kConnectMs);
        }
    }

    void stopsAndPlaysAgain() {
        STEP(playAndHear(server_->url("/tone.mp3")));
        player_->stop();
        QCOMPARE(player_->playState(), PlayState::Stopped);
        QTRY_COMPARE_WITH_TIMEOUT(server_->streamsClosed(), server_->streamsStarted(), 5000);
        tap_->reset();
        player_->play();
        QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::Playing, kConnectMs);
        QTRY_VERIFY_WITH_TIMEOUT(hears(kSamplesPerSecond / 2), 5000);
    }

    // libVLC scales the decoded samples itself (cubically: 70 gives about 0.34).
    void appliesVolume() {
        player_->setVolume(70); // before any audio output exists
        STEP(playAndHear(server_->url("/tone.mp3")));
        double at70 = 0;
        double at100 = 0;
        STEP(measureSteadyRms(at70));
        player_->setVolume(100);
        STEP(measureSteadyRms(at100));
        QVERIFY2(at100 > 1000, qPrintable(QString::number(at100)));
        const double ratio = at70 / at100;
        QVERIFY2(ratio > 0.2 && ratio < 0.9, qPrintable(QString::number(ratio)));
        QCOMPARE(player_->volume(), 100);
    }

    void newUrlDropsOldStream() {
        LoopbackServer second;
        ServeTone(second, "/tone.mp3");
        STEP(playAndHear(server_->url("/tone.mp3")));
        tap_->reset();
        STEP(playAndHear(second.url("/tone.mp3")));
        QTRY_COMPARE_WITH_TIMEOUT(server_->streamsClosed(), server_->streamsStarted(), 5000);
    }

    void finiteStreamEndsAsMediaEnded() {
        tone::ToneSettings shortTone;
        shortTone.loopSeconds = 1.5;
        server_->serve("/short.mp3", QByteArray::fromStdString(tone::EncodeToneLoop(shortTone)),
                       "audio/mpeg");
        STEP(playAndHear(server_->url("/short.mp3")));
        QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::MediaEnded, kConnectMs);
    }

    void stallReadsAsBuffering() {
        ServeStallingTone(*server_, "/stalls.mp3", releaseStalls_);
        STEP(playAndHear(server_->url("/stalls.mp3")));
        QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::Buffering, kConnectMs);
    }

    // Nothing on the way to sound waits for the UI thread: the test's own
    // (UI) thread waits for the sound without running its event loop.
    void soundsWhileUiThreadIsBusy() {
        player_->setURL(server_->url("/tone.mp3"));
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!hears(kSamplesPerSecond / 2) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms); // blocking on purpose: no event is processed
        QVERIFY(hears(kSamplesPerSecond / 2));
    }

    // A live stream that drops is connected again, and sounds again.
    void reconnectsAfterDrop() {
        testsupport::ServeDroppingTone(*server_, "/drops.mp3", true);
        player_->setURL(server_->url("/drops.mp3"));
        StateTrail trail(*player_);
        QTRY_COMPARE_WITH_TIMEOUT(server_->requestCount("/drops.mp3"), 2, kConnectMs);
        tap_->reset();
        // More than the first connection left queued: the second one sounds.
        QTRY_VERIFY_WITH_TIMEOUT(hears(2 * kSamplesPerSecond), kConnectMs);
        QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::Playing, kConnectMs);
        QList<int> seen = trail.states();
        seen.removeAll(PlayState::Buffering); // the old connection's tail may run dry first
        // Connecting shows only if what was queued ran out before the new
        // connection brought more.
        const QList<int> covered{PlayState::Transitioning, PlayState::Playing};
        const QList<int> ranOut{PlayState::Transitioning, PlayState::Playing,
                                PlayState::Transitioning, PlayState::Playing};
        QVERIFY2(seen == covered || seen == ranOut, qPrintable(QDebug::toString(seen)));
    }

    // A live stream that drops while the decoder holds seconds of it (the
    // server's burst on connect): the sound goes on from the cushion while the
    // station is connected again, and the state never leaves playing.
    void dropPlaysOnFromCushion() {
        testsupport::ServeLiveTone(
            *server_, "/drops.mp3",
            [](int connection, std::chrono::microseconds sent) {
                return connection == 1 && sent > 5s ? Next::End : Next::Send;
            },
            440, 3000ms);
        player_->setURL(server_->url("/drops.mp3"));
        StateTrail trail(*player_);
        QTRY_COMPARE_WITH_TIMEOUT(server_->requestCount("/drops.mp3"), 2, kConnectMs);
        tap_->reset();
        QTRY_VERIFY_WITH_TIMEOUT(hears(kSamplesPerSecond), kConnectMs);
        const QList<int> expected{PlayState::Transitioning, PlayState::Playing};
        QCOMPARE(trail.states(), expected);
    }

    // A file whose body ends before its length went away: it is connected
    // again, not taken as ended, and fails once that comes to nothing.
    void cutFileIsADrop() {
        const std::string file = tone::EncodeToneLoop({.loopSeconds = 3});
        auto connections = std::make_shared<std::atomic<int>>(0);
        server_->get("/cut.mp3", [file, connections](const httplib::Request &,
                                                     httplib::Response &response) {
            if (++*connections > 1) {
                response.status = 503;
                return;
            }
            response.set_content_provider(
                file.size(), "audio/mpeg", [file](size_t offset, size_t, httplib::DataSink &sink) {
                    return offset == 0 && sink.write(file.data(), file.size() / 2);
                });
        });
        player_ = std::make_unique<platform::VlcMediaPlayer>(QStringList{}, tap_->hook(), 3000ms);
        player_->setURL(server_->url("/cut.mp3"));
        StateTrail trail(*player_);
        QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::Ready, 2 * kConnectMs);
        QList<int> seen = trail.states();
        seen.removeAll(PlayState::Buffering);
        const QList<int> expected{PlayState::Transitioning, PlayState::Playing,
                                  PlayState::Transitioning, PlayState::Ready};
        QCOMPARE(seen, expected);
        QVERIFY(*connections >= 2);
        // Each try again asks for the rest of the file, from where it was cut.
        const std::vector<testsupport::ReceivedRequest> received = server_->received();
        QCOMPARE(received.back().headers.find("Range")->second,
                 "bytes=" + std::to_string(file.size() / 2) + "-");
    }

    // A short clip without a length that the server closes by itself, with no
    // sign of a radio server: it ends, and is not played again.
    void shortClipEndsOnce() {
        const QByteArray clip =
            QByteArray::fromStdString(tone::EncodeToneLoop({.loopSeconds = 1.5}));
        auto sent = std::make_shared<std::atomic<bool>>(false);
        server_->serveStream("/clip.mp3", "audio/mpeg",
                             [clip, sent] { return sent->exchange(true) ? QByteArray() : clip; });
        player_->setURL(server_->url("/clip.mp3"));
        StateTrail trail(*player_);
        QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::Stopped, kConnectMs);
        QList<int> seen = trail.states();
        seen.removeAll(PlayState::Buffering);
        const QList<int> expected{PlayState::Transitioning, PlayState::Playing,
                                  PlayState::MediaEnded, PlayState::Stopped};
        QCOMPARE(seen, expected);
        QVERIFY(hears(kSamplesPerSecond / 2));
        QCOMPARE(server_->requestCount("/clip.mp3"), 1);
    }

    // A URL that fails at once, set again on every tick of the window's status
    // poll (its fallback), is opened again only after a growing wait.
    void repeatedFailureBacksOff() {
        server_->serve("/missing.mp3", "gone", "text/plain", 404);
        player_->setURL(server_->url("/missing.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(player_->playState(), PlayState::Ready, kFailMs);
        QElapsedTimer ticks;
        ticks.start();
        while (ticks.elapsed() < 3500) {
            if (player_->playState() == PlayState::Ready)
                player_->setURL(server_->url("/missing.mp3"));
            QTest::qWait(100); // the poll's pace, shortened
        }
        // Tries at 0, about 1 s and about 3 s, where one per tick would be 35.
        QVERIFY2(server_->requestCount("/missing.mp3") <= 3,
                 qPrintable(QString::number(server_->requestCount("/missing.mp3"))));
        QVERIFY(server_->requestCount("/missing.mp3") >= 2);
    }

    // Stopped while it waits to connect again: no connection follows.
    void stopEndsReconnecting() {
        testsupport::ServeDroppingTone(*server_, "/drops.mp3", false);
        STEP(playAndHear(server_->url("/drops.mp3")));
        // The first try again is refused at once; the next one waits a second.
        QTRY_COMPARE_WITH_TIMEOUT(server_->requestCount("/drops.mp3"), 2, kConnectMs);
        player_->stop();
        const int connections = server_->requestCount("/drops.mp3");
        QTest::qWait(4000); // longer than the first back-off steps: none may connect
        QCOMPARE(server_->requestCount("/drops.mp3"), connections);
        QCOMPARE(player_->playState(), PlayState::Stopped);
    }

    // The station's title, from the bytes it sends, whichever of the two
    // encodings Chinese stations use.
    void announcesTitle_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::newRow("utf-8") << Title().toUtf8();
        QTest::newRow("gbk") << QByteArray(QStringEncoder("GB18030")(Title()));
    }
    void announcesTitle() {
        QFETCH(QByteArray, raw);
        ServeTitledTone(*server_, "/titled.mp3", raw);
        QCOMPARE(player_->nowPlayingTitle(), QString());
        STEP(playAndHear(server_->url("/titled.mp3")));
        QTRY_COMPARE_WITH_TIMEOUT(player_->nowPlayingTitle(), Title(), 5000);
        player_->stop();
        QCOMPARE(player_->nowPlayingTitle(), QString());
    }

    // ADTS AAC plays like MP3, titles included, whatever type names it.
    void playsAacStream_data() {
        QTest::addColumn<QByteArray>("contentType");
        for (const char *type : {"audio/aacp", "audio/aac", "application/octet-stream"})
            QTest::newRow(type) << QByteArray(type);
    }
    void playsAacStream() {
        QFETCH(QByteArray, contentType);
        ServeTitledTone(*server_, "/aac", Title().toUtf8(), testsupport::AdtsToneLoop(),
                        contentType.toStdString());
        STEP(playAndHear(server_->url("/aac")));
        QTRY_COMPARE_WITH_TIMEOUT(player_->nowPlayingTitle(), Title(), 5000);
    }

    // {silent} is a server that accepts and never answers.
    void destroysWhileConnecting_data() {
        QTest::addColumn<QString>("url");
        QTest::newRow("resolving the station") << "{silent}/station.pls";
        QTest::newRow("opening the stream") << "{server}/silent.pls";
    }
    void destroysWhileConnecting() {
        QFETCH(QString, url);
        testsupport::RawTcpServer silent(testsupport::RawTcpServer::Mode::AcceptAndStaySilent);
        server_->serve("/silent.pls", "[playlist]\nFile1=" + silent.url("/a.mp3").toUtf8() + "\n",
                       "audio/x-scpls");
        player_->setURL(
            Expand(url, *server_).replace(QStringLiteral("{silent}"), silent.url(QString())));
        QTRY_COMPARE_WITH_TIMEOUT(silent.connectionsAccepted(), 1, 5000);
        QCOMPARE(player_->playState(), PlayState::Transitioning);
        player_.reset();
    }
};

QTEST_GUILESS_MAIN(TestVlcMediaPlayer)
#include "test_vlc_media_player.moc"
