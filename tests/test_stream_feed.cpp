// SPDX-License-Identifier: GPL-3.0-or-later

// ICY metadata taken out of a station's bytes, whatever pieces they come in.

#include "directory_server/icy_metadata.h"
#include "platform/stream_feed.h"

#include <QTest>

namespace {

constexpr std::size_t kInterval = 100;

QByteArray Audio() {
    QByteArray audio;
    for (int i = 0; i < 1000; ++i)
        audio.append(static_cast<char>('a' + i % 26));
    return audio;
}

} // namespace

class TestStreamFeed : public QObject {
    Q_OBJECT

private slots:
    // The stream as a station sends it, read in pieces of every size from a
    // byte to the whole; the first block carries the title, later ones none.
    void stripsMetadata_data() {
        QTest::addColumn<int>("piece");
        for (const int piece : {1, 7, 100, 101, 4096})
            QTest::newRow(qPrintable(QString::number(piece))) << piece;
    }
    void stripsMetadata() {
        QFETCH(int, piece);
        const QByteArray title = QStringLiteral("晚间新闻").toUtf8();
        directory::IcyInterleaver interleaver(kInterval, title.toStdString());
        const std::string sent = interleaver.wrap(Audio().toStdString());
        platform::IcyReader reader(kInterval);
        QByteArray audio;
        QList<QByteArray> titles;
        for (std::size_t at = 0; at < sent.size(); at += static_cast<std::size_t>(piece)) {
            reader.read(sent.data() + at,
                        std::min(sent.size() - at, static_cast<std::size_t>(piece)), audio);
            if (std::optional<QByteArray> announced = reader.takeTitle())
                titles.append(*announced);
        }
        QCOMPARE(audio, Audio());
        QCOMPARE(titles, QList<QByteArray>{title});
    }

    void titleOfBlock_data() {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QString>("title");
        QTest::newRow("with url") << QByteArray("StreamTitle='A - B';StreamUrl='x';") << "A - B";
        QTest::newRow("apostrophe inside") << QByteArray("StreamTitle='It's';\0\0", 21) << "It's";
        QTest::newRow("unterminated") << QByteArray("StreamTitle='Half") << "Half";
        QTest::newRow("empty") << QByteArray("StreamTitle='';") << "";
        QTest::newRow("gbk") << QByteArray("StreamTitle='\xCD\xED\xBC\xE4';") << "晚间";
        // Control characters (C0, DEL, C1) and bidirectional marks, overrides
        // and isolates never reach the desktop.
        QTest::newRow("controls and bidi")
            << QStringLiteral("StreamTitle='A\u0001B\aC\u001b[31mD…\u202eG\r\nH\u007f\u0085I"
                              "\u200f\u2066J\u2069';")
                   .toUtf8()
            << "ABC[31mD…GHIJ";
    }
    void titleOfBlock() {
        QFETCH(QByteArray, block);
        QFETCH(QString, title);
        const std::optional<QByteArray> raw = platform::IcyStreamTitle(block);
        QVERIFY(raw);
        QCOMPARE(platform::DecodeIcyTitle(*raw), title);
    }

    void noTitleInBlock() { QVERIFY(!platform::IcyStreamTitle("StreamUrl='x';")); }
};

QTEST_GUILESS_MAIN(TestStreamFeed)
#include "test_stream_feed.moc"
