// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

namespace skin {

// The program icon at the given edge length: a broadcast mast sending waves,
// green on a rounded plate in the skin's blue, transparent around the plate.
// The result is Format_ARGB32 (not premultiplied).
QImage ProgramIcon(int size);

} // namespace skin
