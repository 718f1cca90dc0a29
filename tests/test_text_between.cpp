// SPDX-License-Identifier: GPL-3.0-or-later
#include "station_data/text_between.h"

#include <QTest>

class TestTextBetween : public QObject {
    Q_OBJECT
private slots:
    void extracts_data();
    void extracts();
};

void TestTextBetween::extracts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("expected");

    const QString station = QStringLiteral("(id)12(/id)(title)Abc(/title)");
    const QString swapped = QStringLiteral("(title)Abc(/title)(id)12(/id)");
    QTest::newRow("id of a line") << station << "id"
                                  << "12";
    QTest::newRow("title of a line") << station << "title"
                                     << "Abc";
    QTest::newRow("id, other order") << swapped << "id"
                                     << "12";
    QTest::newRow("title, other order") << swapped << "title"
                                        << "Abc";
    QTest::newRow("empty value") << "(id)(/id)"
                                 << "id"
                                 << "";
    QTest::newRow("no closing marker") << "(id)12"
                                       << "id"
                                       << "";
    QTest::newRow("no markers at all") << "just text"
                                       << "id"
                                       << "";
    QTest::newRow("first unit wins") << "(id)1(/id)(id)2(/id)"
                                     << "id"
                                     << "1";
    QTest::newRow("first opening in front counts") << "(id)(id)5(/id)"
                                                   << "id"
                                                   << "(id)5";
    QTest::newRow("closing marker first") << "(/id)(id)5(/id)"
                                          << "id"
                                          << "";
    QTest::newRow("no opening: drops length-1 chars") << "abcdef(/id)"
                                                      << "id"
                                                      << "def";
    QTest::newRow("no opening: too short") << "ab(/id)"
                                           << "id"
                                           << "";
    QTest::newRow("no opening: exactly length-1 chars") << "abc(/id)"
                                                        << "id"
                                                        << "";
    QTest::newRow("capital markers") << "(ID)12(/ID)"
                                     << "id"
                                     << "";
    QTest::newRow("capital closing only") << "(id)12(/ID)"
                                          << "id"
                                          << "";
    QTest::newRow("spaces kept") << "(id) 7 (/id)"
                                 << "id"
                                 << " 7 ";
    QTest::newRow("empty text") << ""
                                << "id"
                                << "";
    QTest::newRow("closing of another tag ignored") << "(title)x(/title)(id)9(/id)"
                                                    << "id"
                                                    << "9";
    QTest::newRow("closing of the tag inside another field") << "(title)a(/id)b(/title)(id)9(/id)"
                                                             << "id"
                                                             << "tle)a";
    QTest::newRow("line breaks kept") << "(radiomsg)a\r\nb(/radiomsg)"
                                      << "radiomsg"
                                      << "a\r\nb";
    QTest::newRow("Chinese value") << QStringLiteral("(local)北京(/local)(title)中国之声(/title)")
                                   << "title" << QStringLiteral("中国之声");
    QTest::newRow("Chinese before markers") << QStringLiteral("电台(id)88(/id)") << "id"
                                            << "88";
    // U+1F4FB is one code point but two 16-bit characters.
    QTest::newRow("surrogate pair value") << QStringLiteral("(title)\U0001F4FB台(/title)")
                                          << "title" << QStringLiteral("\U0001F4FB台");
    QTest::newRow("surrogate pair counts as two: whole")
        << QStringLiteral("abc\U0001F4FB(/id)") << "id" << QStringLiteral("\U0001F4FB");
    QTest::newRow("surrogate pair counts as two: low half")
        << QStringLiteral("ab\U0001F4FB(/id)") << "id" << QString(QChar(0xDCFB));
}

void TestTextBetween::extracts() {
    QFETCH(QString, text);
    QFETCH(QString, tag);
    QFETCH(QString, expected);
    const QString opening = '(' + tag + ')';
    const QString closing = "(/" + tag + ')';
    QCOMPARE(Module1::TextBetween(text, opening, closing), expected);
}

QTEST_GUILESS_MAIN(TestTextBetween)
#include "test_text_between.moc"
