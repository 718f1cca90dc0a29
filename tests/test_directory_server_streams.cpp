// SPDX-License-Identifier: GPL-3.0-or-later

// The directory server's generated station streams, from the running program:
// MP3 paced like a live broadcast, ICY titles, a bounded number of listeners,
// listeners that vanish or stop reading, and the live HLS broadcast.

#include "directory_server/tone/tone.h"
#include "tests/support/directory_server_process.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <netinet/in.h>
#include <numeric>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using testsupport::DirectoryServerProcess;

namespace {

constexpr double kFrameSeconds = 1152.0 / 44100;
constexpr double kLeadSeconds = 2.0;
constexpr std::size_t kMaxListeners = 1000;
constexpr std::size_t kPerAddress = 16;

// A listener on a bare socket, for clients that misbehave: it sends a stream
// request and then reads only when told to. It connects from the loopback
// address source (127.0.0.1 when 0; any 127.x.y.z reaches the server).
class RawListener {
public:
    RawListener(int port, const std::string &path, int receiveBuffer = 0,
                std::uint32_t source = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        if (source != 0) {
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr = htonl(source);
            bind(fd_, reinterpret_cast<sockaddr *>(&from), sizeof from);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
            send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
        }
    }
    ~RawListener() { hangUp(); }

    // The status of the answer, 0 when none came.
    int status() {
        char head[13] = {};
        const ssize_t got = recv(fd_, head, 12, MSG_WAITALL);
        return got == 12 ? std::atoi(head + 9) : 0;
    }
    // Closes the connection with a reset, as a player that is killed does.
    void hangUp() {
        if (fd_ >= 0) {
            const linger reset{1, 0};
            setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

// What a listener received in its first seconds.
struct Reception {
    int status = 0;
    std::string contentType;
    std::string icyMetaint;
    std::string bytes;
    double seconds = 0; // from the answer to the last byte
};

// Listens to path for about the given time (returns sooner if the stream ends).
Reception Listen(const DirectoryServerProcess &server, const std::string &path, double seconds,
                 const httplib::Headers &headers = {}) {
    Reception reception;
    QElapsedTimer clock;
    server.client()->Get(
        path, headers,
        [&](const httplib::Response &response) {
            reception.status = response.status;
            reception.contentType = response.get_header_value("Content-Type");
            reception.icyMetaint = response.get_header_value("icy-metaint");
            clock.start();
            return true;
        },
        [&](const char *data, std::size_t length) {
            reception.bytes.append(data, length);
            reception.seconds = clock.elapsed() / 1000.0;
            return reception.seconds < seconds;
        });
    return reception;
}

double AudioSeconds(const std::string &bytes) {
    return tone::Mp3FrameLengths(bytes).size() * kFrameSeconds;
}

} // namespace

class TestDirectoryServerStreams : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A socket per listener, up to the server's limit of listeners.
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        QVERIFY2(server_.start(), server_.errors().constData());
    }

    void streamsArePacedMp3_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("range"); // a Range header to send, if any
        QTest::newRow("station") << "/stream/101.mp3"
                                 << "";
        QTest::newRow("another station") << "/stream/391.mp3"
                                         << "";
        QTest::newRow("fallback") << "/stream/fallback.mp3"
                                  << "";
        QTest::newRow("asked for a range") << "/stream/101.mp3"
                                           << "bytes=0-";
    }
    void streamsArePacedMp3() {
        QFETCH(QString, path);
        QFETCH(QString, range);
        const httplib::Headers headers =
            range.isEmpty() ? httplib::Headers{} : httplib::Headers{{"Range", range.toStdString()}};
        const Reception reception = Listen(server_, path.toStdString(), 3.0, headers);
        QCOMPARE(reception.status, 200); // the whole live stream, never a part
        QCOMPARE(reception.contentType, std::string("audio/mpeg"));
        // Whole frames from the first byte on; at most the last one still cut.
        const std::vector<int> frames = tone::Mp3FrameLengths(reception.bytes);
        qsizetype framed = 0;
        for (int length : frames) {
            framed += length;
        }
        QVERIFY(reception.bytes.size() - framed < 1000);
        // A lead to start playing at once, then real time: no endless burst.
        const double audio = AudioSeconds(reception.bytes);
        QVERIFY2(audio >= kLeadSeconds, qPrintable(QString::number(audio)));
        QVERIFY2(audio <= reception.seconds + kLeadSeconds + 1.0,
                 qPrintable(QString("%1 s of audio in %2 s").arg(audio).arg(reception.seconds)));
    }

    void icyTitle() {
        const Reception reception =
            Listen(server_, "/stream/121.mp3", 2.0, {{"Icy-MetaData", "1"}});
        QCOMPARE(reception.icyMetaint, std::string("8192"));
        QVERIFY(reception.bytes.size() > 8192 + 64);
        const std::string title = "StreamTitle='上海浦江流行音乐';";
        const auto units = static_cast<unsigned char>(reception.bytes[8192]);
        QCOMPARE(std::size_t(units), (title.size() + 15) / 16);
        QCOMPARE(reception.bytes.substr(8193, title.size()), title);
        // Without the request header the stream is plain audio.
        QVERIFY(Listen(server_, "/stream/121.mp3", 0.5).icyMetaint.empty());
    }

    // A rolling playlist of the newest six segments; each segment is MP3
    // frames behind an ID3 tag with its timestamp, and only listed segments
    // (or those just gone) are served.
    void hlsBroadcast() {
        const httplib::Result playlist = server_.client()->Get("/hls/live.m3u8");
        QVERIFY(playlist && playlist->status == 200);
        QCOMPARE(playlist->get_header_value("Content-Type"),
                 std::string("application/vnd.apple.mpegurl"));
        const QString text = QString::fromStdString(playlist->body);
        const QRegularExpressionMatch sequence =
            QRegularExpression(QStringLiteral("#EXT-X-MEDIA-SEQUENCE:(\\d+)\n")).match(text);
        QVERIFY2(text.startsWith("#EXTM3U\n") && text.contains("#EXT-X-TARGETDURATION:2\n") &&
                     sequence.hasMatch() && !text.contains("ENDLIST"),
                 qPrintable(text));
        const qint64 first = sequence.captured(1).toLongLong();
        QCOMPARE(text.count(QStringLiteral("#EXTINF:2.011,\n")), 6);
        QVERIFY(text.endsWith(QStringLiteral("\n%1.mp3\n").arg(first + 5)));
        for (const qint64 listed : {first, first + 5}) {
            const httplib::Result segment =
                server_.client()->Get("/hls/" + std::to_string(listed) + ".mp3");
            QVERIFY(segment && segment->status == 200);
            const std::string &bytes = segment->body;
            constexpr std::size_t kTag = 10 + 10 + 45 + 8;
            QCOMPARE(bytes.substr(0, 4), std::string("ID3\x04"));
            QCOMPARE(bytes.substr(20, 45),
                     std::string("com.apple.streaming.transportStreamTimestamp\0", 45));
            std::uint64_t timestamp = 0;
            for (std::size_t at = 65; at < kTag; ++at)
                timestamp = timestamp << 8 | static_cast<unsigned char>(bytes[at]);
            QCOMPARE(timestamp, static_cast<std::uint64_t>(listed * 77 * 1152 * 90000 / 44100));
            const std::vector<int> frames = tone::Mp3FrameLengths(bytes.substr(kTag));
            QCOMPARE(frames.size(), std::size_t(77));
            QCOMPARE(std::accumulate(frames.begin(), frames.end(), kTag), bytes.size());
        }
        for (const qint64 unlisted : {first + 7, qint64(999999999999)})
            QCOMPARE(server_.client()->Get("/hls/" + std::to_string(unlisted) + ".mp3")->status,
                     404);
    }

    // Listeners that vanish free their place at once; past the limit the
    // server answers 503 instead of starving page requests. One client
    // address holds at most 16 places, and that leaves the others theirs.
    void listenerLimitAndVanishingListeners() {
        constexpr std::uint32_t kFirstSource = 0x7F000102; // 127.0.1.2, 127.0.1.3 ...
        for (int round = 0; round < 2; ++round) {
            std::vector<std::unique_ptr<RawListener>> listeners;
            // Places come free as the previous round's listeners are noticed gone.
            QElapsedTimer waited;
            waited.start();
            while (listeners.size() < kMaxListeners && waited.elapsed() < 20000) {
                const std::uint32_t source = kFirstSource + listeners.size() / kPerAddress;
                auto listener =
                    std::make_unique<RawListener>(server_.port(), "/stream/101.mp3", 0, source);
                if (listener->status() == 200) {
                    listeners.push_back(std::move(listener));
                }
            }
            QCOMPARE(listeners.size(), std::size_t(kMaxListeners));
            QCOMPARE(RawListener(server_.port(), "/stream/102.mp3").status(), 503);
            QVERIFY(!server_.get("/radio/1.59.asp").empty());
            // A place given back goes to another address, never to a full one.
            listeners.back()->hangUp();
            bool fullAddressRefused = true;
            QVERIFY(QTest::qWaitFor(
                [&] {
                    if (RawListener(server_.port(), "/stream/102.mp3", 0, kFirstSource).status() ==
                        200) {
                        fullAddressRefused = false;
                    }
                    return RawListener(server_.port(), "/stream/102.mp3").status() == 200;
                },
                10000));
            QVERIFY(fullAddressRefused);
            for (auto &listener : listeners) {
                listener->hangUp();
            }
        }
    }

    void slowListenerDoesNotStallOthers() {
        // Listeners are admitted once the earlier tests' listeners are noticed gone.
        // This one never reads again.
        std::unique_ptr<RawListener> stalled;
        QVERIFY(QTest::qWaitFor(
            [&] {
                stalled = std::make_unique<RawListener>(server_.port(), "/stream/101.mp3", 2048);
                return stalled->status() == 200;
            },
            10000));
        Reception reception;
        QVERIFY(QTest::qWaitFor(
            [&] {
                reception = Listen(server_, "/stream/101.mp3", 3.0);
                return reception.status == 200;
            },
            10000));
        QVERIFY2(AudioSeconds(reception.bytes) >= kLeadSeconds + 1.0,
                 qPrintable(QString("%1 s of audio in %2 s")
                                .arg(AudioSeconds(reception.bytes))
                                .arg(reception.seconds)));
        for (int i = 0; i < 20; ++i) {
            QVERIFY(!server_.get("/radio/1.59.asp").empty());
        }
    }

private:
    DirectoryServerProcess server_;
};

QTEST_GUILESS_MAIN(TestDirectoryServerStreams)

#include "test_directory_server_streams.moc"
