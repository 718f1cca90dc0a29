// SPDX-License-Identifier: GPL-3.0-or-later

// The skin pictures and program icons compiled into the program: every one
// loads, has its size, is drawn (not blank) and fits the window's layout.

#include "main_window/skin_layout.h"

#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QTest>

namespace {

// Band and face colours may differ by this much after JPEG compression.
constexpr int kJpegTolerance = 24;

const QImage &Background() {
    static const QImage background(QStringLiteral(":/skin/background.jpg"));
    return background;
}

bool Near(QRgb a, QRgb b) {
    return qAbs(qRed(a) - qRed(b)) <= kJpegTolerance &&
           qAbs(qGreen(a) - qGreen(b)) <= kJpegTolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= kJpegTolerance;
}

bool IsDarkBlue(QRgb pixel) {
    return qBlue(pixel) > qRed(pixel) + 30 && qGray(pixel) < 110;
}

int CountPixels(const QImage &image, bool (*matches)(QRgb)) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += matches(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return count;
}

int DistinctColours(const QImage &image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            colours.insert(image.pixel(x, y));
        }
    }
    return int(colours.size());
}

bool IsCaptionGreen(QRgb pixel) {
    return qGreen(pixel) >= 220 && qRed(pixel) <= 90 && qBlue(pixel) <= 90;
}

bool IsWhite(QRgb pixel) {
    return qRed(pixel) >= 235 && qGreen(pixel) >= 235 && qBlue(pixel) >= 235;
}

// Outer columns of a face lie outside its plate: they must show the band
// beneath, so a face sits seamlessly on the background and neighbouring
// faces, which overlap by two pixels, never hide each other's plate.
void VerifyMarginsMatchBackground(const QImage &face, QPoint place) {
    for (int y = 0; y < face.height(); ++y) {
        for (const int x : {0, 1, face.width() - 2, face.width() - 1}) {
            QVERIFY2(Near(face.pixel(x, y), Background().pixel(place + QPoint(x, y))),
                     qPrintable(QStringLiteral("column %1, row %2").arg(x).arg(y)));
        }
    }
}

} // namespace

class TestSkin : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void background_data();
    void background();
    void faces_data();
    void faces();
    void icons_data();
    void icons();
    void icoFileHoldsThreeImages();
};

void TestSkin::initTestCase() {
    Q_INIT_RESOURCE(skin);
    Q_INIT_RESOURCE(resources);
}

void TestSkin::background_data() {
    QTest::addColumn<QPoint>("spot");
    QTest::addColumn<bool>("white");

    QTest::newRow("title band, caption area") << QPoint(60, 14) << false;
    QTest::newRow("title band, last row") << QPoint(300, 26) << false;
    QTest::newRow("table, first row") << QPoint(300, 29) << true;
    QTest::newRow("table, middle") << QPoint(314, 200) << true;
    QTest::newRow("volume bar") << QPoint(624, 425) << true;
    QTest::newRow("bottom band, status labels") << QPoint(300, 455) << false;
    QTest::newRow("left edge") << QPoint(2, 200) << false;
    QTest::newRow("right edge") << QPoint(626, 200) << false;
}

void TestSkin::background() {
    QFETCH(QPoint, spot);
    QFETCH(bool, white);

    QCOMPARE(Background().size(), skin::kBackgroundSize);
    const QRgb pixel = Background().pixel(spot);
    QVERIFY2(white ? IsWhite(pixel) : IsDarkBlue(pixel), qPrintable(QColor(pixel).name()));
}

void TestSkin::faces_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("place");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("caption");

    const QSize wide = skin::kWideFaceSize;
    const QSize window = skin::kWindowFaceSize;
    QTest::newRow("id_play") << "id_play" << skin::kIdPlayPlace << wide << true;
    QTest::newRow("quick_search") << "quick_search" << skin::kQuickSearchPlace << wide << true;
    QTest::newRow("about") << "about" << skin::kAboutPlace << wide << true;
    QTest::newRow("play_stop") << "play_stop" << skin::kPlayStopPlace << wide << true;
    QTest::newRow("fetch") << "fetch" << skin::kFetchPlace << wide << true;
    QTest::newRow("minimise") << "minimise" << skin::kMinimisePlace << window << false;
    QTest::newRow("close") << "close" << skin::kClosePlace << window << false;
}

void TestSkin::faces() {
    QFETCH(QString, name);
    QFETCH(QPoint, place);
    QFETCH(QSize, size);
    QFETCH(bool, caption);

    const QImage normal(QStringLiteral(":/skin/%1.bmp").arg(name));
    const QImage hot(QStringLiteral(":/skin/%1_hot.bmp").arg(name));
    for (const QImage &face : {normal, hot}) {
        QCOMPARE(face.size(), size);
        QVERIFY(!face.hasAlphaChannel());
        QVERIFY(DistinctColours(face) > 20);
        VerifyMarginsMatchBackground(face, place);
        if (QTest::currentTestFailed()) {
            return;
        }
        // A caption in bright green, or a white sign.
        QVERIFY(CountPixels(face, caption ? IsCaptionGreen : IsWhite) >= 10);
    }
    QVERIFY(normal != hot);
    const QPoint plate(size.width() / 2, 3);
    QVERIFY(qBlue(normal.pixel(plate)) > qRed(normal.pixel(plate)));
    if (caption) {
        QVERIFY(qGreen(hot.pixel(plate)) > qGreen(normal.pixel(plate)));
    } else {
        QVERIFY(qRed(hot.pixel(plate)) > qBlue(hot.pixel(plate)));
    }
}

void TestSkin::icons_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("48") << 48;
    QTest::newRow("128") << 128;
}

void TestSkin::icons() {
    QFETCH(int, size);

    const QImage icon(QStringLiteral(":/icons/quorvel-%1.png").arg(size));
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(icon.pixel(size / 2, size / 2)), 255);
}

// The .ico file is installed, not compiled in: its directory must list the
// 8-bit and 32-bit 48-pixel images and the 128-pixel one, and every image
// must decode with its transparent surround.
void TestSkin::icoFileHoldsThreeImages() {
    const QString path = QFINDTESTDATA("../resources/quorvel.ico");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    QDataStream stream(&file);
    stream.setByteOrder(QDataStream::LittleEndian);
    quint16 reserved = 1, type = 0, count = 0;
    stream >> reserved >> type >> count;
    QCOMPARE(reserved, quint16(0));
    QCOMPARE(type, quint16(1));
    QCOMPARE(count, quint16(3));

    const QList<QPair<int, int>> expected{{48, 8}, {128, 32}, {48, 32}};
    for (const auto &[size, bits] : expected) {
        quint8 width = 0, height = 0, colours = 0, zero = 0;
        quint16 planes = 0, bitCount = 0;
        quint32 bytes = 0, offset = 0;
        stream >> width >> height >> colours >> zero >> planes >> bitCount >> bytes >> offset;
        QCOMPARE(int(width), size);
        QCOMPARE(int(height), size);
        QCOMPARE(int(bitCount), bits);
        QVERIFY(offset + bytes <= file.size());
    }

    QImageReader reader(path);
    QCOMPARE(reader.imageCount(), 3);
    for (int i = 0; i < expected.size(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        const int size = expected[i].first;
        QCOMPARE(image.size(), QSize(size, size));
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
    }
}

QTEST_GUILESS_MAIN(TestSkin)
#include "test_skin.moc"
