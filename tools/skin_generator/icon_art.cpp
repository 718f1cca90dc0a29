// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/skin_generator/icon_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace skin {

namespace {

// The drawing is laid out on a 48-unit grid, the smallest size it is shown at.
constexpr qreal kGrid = 48;
const QPointF kAerial(24, 19);

const QColor kPlateTop(0x3c, 0x7c, 0xdc);
const QColor kPlateBottom(0x0c, 0x26, 0x5c);
const QColor kPlateBorder(0x05, 0x12, 0x34);
const QColor kWaveGreen(0x30, 0xff, 0x30);
const QColor kMastGreen(0xb8, 0xff, 0xb0);

void PaintPlate(QPainter &painter) {
    const QRectF plate(2.5, 2.5, 43, 43);
    QLinearGradient gradient(plate.topLeft(), plate.bottomLeft());
    gradient.setColorAt(0, kPlateTop);
    gradient.setColorAt(1, kPlateBottom);
    painter.setPen(QPen(kPlateBorder, 1));
    painter.setBrush(gradient);
    painter.drawRoundedRect(plate, 9, 9);
    painter.setPen(QPen(QColor(255, 255, 255, 80), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(plate.adjusted(1, 1, -1, -1), 8, 8);
}

// Two arcs on either side of the aerial, opening outwards.
void PaintWaves(QPainter &painter) {
    painter.setPen(QPen(kWaveGreen, 3, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    constexpr int kSpan = 80 * 16;
    for (const qreal radius : {8.0, 14.0}) {
        const QRectF circle(kAerial.x() - radius, kAerial.y() - radius, 2 * radius, 2 * radius);
        painter.drawArc(circle, -40 * 16, kSpan);
        painter.drawArc(circle, 140 * 16, kSpan);
    }
}

// A lattice mast standing on the plate's lower part, with the aerial on top.
void PaintMast(QPainter &painter) {
    QPainterPath mast;
    mast.moveTo(17, 41);
    mast.lineTo(kAerial);
    mast.lineTo(31, 41);
    mast.moveTo(19.6, 33.5);
    mast.lineTo(28.4, 33.5);
    painter.setPen(QPen(kMastGreen, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(mast);
    painter.setPen(QPen(kPlateBorder, 1));
    painter.setBrush(kWaveGreen);
    painter.drawEllipse(kAerial, 3.5, 3.5);
}

} // namespace

QImage ProgramIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kGrid, size / kGrid);
    PaintPlate(painter);
    PaintWaves(painter);
    PaintMast(painter);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace skin
