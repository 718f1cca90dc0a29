// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text_decoding.h"

#include <QStringEncoder>
#include <QTest>

using platform::CharsetOfContentType;
using platform::DecodeTextAndCharset;
using platform::EncodeText;

namespace {

const QString kNiHao = QString::fromUtf8("你好");
const QByteArray kNiHaoGbk = QByteArray::fromHex("c4e3bac3");

} // namespace

class TestTextDecoding : public QObject {
    Q_OBJECT

private slots:
    void charsetOfContentType_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("charset");
        QTest::newRow("plain") << QByteArray("text/html; charset=gbk") << QByteArray("gbk");
        QTest::newRow("quoted, upper case")
            << QByteArray("text/html;charset=\"UTF-8\"") << QByteArray("utf-8");
        QTest::newRow("among other parameters")
            << QByteArray("text/html; q=1; Charset = GB2312 ") << QByteArray("gb2312");
        QTest::newRow("none") << QByteArray("text/html") << QByteArray();
        QTest::newRow("charset in the type is no parameter")
            << QByteArray("charset=gbk") << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void charsetOfContentType() {
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, charset);
        QCOMPARE(CharsetOfContentType(header), charset);
    }

    void decode_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("declared");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("charset");
        QTest::newRow("utf-8 declared")
            << kNiHao.toUtf8() << QByteArray("utf-8") << kNiHao << QByteArray("utf-8");
        QTest::newRow("gbk") << kNiHaoGbk << QByteArray("gbk") << kNiHao << QByteArray("gbk");
        QTest::newRow("quoted upper-case label")
            << kNiHaoGbk << QByteArray("\"GBK\"") << kNiHao << QByteArray("gbk");
        // 0x8140 exists only in GBK; servers send it under the GB2312 label.
        QTest::newRow("gb2312 label with a GBK character")
            << QByteArray::fromHex("8140") << QByteArray("gb2312") << QString::fromUtf8("丂")
            << QByteArray("gb2312");
        QTest::newRow("gb18030 four-byte sequence")
            << QByteArray::fromHex("9439fc36") << QByteArray("gb18030") << QString::fromUtf8("😀")
            << QByteArray("gb18030");
        QTest::newRow("big5") << QByteArray::fromHex("a741a66e") << QByteArray("big5") << kNiHao
                              << QByteArray("big5");
        QTest::newRow("unknown name, utf-8 bytes")
            << kNiHao.toUtf8() << QByteArray("x-no-such-charset") << kNiHao << QByteArray("utf-8");
        QTest::newRow("unknown name, gbk bytes")
            << kNiHaoGbk << QByteArray("x-no-such-charset") << kNiHao << QByteArray("gb18030");
        QTest::newRow("utf-8 bom")
            << "\xef\xbb\xbf" + kNiHao.toUtf8() << QByteArray() << kNiHao << QByteArray("utf-8");
        QTest::newRow("utf-16le bom") << QByteArray::fromHex("fffe604f7d59") << QByteArray()
                                      << kNiHao << QByteArray("utf-16le");
        QTest::newRow("utf-16be bom") << QByteArray::fromHex("feff4f60597d") << QByteArray()
                                      << kNiHao << QByteArray("utf-16be");
        QTest::newRow("undeclared valid utf-8")
            << kNiHao.toUtf8() << QByteArray() << kNiHao << QByteArray("utf-8");
        QTest::newRow("undeclared invalid utf-8 reads as gb18030")
            << kNiHaoGbk << QByteArray() << kNiHao << QByteArray("gb18030");
        // Undeclared: the detector reads the whole body.
        const QString page = QString::fromUtf8(
            "<p>中国之声 北京新闻广播 经济之声 音乐之声 中华之声 神州之声 华夏之声 香港之声</p>");
        QTest::newRow("undeclared utf-8 with one bad byte")
            << page.toUtf8() + "\xff" << QByteArray() << page + QChar::ReplacementCharacter
            << QByteArray("utf-8");
        QTest::newRow("undeclared gbk page") << QByteArray(QStringEncoder("gbk")(page))
                                             << QByteArray() << page << QByteArray("gb18030");
        QTest::newRow("empty") << QByteArray() << QByteArray() << QString() << QByteArray("utf-8");
    }
    void decode() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, declared);
        QFETCH(QString, text);
        QFETCH(QByteArray, charset);
        const platform::DecodedText decoded = DecodeTextAndCharset(bytes, declared);
        QCOMPARE(decoded.text, text);
        QCOMPARE(decoded.charset, charset);
    }

    void encode_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("gbk") << QString::fromUtf8("你好 a") << QByteArray("gbk")
                             << kNiHaoGbk + " a";
        QTest::newRow("euro sign in gbk")
            << QString::fromUtf8("€") << QByteArray("GBK") << QByteArray::fromHex("80");
        QTest::newRow("outside gbk becomes a reference")
            << QString::fromUtf8("你😀") << QByteArray("gb2312")
            << QByteArray::fromHex("c4e3") + "&#128512;";
        QTest::newRow("gb18030 holds everything")
            << QString::fromUtf8("😀") << QByteArray("gb18030") << QByteArray::fromHex("9439fc36");
        QTest::newRow("outside big5") << QString::fromUtf8("é你") << QByteArray("big5")
                                      << "&#233;" + QByteArray::fromHex("a741");
        QTest::newRow("no charset is utf-8") << kNiHao << QByteArray() << kNiHao.toUtf8();
        QTest::newRow("unknown charset is utf-8")
            << kNiHao << QByteArray("x-no-such-charset") << kNiHao.toUtf8();
        QTest::newRow("utf-16 page submits utf-8")
            << kNiHao << QByteArray("utf-16le") << kNiHao.toUtf8();
    }
    void encode() {
        QFETCH(QString, text);
        QFETCH(QByteArray, charset);
        QFETCH(QByteArray, bytes);
        QCOMPARE(EncodeText(text, charset), bytes);
    }
};

QTEST_GUILESS_MAIN(TestTextDecoding)
#include "test_text_decoding.moc"
