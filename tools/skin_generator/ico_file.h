// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

namespace skin {

// How one image is stored in an .ico file.
enum class IcoEncoding {
    Palette8, // 8-bit palettized bitmap with a 1-bit transparency (AND) mask
    Bitmap32, // 32-bit bitmap with alpha, plus the AND mask older readers use
    Png,      // PNG-compressed, 32 bits with alpha
};

struct IcoEntry {
    QImage image; // at most 256 x 256
    IcoEncoding encoding;
};

// An .ico file holding every entry, in the given order.
QByteArray IcoFile(const QList<IcoEntry> &entries);

} // namespace skin
