// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>

class QWidget;

// Twips per pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

inline constexpr int kSongPixels = 14;       // 10.5 pt: the main title and the station tables
inline constexpr int kWindowSongPixels = 12; // 9 pt: every other text of the main window

// 宋体 with the GB2312 character set, at a size in pixels (at 96 dots per inch
// 10.5 pt is 14 pixels, 9 pt 12).
QFont SongTypeface(int pixelSize);

// Places a window in the middle of the primary screen's free area, where the
// window system lets a program place its windows.
void CentreOnScreen(QWidget &window);
