// SPDX-License-Identifier: GPL-3.0-or-later

// Playback through the real platform: directory page, play reports and
// streams on loopback servers, and the decoded audio heard through a tap.

#include "directory_server/tone/tone.h"
#include "main_window/picture.h"
#include "tests/support/audio_tap.h"
#include "tests/support/live_tone.h"
#include "tests/support/loopback_platform.h"
#include "tests/support/loopback_server.h"
#include "tests/support/main_window.h"
#include "tests/support/station_line.h"
#include "tests/support/table_cells.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QtEndian>
#include <cmath>
#include <sys/inotify.h>
#include <unistd.h>

using testsupport::Cell;
using testsupport::LoopbackPlatform;
using testsupport::LoopbackServer;
using testsupport::RowCount;
using testsupport::StationLine;

namespace {

constexpr int kHearMs = 15000;
constexpr qint64 kHalfSecond = 44100;

void ServeTone(LoopbackServer &server, const std::string &path, double frequencyHz) {
    const QByteArray loop = QByteArray::fromStdString(tone::EncodeToneLoop({frequencyHz}));
    server.serveStream(path, "audio/mpeg", [loop] { return loop; });
}

// A WAV file of a 440 Hz tone, mono 16-bit at 44.1 kHz.
QByteArray ToneWav(double seconds) {
    constexpr int kRate = 44100;
    const int samples = static_cast<int>(seconds * kRate);
    QByteArray data(samples * 2, '\0');
    for (int i = 0; i < samples; ++i)
        qToLittleEndian(static_cast<qint16>(12000 * std::sin(2 * M_PI * 440 * i / kRate)),
                        data.data() + 2 * i);
    QByteArray wav("RIFF");
    const auto add32 = [&wav](quint32 value) {
        wav.append(4, '\0');
        qToLittleEndian(value, wav.data() + wav.size() - 4);
    };
    const auto add16 = [&wav](quint16 value) {
        wav.append(2, '\0');
        qToLittleEndian(value, wav.data() + wav.size() - 2);
    };
    add32(static_cast<quint32>(36 + data.size()));
    wav.append("WAVEfmt ");
    add32(16);
    add16(1); // PCM
    add16(1); // mono
    add32(kRate);
    add32(kRate * 2);
    add16(2);
    add16(16);
    wav.append("data");
    add32(static_cast<quint32>(data.size()));
    return wav + data;
}

// Counts the times a file is opened, through inotify.
class OpenWatch {
public:
    explicit OpenWatch(const QString &path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN | IN_ACCESS);
    }
    ~OpenWatch() { ::close(fd_); }
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;

    int events() const {
        alignas(inotify_event) char buffer[4096];
        int count = 0;
        ssize_t length = 0;
        while ((length = ::read(fd_, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                ++count;
            }
        }
        return count;
    }

private:
    int fd_;
};

} // namespace

class TestPlaybackReal : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void doubleClickPlaysAndReports();
    void deadStreamFallsBack();
    void deadReportServerKeepsPlaying();
    void stopButtonStops();
    void droppedStationThatNeverReturnsFallsBack();
    void finiteStationEndsStopped();
    void localFileNeverOpened_data();
    void localFileNeverOpened();

private:
    // The main window on the real platform, with the directory of `directory` loaded.
    void start(LoopbackServer &directory);
    // The same, and station 14 (whose stream each test serves as /fourteen) started.
    void startStation14();
    void doubleClick(const QString &id);
    bool hears() const { return tap_.levels().nonSilent > kHalfSecond; }
    QString statusLine() const { return window_->control<Picture>("Label2")->text(); }
    QString caption() const { return window_->form.windowTitle(); }

    std::unique_ptr<LoopbackServer> server_; // directory, reports, fallback
    std::unique_ptr<LoopbackServer> streams_;
    testsupport::AudioTap tap_;
    std::unique_ptr<LoopbackPlatform> platform_;
    std::unique_ptr<testsupport::MainWindow> window_;
    QTemporaryDir cacheFolder_;
};

void TestPlaybackReal::init() {
    streams_ = std::make_unique<LoopbackServer>();
    ServeTone(*streams_, "/a.mp3", 440);
    ServeTone(*streams_, "/fallback.mp3", 660);
    server_ = std::make_unique<LoopbackServer>();
    const QString dead =
        QStringLiteral("http://127.0.0.1:%1/dead.mp3").arg(testsupport::UnusedPort());
    server_->serve("/radio/1.59.asp",
                   ("<html><body>(zebok)<br>" +
                    StationLine("12", QStringLiteral("音乐台"), streams_->url("/a.mp3")) + "<br>" +
                    StationLine("13", QStringLiteral("无声台"), dead) + "<br>" +
                    StationLine("14", QStringLiteral("新台"), streams_->url("/fourteen")) + "<br>" +
                    "</body></html>")
                       .toUtf8());
    server_->serve("/radio/hot.asp", "ok", "text/plain");
    server_->serve("/fallback.asx",
                   ("<asx version=\"3.0\"><entry><ref href=\"" + streams_->url("/fallback.mp3") +
                    "\"/></entry></asx>")
                       .toUtf8(),
                   "video/x-ms-asf");
    tap_.reset();
}

void TestPlaybackReal::cleanup() {
    window_.reset();
    platform_.reset();
    server_.reset();
    streams_.reset();
}

void TestPlaybackReal::start(LoopbackServer &directory) {
    platform_ =
        std::make_unique<LoopbackPlatform>(LoopbackPlatform::onServer(directory.url("")), &tap_);
    window_ = std::make_unique<testsupport::MainWindow>(*platform_);
    window_->directory.setCacheFolders({cacheFolder_.path()});
    window_->control<QTimer>("Timer3")->stop(); // announcements are not looked at here
    window_->form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window_->form));
    QTRY_VERIFY_WITH_TIMEOUT(window_->directory.serverReady(), 10000);
    QMetaObject::invokeMethod(window_->control<Picture>("Image10"), "clicked");
    QCOMPARE(RowCount(window_->control<QTreeView>("ListView1")), 3);
}

void TestPlaybackReal::startStation14() {
    start(*server_);
    doubleClick("14");
}

void TestPlaybackReal::doubleClick(const QString &id) {
    auto *table = window_->control<QTreeView>("ListView1");
    const QModelIndexList rows =
        table->model()->match(Cell(table, 0), Qt::DisplayRole, id, -1, Qt::MatchExactly);
    QCOMPARE(rows.size(), 1);
    const QRect place = table->visualRect(rows.first());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, place.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, place.center());
}

void TestPlaybackReal::doubleClickPlaysAndReports() {
    start(*server_);
    doubleClick("12");
    QTRY_COMPARE_WITH_TIMEOUT(server_->requestCount("/radio/hot.asp"), 1, 5000);
    QCOMPARE(server_->received().back().target, std::string("/radio/hot.asp?id=12"));
    QTRY_VERIFY_WITH_TIMEOUT(hears(), kHearMs);
    QTRY_COMPARE_WITH_TIMEOUT(statusLine(), QStringLiteral("状态：播放中"), 5000);
    QCOMPARE(caption(), QStringLiteral("Quorvel收音机：音乐台  ID ：12"));
    QCOMPARE(server_->requestCount("/fallback.asx"), 0);
    QVERIFY(streams_->requestCount("/a.mp3") > 0); // what is heard is that station
    QCOMPARE(streams_->requestCount("/fallback.mp3"), 0);
}

void TestPlaybackReal::deadStreamFallsBack() {
    start(*server_);
    doubleClick("13");
    QTRY_VERIFY_WITH_TIMEOUT(server_->requestCount("/fallback.asx") > 0, kHearMs);
    QTRY_VERIFY_WITH_TIMEOUT(hears(), kHearMs);
    QVERIFY(streams_->requestCount("/fallback.mp3") > 0);
    QCOMPARE(streams_->requestCount("/a.mp3"), 0);
    QCOMPARE(caption(), QStringLiteral("Quorvel收音机：无声台  ID ：13"));
    QCOMPARE(window_->control<Picture>("Label4")->text(), caption());
    QCOMPARE(server_->requestCount("/radio/hot.asp"), 1);
}

void TestPlaybackReal::deadReportServerKeepsPlaying() {
    start(*server_);
    server_.reset(); // reports now meet a closed port
    window_->session.PlayAndReport(QStringLiteral("12"));
    QTRY_VERIFY_WITH_TIMEOUT(hears(), kHearMs);
    QVERIFY(platform_->boxes.shown.isEmpty());
}

void TestPlaybackReal::stopButtonStops() {
    start(*server_);
    doubleClick("12");
    QTRY_VERIFY_WITH_TIMEOUT(hears(), kHearMs);
    QMetaObject::invokeMethod(window_->control<Picture>("Image9"), "clicked");
    // One poll interval (800 ms), with room for a loaded machine.
    QTRY_COMPARE_WITH_TIMEOUT(statusLine(), QStringLiteral("状态：停止"), 2000);
    tap_.reset();
    QTest::qWait(2000); // several polls: none may start the fallback
    QCOMPARE(server_->requestCount("/fallback.asx"), 0);
    QCOMPARE(tap_.levels().nonSilent, 0);
    QCOMPARE(statusLine(), QStringLiteral("状态：停止"));
}

// A live station drops and does not come back: the line reads connecting, then
// the player gives up and the session's fallback plays.
void TestPlaybackReal::droppedStationThatNeverReturnsFallsBack() {
    testsupport::ServeDroppingTone(*streams_, "/fourteen", false);
    startStation14();
    QTRY_VERIFY_WITH_TIMEOUT(hears(), kHearMs);
    QTRY_COMPARE_WITH_TIMEOUT(statusLine(), QStringLiteral("状态：播放中"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(statusLine(), QStringLiteral("状态：正在连接"), kHearMs);
    QVERIFY(streams_->requestCount("/fourteen") >= 1);
    QTRY_VERIFY_WITH_TIMEOUT(server_->requestCount("/fallback.asx") > 0, kHearMs);
    tap_.reset();
    QTRY_VERIFY_WITH_TIMEOUT(hears(), kHearMs);
    QVERIFY(streams_->requestCount("/fallback.mp3") > 0);
    QTRY_COMPARE_WITH_TIMEOUT(statusLine(), QStringLiteral("状态：播放中"), 5000);
}

// A recording that ends: "ended", then the line reads stopped, and no fallback.
void TestPlaybackReal::finiteStationEndsStopped() {
    streams_->serve("/fourteen", ToneWav(1.5), "audio/wav");
    startStation14();
    QTRY_VERIFY_WITH_TIMEOUT(hears(), kHearMs);
    QTRY_COMPARE_WITH_TIMEOUT(window_->session.playState(), platform::PlayState::MediaEnded,
                              kHearMs);
    QTRY_COMPARE_WITH_TIMEOUT(window_->session.playState(), platform::PlayState::Stopped, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(statusLine(), QStringLiteral("状态：停止"), 2000);
    QCOMPARE(server_->requestCount("/fallback.asx"), 0);
    QCOMPARE(streams_->requestCount("/fourteen"), 1);
}

// A station that points at a file of this machine, by a redirect or by a
// playlist dressed as audio: the file is never opened, the station fails and
// the fallback plays.
void TestPlaybackReal::localFileNeverOpened_data() {
    QTest::addColumn<bool>("redirect");
    QTest::newRow("redirect to a file") << true;
    QTest::newRow("playlist sent as audio") << false;
}

void TestPlaybackReal::localFileNeverOpened() {
    QFETCH(bool, redirect);
    const QString secret = cacheFolder_.filePath(QStringLiteral("secret.mp3"));
    QFile file(secret);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(tone::EncodeToneLoop({})));
    file.close();
    const std::string fileUrl = QUrl::fromLocalFile(secret).toString().toStdString();
    if (redirect) {
        streams_->get("/fourteen",
                      [fileUrl](const httplib::Request &, httplib::Response &response) {
                          response.set_redirect(fileUrl);
                      });
    } else {
        streams_->serve("/fourteen", QByteArray("#EXTM3U\n") + fileUrl.c_str() + "\n",
                        "audio/mpeg");
    }
    const OpenWatch watch(secret);
    startStation14();
    QTRY_VERIFY_WITH_TIMEOUT(server_->requestCount("/fallback.asx") > 0, kHearMs);
    QTRY_VERIFY_WITH_TIMEOUT(hears(), kHearMs);
    QVERIFY(streams_->requestCount("/fallback.mp3") > 0);
    QCOMPARE(watch.events(), 0);
}

QTEST_MAIN(TestPlaybackReal)
#include "test_playback_real.moc"
