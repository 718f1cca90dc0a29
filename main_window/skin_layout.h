// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the main window's skin lies: the window's size, the background
// picture, the faces of the title band's buttons, and the areas the station
// table and the volume bar cover. The window places its pictures and controls
// here; the skin generator paints the pictures to fit.

#include <QPoint>
#include <QRect>
#include <QSize>

namespace skin {

inline constexpr QSize kClientSize(629, 466);
// The background picture has two spare columns at the right.
inline constexpr QSize kBackgroundSize(631, 466);
inline constexpr QRect kTableArea(5, 28, 619, 390);
inline constexpr QRect kVolumeArea(5, 416, 621, 17);

inline constexpr QSize kWideFaceSize(66, 22);
inline constexpr QPoint kIdPlayPlace(168, 3);
inline constexpr QPoint kQuickSearchPlace(232, 3);
inline constexpr QPoint kAboutPlace(296, 3);
inline constexpr QPoint kPlayStopPlace(360, 3);
inline constexpr QPoint kFetchPlace(424, 3);

inline constexpr QSize kWindowFaceSize(42, 18);
inline constexpr QPoint kMinimisePlace(544, 3);
inline constexpr QPoint kClosePlace(584, 3);

} // namespace skin
