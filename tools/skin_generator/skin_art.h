// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "main_window/skin_layout.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QString>

// The main window's skin: the background picture and the faces of the
// buttons that stand on its title band.
namespace skin {

enum class Highlight { Normal, Hot };

// One wide button of the title band: file name stem, caption, place.
struct WideButton {
    QString name;
    QString caption;
    QPoint place;
};

enum class Sign { Bar, Cross };

// One window button (minimise, close): file name stem, sign, place.
struct WindowButton {
    QString name;
    Sign sign;
    QPoint place;
};

QList<WideButton> WideButtons();
QList<WindowButton> WindowButtons();

QImage Background();

// A face is cut from the background at the button's place, so the corners
// outside the plate's rounding match the band beneath exactly.
QImage WideFace(const QImage &background, const WideButton &button, Highlight highlight);
QImage WindowFace(const QImage &background, const WindowButton &button, Highlight highlight);

} // namespace skin
