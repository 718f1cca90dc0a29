// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/tone/tone.h"
#include "platform/hls_playlist.h"
#include "platform/hls_stream.h"
#include "platform/stream_format.h"
#include "tests/support/hls_station.h"

#include <QRandomGenerator>
#include <QTest>

using platform::HlsPlaylist;

namespace {

const QString kBase = QStringLiteral("http://radio.test/live/index.m3u8");

// A playlist in a line per fact: the followed variant, or the target duration,
// the end, the start index and each segment (sequence, duration, address,
// discontinuity, key).
QString Describe(const HlsPlaylist &playlist) {
    switch (playlist.kind) {
    case HlsPlaylist::Kind::Invalid:
        return QStringLiteral("invalid");
    case HlsPlaylist::Kind::Master:
        return QStringLiteral("master ") + playlist.variantUrl;
    case HlsPlaylist::Kind::Media:
        break;
    }
    QStringList lines{QStringLiteral("media %1%2 from %3")
                          .arg(playlist.targetDuration)
                          .arg(playlist.ended ? QStringLiteral(" ended") : QString())
                          .arg(platform::HlsStartIndex(playlist))};
    for (const platform::HlsSegment &segment : playlist.segments) {
        QString key;
        if (segment.key.method == platform::HlsKey::Method::Aes128)
            key = QStringLiteral(" aes ") + segment.key.url +
                  (segment.key.iv ? QStringLiteral(" iv ") + segment.key.iv->toHex() : QString());
        else if (segment.key.method == platform::HlsKey::Method::Unsupported)
            key = QStringLiteral(" unsupported");
        lines.append(QStringLiteral("%1 %2 %3%4%5")
                         .arg(segment.sequence)
                         .arg(segment.duration)
                         .arg(segment.url.isEmpty() ? QStringLiteral("-") : segment.url)
                         .arg(segment.discontinuity ? QStringLiteral(" discontinuity") : QString())
                         .arg(key));
    }
    return lines.join(u'\n');
}

QByteArray RandomBytes(qsizetype size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator generator(2107);
    for (char &byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

} // namespace

class TestHlsPlaylist : public QObject {
    Q_OBJECT

private slots:
    void isHls_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("hls");
        const QByteArray media = "#EXT-X-TARGETDURATION:6\n#EXTINF:6,\na.ts\n";
        QTest::newRow("opening, any type")
            << QByteArray("audio/mpeg") << "#EXTM3U\n" + media << true;
        QTest::newRow("no opening, hls type")
            << QByteArray("application/vnd.apple.mpegurl; charset=utf-8") << media << true;
        QTest::newRow("no opening, other type") << QByteArray("text/plain") << media << false;
        QTest::newRow("plain m3u, hls type")
            << QByteArray("audio/mpegurl") << QByteArray("#EXTM3U\n#EXTINF:-1,A\nhttp://a.test/\n")
            << false;
        QTest::newRow("tag inside a title")
            << QByteArray("audio/x-mpegurl")
            << QByteArray("#EXTM3U\n#EXTINF:-1,#EXT-X-ENDLIST\nhttp://a.test/\n") << false;
    }
    void isHls() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(bool, hls);
        QCOMPARE(platform::IsHlsPlaylist(contentType, body), hls);
    }

    void parse_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("described");
        const QByteArray variants = "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=640000\nhd.m3u8\n"
                                    "#EXT-X-STREAM-INF:CODECS=\"mp4a.40.2,x\",BANDWIDTH=128000\n"
                                    "/aac128.m3u8\n"
                                    "#EXT-X-STREAM-INF:BANDWIDTH=320000\nfile:///etc/passwd\n"
                                    "#EXT-X-STREAM-INF:BANDWIDTH=64000\nlow.m3u8\n";
        QTest::newRow("master: best up to 320 kbit/s, http only")
            << variants << "master http://radio.test/aac128.m3u8";
        QTest::newRow("master: all above, the lowest")
            << QByteArray("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=900000\na.m3u8\n"
                          "#EXT-X-STREAM-INF:BANDWIDTH=500000\nb.m3u8\n")
            << "master http://radio.test/live/b.m3u8";
        QTest::newRow("master: the audio rendition, the default one")
            << variants + "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"x\",URI=\"x.m3u8\"\n"
                          "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"y, "
                          "z\",DEFAULT=YES,URI=\"y.m3u8\"\n"
            << "master http://radio.test/live/y.m3u8";
        QTest::newRow("media: sequence, discontinuity, keys, no local files")
            << QByteArray("#EXTM3U\r\n#EXT-X-TARGETDURATION:4\r\n#EXT-X-MEDIA-SEQUENCE:7\r\n"
                          "#EXTINF:4.5,title, with comma\r\n7.ts\r\n"
                          "#EXT-X-KEY:METHOD=AES-128,URI=\"https://k.test/k?id=1\","
                          "IV=0x000102030405060708090A0B0C0D0E0F\r\n"
                          "#EXT-X-DISCONTINUITY\r\n#EXTINF:4,\r\nfile:///dev/zero\r\n"
                          "#EXT-X-KEY:METHOD=AES-128,URI=\"../key\"\r\n#EXTINF:3.5,\r\n9.ts\r\n"
                          "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\r\n#EXTINF:4,\r\n10.ts\r\n"
                          "#EXT-X-KEY:METHOD=NONE\r\n#EXTINF:4,\r\n11.ts\r\n")
            << "media 4 from 1\n"
               "7 4.5 http://radio.test/live/7.ts\n"
               "8 4 - discontinuity aes https://k.test/k?id=1 iv 000102030405060708090a0b0c0d0e0f\n"
               "9 3.5 http://radio.test/live/9.ts aes http://radio.test/key\n"
               "10 4 http://radio.test/live/10.ts unsupported\n"
               "11 4 http://radio.test/live/11.ts";
        QTest::newRow("media: ended, played from its start; odd target duration bounded")
            << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:0\n#EXTINF:1,\na.mp3\n#EXT-X-ENDLIST\n")
            << "media 1 ended from 0\n0 1 http://radio.test/live/a.mp3";
        QTest::newRow("media: key with a bad IV")
            << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-KEY:METHOD=AES-128,URI=k,"
                          "IV=0x0102\n#EXTINF:2,\na.ts\n")
            << "media 2 from 0\n0 2 http://radio.test/live/a.ts unsupported";
        QTest::newRow("byte ranges") << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n"
                                                   "#EXT-X-BYTERANGE:100@0\na.aac\n")
                                     << "invalid";
        QTest::newRow("more than 1,000 segments")
            << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n" +
                   QByteArray("#EXTINF:2,\na.ts\n").repeated(1001)
            << "invalid";
        QTest::newRow("random bytes") << RandomBytes(4096) << "invalid";
    }
    void parse() {
        QFETCH(QByteArray, body);
        QFETCH(QString, described);
        QCOMPARE(Describe(platform::ParseHlsPlaylist(body, kBase)), described);
    }

    // Packed audio, encrypted, arriving in pieces that split blocks and tags:
    // the frames come out alone, with nothing lost.
    void segmentAudio_data() {
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<int>("piece");
        for (const int piece : {1, 7, 16, 100000}) {
            QTest::addRow("plain, pieces of %d", piece) << false << piece;
            QTest::addRow("aes-128, pieces of %d", piece) << true << piece;
        }
    }
    void segmentAudio() {
        QFETCH(bool, encrypted);
        QFETCH(int, piece);
        const tone::ToneStream stream({});
        const QByteArray frames = QByteArray::fromStdString(stream.frames(3, 20));
        QByteArray segment = QByteArray::fromStdString(tone::PackedAudioSegment(
            tone::PackedAudioSegment(frames.toStdString(), 90000), 180000));
        const QByteArray key = QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c");
        const QByteArray iv = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
        std::optional<platform::SegmentAudio::Key> decryption;
        if (encrypted) {
            segment = testsupport::EncryptAes128(segment, key, iv);
            decryption = platform::SegmentAudio::Key{key, iv};
        }
        platform::SegmentAudio reader(decryption);
        QByteArray audio;
        for (qsizetype at = 0; at < segment.size(); at += piece)
            reader.read(segment.constData() + at,
                        static_cast<std::size_t>(std::min<qsizetype>(piece, segment.size() - at)),
                        audio);
        QVERIFY(reader.finish(audio));
        QCOMPARE(audio.toHex(), frames.toHex());
        QCOMPARE(platform::DemuxerForBytes(audio), QByteArray("mpga"));
    }

    void brokenEncryption() {
        const QByteArray key(16, 'k');
        const QByteArray iv(16, 'i');
        platform::SegmentAudio cut(platform::SegmentAudio::Key{key, iv});
        const QByteArray encrypted = testsupport::EncryptAes128("some audio", key, iv);
        QByteArray audio;
        cut.read(encrypted.constData(), 15, audio);
        QVERIFY(!cut.finish(audio));
        platform::SegmentAudio wrongKey(platform::SegmentAudio::Key{QByteArray(16, 'x'), iv});
        wrongKey.read(encrypted.constData(), static_cast<std::size_t>(encrypted.size()), audio);
        QVERIFY(!wrongKey.finish(audio));
    }

    void demuxerForBytes_data() {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("demuxer");
        QTest::newRow("mpeg-ts") << testsupport::TsAacSegment(0, 2).left(2048) << QByteArray("ts");
        QTest::newRow("adts") << testsupport::AdtsToneLoop().left(2048) << QByteArray("aac");
        QTest::newRow("mp3") << QByteArray::fromStdString(tone::EncodeToneLoop({})).left(2048)
                             << QByteArray("mpga");
        QTest::newRow("random") << RandomBytes(2048) << QByteArray();
        QTest::newRow("one sync word, no frame after it")
            << QByteArray("\xFF\xF1\x50\x80\x02\x1F\xFC", 7) + QByteArray(29, 'a') << QByteArray();
    }
    void demuxerForBytes() {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, demuxer);
        QCOMPARE(platform::DemuxerForBytes(start), demuxer);
    }
};

QTEST_GUILESS_MAIN(TestHlsPlaylist)
#include "test_hls_playlist.moc"
