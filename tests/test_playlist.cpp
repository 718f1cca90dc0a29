// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/tone/tone.h"
#include "platform/playlist.h"

#include <QMap>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTest>
#include <optional>

using platform::ContentKind;

namespace {

const QString kBase = QStringLiteral("http://radio.test/lists/station.pls");
const QString kA = QStringLiteral("http://a.test:8000/live");
const QString kB = QStringLiteral("http://b.test/stream.mp3?id=1&q=2");

// The entries of the playlists a test station leads to, by URL.
using Playlists = QMap<QString, QStringList>;

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

    // The first bytes of a body with the type and URL they came with.
    void playlistResponse_data() {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<bool>("playlist");
        const QByteArray mp3 = QByteArray::fromStdString(tone::EncodeToneLoop({})).left(512);
        const QString station = QStringLiteral("http://a.test/live");
        QTest::newRow("playlist type") << QByteArray("audio/x-scpls") << station
                                       << QByteArray("[playlist]\nFile1=http://a.test/x\n") << true;
        QTest::newRow("m3u sent as audio") << QByteArray("audio/mpeg") << station
                                           << QByteArray("#EXTM3U\nfile:///etc/passwd\n") << true;
        QTest::newRow("asx sent as audio")
            << QByteArray("audio/mpeg") << station << QByteArray("\xEF\xBB\xBF <ASX version=\"3\">")
            << true;
        QTest::newRow("bare entry sent as audio")
            << QByteArray("audio/mpeg") << station << QByteArray("http://b.test/x.mp3\r\n") << true;
        QTest::newRow("web page") << QByteArray("text/html") << station
                                  << QByteArray("<h1>It works!</h1>") << true;
        QTest::newRow("generic type, playlist name")
            << QByteArray("application/octet-stream") << QStringLiteral("http://a.test/x.pls")
            << QByteArray("File1=http://a.test/x\n") << true;
        QTest::newRow("audio") << QByteArray("audio/mpeg") << station << mp3 << false;
        QTest::newRow("audio under a playlist type")
            << QByteArray("audio/x-mpegurl") << QStringLiteral("http://a.test/radio.m3u") << mp3
            << false;
        QTest::newRow("text of no playlist, generic type")
            << QByteArray("application/octet-stream") << station << QByteArray("ICY") << false;
    }
    void playlistResponse() {
        QFETCH(QByteArray, type);
        QFETCH(QString, url);
        QFETCH(QByteArray, start);
        QFETCH(bool, playlist);
        QCOMPARE(platform::IsPlaylistResponse(type, url, start), playlist);
    }

    // The order a station's entries are tried in, given which of them are
    // playlists and what they hold (any other entry is a stream that fails).
    void stationEntries_data() {
        QTest::addColumn<Playlists>("playlists");
        QTest::addColumn<QStringList>("tried");
        const QString p = QStringLiteral("http://h.test/p.m3u");
        QTest::newRow("entries in place, mms skipped")
            << Playlists{{p, {"mms://h.test/x", kA, kB}}, {kA, {"http://h.test/c"}}}
            << QStringList{p, kA, "http://h.test/c", kB};
        QTest::newRow("playlist naming itself ends")
            << Playlists{{p, {p}}} << QStringList{p, p, p, p};
        Playlists wide{{p, {}}};
        QStringList tried{p};
        for (int i = 1; i <= 10; ++i) {
            const QString list = QStringLiteral("http://h.test/%1.pls").arg(i);
            const QString stream = QStringLiteral("http://h.test/%1.mp3").arg(i);
            wide[p].append(list);
            wide[list] = {stream};
            tried << list;
            if (i < platform::kMaxPlaylistFetches)
                tried << stream; // later playlists are fetched but no longer read
        }
        QTest::newRow("fetch limit") << wide << tried;
    }
    void stationEntries() {
        QFETCH(Playlists, playlists);
        QFETCH(QStringList, tried);
        platform::StationEntries station(tried.front());
        QStringList given;
        while (const std::optional<QString> entry = station.next()) {
            given.append(*entry);
            if (playlists.contains(*entry))
                station.readPlaylist(playlists[*entry], platform::AddressSpace::Public);
        }
        QCOMPARE(given, tried);
    }
};

QTEST_GUILESS_MAIN(TestPlaylist)
#include "test_playlist.moc"
