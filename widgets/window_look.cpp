// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/window_look.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

// Where 宋体 is missing, AR PL SungtiL GB stands in: a Song face of the same
// character set, Latin letters included, in one small file that also serves
// bold (drawn from the regular face), so the window maps a single small CJK
// font. The Noto CJK faces draw what it lacks.
QFont SongTypeface(int pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(pixelSize);
    return font;
}

void CentreOnScreen(QWidget &window) {
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        window.move(screen->availableGeometry().center() - window.rect().center());
    }
}
