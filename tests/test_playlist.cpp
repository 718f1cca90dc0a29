#include "directory_server/tone/tone.h"
#include "platform/playlist.h"
#include "tests/support/loopback_server.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTest>
#include <atomic>
#include <thread>

using platform::ContentKind;

namespace {

const QString kBase = QStringLiteral("http://radio.test/lists/station.pls");
const QString kA = QStringLiteral("http://a.test:8000/live");
const QString kB = QStringLiteral("http://b.test/stream.mp3?id=1&q=2");

QByteArray RandomBytes(qsizetype size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(20240611);
    for (char &byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

QByteArray Utf16WithBom(const QString &text) {
    QStringEncoder encoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    return encoder(text);
}

} // namespace

class TestPlaylist : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("entries");
        const QStringList ab = {kA, kB};
        QTest::newRow("asx") << QByteArray("<asx version=\"3.0\"><entry><ref href=\"http://a.test:"
                                           "8000/live\"/></entry><entry><ref href=\"http://b.test/"
                                           "stream.mp3?id=1&amp;q=2\"/></entry></asx>")
                             << ab;
        QTest::newRow("asx: odd case, bare &, BOM, CR LF, unclosed")
            << QByteArray("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<ASX>\r\n"
                          "<Entry><Title>x</Title><REF HREF=\"http://a.test:8000/live\" />\r\n"
                          "<Entry><Ref Href = 'http://b.test/stream.mp3?id=1&q=2'>")
            << ab;
        QTest::newRow("asx: entryref, relative, local and device refs dropped")
            << QByteArray("<asx><entry><ref href=\"file:///etc/passwd\"/><ref href=\"v4l2://\"/>"
                          "<ref href=\"screen://\"/><ref href=\"/lists/b.asx\"/></entry>"
                          "<entryref href=\"mms://c.test/x\"/></asx>")
            << QStringList{"http://radio.test/lists/b.asx", "mms://c.test/x"};
        QTest::newRow("reference asx")
            << QByteArray("[Reference]\r\nRef1=http://a.test:8000/live\r\nRef2=http://b.test/"
                          "stream.mp3?id=1&q=2\r\n")
            << ab;
        QTest::newRow("pls: numbered out of order, odd case")
            << QByteArray("\n[playlist]\nnumberofentries=2\nFILE2=http://b.test/stream.mp3?id=1&q=2"
                          "\nTitle1=A\nfile1 = http://a.test:8000/live\nVersion=2\n")
            << ab;
        QTest::newRow("m3u: extended, relative, repeats, local paths dropped")
            << QByteArray("#EXTM3U\r\n#EXTINF:-1,A\r\nhttp://a.test:8000/live\r\n\r\n"
                          "C:\\Music\\x.mp3\r\nfile:///tmp/x.mp3\r\nhttp://a.test:8000/live\r\n"
                          "../b.mp3\r\n")
            << QStringList{kA, "http://radio.test/b.mp3"};
        QTest::newRow("m3u in UTF-16") << Utf16WithBom(kA + "\n" + kB + "\n") << ab;
        QTest::newRow("prose and markup are no entries")
            << QByteArray("Sorry, this station is off the air.\n<p>Try later</p>\n")
            << QStringList{};
        QTest::newRow("html page") << QByteArray("<html><body><a href=\"http://a.test/\">x</a>"
                                                 "</body></html>")
                                   << QStringList{};
        QTest::newRow("random bytes") << RandomBytes(64 * 1024) << QStringList{};
        QTest::newRow("empty") << QByteArray() << QStringList{};
        QTest::newRow("huge") << QByteArray("#EXTM3U\n") +
                                     QByteArray(kA.toUtf8() + "\n").repeated(200000)
                              << QStringList{};
        QTest::newRow("deeply nested xml")
            << QByteArray("<asx>") + QByteArray("<entry>").repeated(100000) << QStringList{};
        QTest::newRow("doctype without entities")
            << QByteArray("<!DOCTYPE asx SYSTEM \"http://a.test/asx.dtd\"><asx><entry><ref "
                          "href=\"http://a.test:8000/live\"/></entry></asx>")
            << QStringList{kA};
        QTest::newRow("declares entities")
            << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE asx [<!ENTITY a \"aaaaaaaaaa\">"
                          "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;"
                          "&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
                          "<asx><entry><ref href=\"http://a.test/&d;&d;&d;&d;\"/></entry></asx>")
            << QStringList{};
    }
    void parse() {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, entries);
        QCOMPARE(platform::ParsePlaylist(body, kBase), entries);
    }

    void networkStreamUrl_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("network");
        for (const char *url :
             {"http://a.test/x", "HTTPS://a.test", "mms://a.test/x", "MmsH://a.test",
              "mmst://a.test", "rtsp://a.test:554/s", "rtmp://a.test/app", " http://a.test/x "})
            QTest::newRow(url) << QString::fromLatin1(url) << true;
        for (const char *url :
             {"file:///etc/passwd", "v4l2://", "screen://", "dvb://", "", "garbage",
              "/relative/x.mp3", "http:/no-host", "ftp://a.test/x", "javascript:alert(1)"})
            QTest::newRow(url) << QString::fromLatin1(url) << false;
    }
    void networkStreamUrl() {
        QFETCH(QString, url);
        QFETCH(bool, network);
        QCOMPARE(platform::IsNetworkStreamUrl(url), network);
    }

    void contentKind_data() {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<ContentKind>("kind");
        QTest::newRow("mp3") << QByteArray("audio/mpeg") << ContentKind::Stream;
        QTest::newRow("aac, parameters") << QByteArray("Audio/AACP; x=1") << ContentKind::Stream;
        QTest::newRow("ogg") << QByteArray("application/ogg") << ContentKind::Stream;
        QTest::newRow("m3u") << QByteArray("audio/x-mpegurl") << ContentKind::Playlist;
        QTest::newRow("pls") << QByteArray("audio/x-scpls") << ContentKind::Playlist;
        QTest::newRow("asx") << QByteArray("video/x-ms-asf") << ContentKind::Playlist;
        QTest::newRow("hls") << QByteArray("application/vnd.apple.mpegurl")
                             << ContentKind::Playlist;
        QTest::newRow("text") << QByteArray("text/plain; charset=gbk") << ContentKind::Playlist;
        QTest::newRow("binary") << QByteArray("application/octet-stream") << ContentKind::Unknown;
        QTest::newRow("none") << QByteArray() << ContentKind::Unknown;
    }
    void contentKind() {
        QFETCH(QByteArray, type);
        QFETCH(ContentKind, kind);
        QCOMPARE(platform::KindOfContent(type), kind);
    }

    // Paths on a loopback server; "@" in a body stands for the server's URL.
    void resolve_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("a stream is its own entry") << "/tone.mp3" << QStringList{"@/tone.mp3"};
        QTest::newRow("playlist") << "/list.asx" << QStringList{"@/tone.mp3", "mms://c.test/x"};
        QTest::newRow("nested playlists")
            << "/outer.pls" << QStringList{"@/tone.mp3", "mms://c.test/x", "@/b.mp3"};
        QTest::newRow("playlist naming itself") << "/self.m3u" << QStringList{"@/tone.mp3"};
        QTest::newRow("live streaming playlist") << "/live.m3u8" << QStringList{"@/live.m3u8"};
        QTest::newRow("unknown type") << "/listen" << QStringList{"@/listen"};
        QTest::newRow("stream under a playlist name") << "/radio.m3u" << QStringList{"@/radio.m3u"};
        QTest::newRow("not found") << "/missing.pls" << QStringList{};
        QTest::newRow("text without entries") << "/junk.txt" << QStringList{};
    }
    void resolve() {
        QFETCH(QString, path);
        QFETCH(QStringList, entries);
        testsupport::LoopbackServer server;
        const QByteArray tone = tone::EncodeToneLoop({});
        server.ServeStream("/tone.mp3", "audio/mpeg", [tone] { return tone; });
        server.ServeStream("/radio.m3u", "application/octet-stream", [tone] { return tone; });
        server.Serve("/listen", "ICY", "application/octet-stream");
        server.Serve("/list.asx",
                     "<asx><entry><ref href=\"/tone.mp3\"/><ref href=\"mms://c.test/x\""
                     "/></entry></asx>",
                     "video/x-ms-asf");
        server.Serve("/outer.pls",
                     "[playlist]\nFile1=/list.asx\nFile2=/b.mp3\nFile3=/missing.pls\n",
                     "audio/x-scpls");
        server.Serve("/self.m3u", "/self.m3u\n/tone.mp3\n", "application/octet-stream");
        server.Serve("/live.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:10\nseg1.ts\n",
                     "application/vnd.apple.mpegurl");
        server.Serve("/junk.txt", "<h1>It works!</h1>", "text/html");
        QStringList expected;
        for (const QString &entry : entries)
            expected.append(QString(entry).replace(u'@', server.url(QString())));
        QCOMPARE(platform::ResolveStream(server.url(path)), expected);
    }

    void resolveFailsWhenNothingAnswers() {
        QVERIFY(platform::ResolveStream(
                    QStringLiteral("http://127.0.0.1:%1/x.pls").arg(testsupport::UnusedPort()))
                    .isEmpty());
    }

    void resolveStopsWhenCancelled() {
        testsupport::LoopbackServer server;
        server.ServeNever("/slow.pls");
        std::atomic<bool> cancel{false};
        std::atomic<bool> done{false};
        QStringList entries{QStringLiteral("not yet")};
        std::thread resolver([&] {
            entries = platform::ResolveStream(server.url("/slow.pls"), &cancel);
            done = true;
        });
        const auto finish = qScopeGuard([&] {
            cancel = true;
            resolver.join();
        });
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/slow.pls"), 1, 5000);
        cancel = true;
        QTRY_VERIFY_WITH_TIMEOUT(done, 3000);
        QVERIFY(entries.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPlaylist)
#include "test_playlist.moc"
