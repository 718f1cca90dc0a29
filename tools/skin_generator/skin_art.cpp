// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/skin_generator/skin_art.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace skin {

namespace {

// The picture is wider than the window by two spare columns at the right.
constexpr int kWindowWidth = kClientSize.width();
// The table starts below the title band, the bottom band below the volume bar.
constexpr int kTitleBandHeight = kTableArea.top();
constexpr int kBottomBandTop = kVolumeArea.bottom() + 1;

const QColor kRim(0x5b, 0x84, 0xc8);
const QColor kBandEdge(0x3d, 0x68, 0xb0);
const QColor kTitleTop(0x2a, 0x57, 0xa2);
const QColor kTitleBottom(0x0e, 0x29, 0x60);
const QColor kBottomTop(0x15, 0x36, 0x74);
const QColor kBottomBottom(0x09, 0x1b, 0x44);
const QColor kCaptionGreen(0, 255, 0);

struct PlateColours {
    QColor top;
    QColor upperMiddle;
    QColor lowerMiddle;
    QColor bottom;
    QColor border;
};

const PlateColours kBluePlate{{0x6a, 0xa4, 0xf0},
                              {0x2f, 0x6e, 0xd2},
                              {0x1c, 0x50, 0xb0},
                              {0x1a, 0x4c, 0x9c},
                              {0x06, 0x16, 0x3c}};
const PlateColours kCyanPlate{{0x80, 0xdc, 0xff},
                              {0x2c, 0xa4, 0xe4},
                              {0x16, 0x84, 0xcc},
                              {0x18, 0x7c, 0xb8},
                              {0x06, 0x2a, 0x50}};
const PlateColours kRedPlate{{0xff, 0x9a, 0x8a},
                             {0xe8, 0x44, 0x34},
                             {0xc4, 0x20, 0x14},
                             {0xa8, 0x1c, 0x12},
                             {0x3c, 0x06, 0x04}};

void FillVertical(QPainter &painter, const QRect &rect, const QColor &top, const QColor &bottom) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.fillRect(rect, gradient);
}

// A band of the frame: a vertical gradient with a lighter line along either edge.
void PaintBand(QPainter &painter, const QRect &rect, const QColor &top, const QColor &bottom) {
    FillVertical(painter, rect, top, bottom);
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), kBandEdge);
    painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), kBandEdge);
}

// A rounded plate with a glassy blue, cyan or red face, inset two pixels at
// the sides so that neighbouring faces, which overlap by two pixels, never
// cover each other's plate.
void PaintPlate(QPainter &painter, QSize size, const PlateColours &colours) {
    const QRectF plate(2.5, 0.5, size.width() - 5, size.height() - 1);
    QLinearGradient gradient(plate.topLeft(), plate.bottomLeft());
    gradient.setColorAt(0, colours.top);
    gradient.setColorAt(0.48, colours.upperMiddle);
    gradient.setColorAt(0.52, colours.lowerMiddle);
    gradient.setColorAt(1, colours.bottom);
    QPainterPath outline;
    outline.addRoundedRect(plate, 4, 4);
    painter.setPen(QPen(colours.border, 1));
    painter.setBrush(gradient);
    painter.drawPath(outline);

    QPainterPath highlight;
    highlight.addRoundedRect(plate.adjusted(1, 1, -1, -1), 3, 3);
    painter.setPen(QPen(QColor(255, 255, 255, 70), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(highlight);
}

QFont CaptionFont() {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(12);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// The caption centred on its ink, not on the font's line box: the CJK
// fonts' tall ascent would otherwise push it off centre at this size.
void PaintCaption(QPainter &painter, QSize size, const QString &caption) {
    const QFont font = CaptionFont();
    const QRectF ink = QFontMetricsF(font).tightBoundingRect(caption);
    const QPointF baseline(std::round((size.width() - ink.width()) / 2 - ink.left()),
                           std::round((size.height() - ink.height()) / 2 - ink.top()));
    painter.setFont(font);
    painter.setPen(QColor(0, 0x10, 0x30, 200));
    painter.drawText(baseline + QPointF(1, 1), caption);
    painter.setPen(kCaptionGreen);
    painter.drawText(baseline, caption);
}

void PaintSign(QPainter &painter, QSize size, Sign sign) {
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::FlatCap));
    if (sign == Sign::Bar) {
        painter.drawLine(centre + QPointF(-6, 3), centre + QPointF(6, 3));
        return;
    }
    painter.drawLine(centre + QPointF(-4, -4), centre + QPointF(4, 4));
    painter.drawLine(centre + QPointF(-4, 4), centre + QPointF(4, -4));
}

QImage CutFace(const QImage &background, QPoint place, QSize size) {
    return background.copy(QRect(place, size)).convertToFormat(QImage::Format_RGB32);
}

} // namespace

QList<WideButton> WideButtons() {
    return {
        {QStringLiteral("id_play"), QStringLiteral("ID 播放"), kIdPlayPlace},
        {QStringLiteral("quick_search"), QStringLiteral("快速搜索"), kQuickSearchPlace},
        {QStringLiteral("about"), QStringLiteral("更新/联系"), kAboutPlace},
        {QStringLiteral("play_stop"), QStringLiteral("播放/停止"), kPlayStopPlace},
        {QStringLiteral("fetch"), QStringLiteral("获取频道"), kFetchPlace},
    };
}

QList<WindowButton> WindowButtons() {
    return {
        {QStringLiteral("minimise"), Sign::Bar, kMinimisePlace},
        {QStringLiteral("close"), Sign::Cross, kClosePlace},
    };
}

QImage Background() {
    QImage image(kBackgroundSize, QImage::Format_RGB32);
    QPainter painter(&image);
    const int width = image.width();
    const int height = image.height();

    FillVertical(painter, QRect(0, kTitleBandHeight, width, kBottomBandTop - kTitleBandHeight),
                 kTitleBottom, kBottomTop);
    PaintBand(painter, QRect(0, 0, width, kTitleBandHeight), kTitleTop, kTitleBottom);
    PaintBand(painter, QRect(0, kBottomBandTop, width, height - kBottomBandTop), kBottomTop,
              kBottomBottom);
    painter.fillRect(kTableArea, Qt::white);
    painter.fillRect(kVolumeArea, Qt::white);

    // A lighter rim around the window's outline.
    painter.fillRect(QRect(0, 0, width, 1), kRim);
    painter.fillRect(QRect(0, height - 1, width, 1), kRim);
    painter.fillRect(QRect(0, 0, 1, height), kRim);
    painter.fillRect(QRect(kWindowWidth - 1, 0, width - kWindowWidth + 1, height), kRim);
    return image;
}

QImage WideFace(const QImage &background, const WideButton &button, Highlight highlight) {
    QImage face = CutFace(background, button.place, kWideFaceSize);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    PaintPlate(painter, face.size(), highlight == Highlight::Hot ? kCyanPlate : kBluePlate);
    PaintCaption(painter, face.size(), button.caption);
    return face;
}

QImage WindowFace(const QImage &background, const WindowButton &button, Highlight highlight) {
    QImage face = CutFace(background, button.place, kWindowFaceSize);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintPlate(painter, face.size(), highlight == Highlight::Hot ? kRedPlate : kBluePlate);
    PaintSign(painter, face.size(), button.sign);
    return face;
}

} // namespace skin
