// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/skin_generator/ico_file.h"

#include <QBuffer>
#include <QtEndian>
#include <algorithm>
#include <array>

namespace skin {

namespace {

// Pixels less opaque than this are transparent where only a 1-bit mask exists.
constexpr int kOpaqueFrom = 128;
constexpr int kPaletteSize = 256;
constexpr int kInfoHeaderSize = 40;
constexpr int kDirectoryHeaderSize = 6;
constexpr int kDirectoryEntrySize = 16;

void Put16(QByteArray &out, quint16 value) {
    std::array<char, 2> bytes{};
    qToLittleEndian(value, bytes.data());
    out.append(bytes.data(), bytes.size());
}

void Put32(QByteArray &out, quint32 value) {
    std::array<char, 4> bytes{};
    qToLittleEndian(value, bytes.data());
    out.append(bytes.data(), bytes.size());
}

void PutColour(QByteArray &out, QRgb colour, int alpha) {
    out.append(char(qBlue(colour)));
    out.append(char(qGreen(colour)));
    out.append(char(qRed(colour)));
    out.append(char(alpha));
}

// Bitmap rows are padded to whole 32-bit words.
int RowBytes(int width, int bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

bool IsOpaque(QRgb pixel) {
    return qAlpha(pixel) >= kOpaqueFrom;
}

// The bitmap header of an icon image: its height counts the colour bitmap
// and the mask below it.
QByteArray InfoHeader(const QImage &image, int bitsPerPixel) {
    const int width = image.width();
    const int height = image.height();
    QByteArray out;
    Put32(out, kInfoHeaderSize);
    Put32(out, quint32(width));
    Put32(out, quint32(2 * height));
    Put16(out, 1);
    Put16(out, quint16(bitsPerPixel));
    Put32(out, 0); // no compression
    Put32(out, quint32((RowBytes(width, bitsPerPixel) + RowBytes(width, 1)) * height));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0); // colours used: all that the bit depth allows
    Put32(out, 0);
    return out;
}

// The AND mask, bottom row first: a set bit marks a transparent pixel.
QByteArray AndMask(const QImage &image) {
    const int rowBytes = RowBytes(image.width(), 1);
    QByteArray mask(rowBytes * image.height(), '\0');
    for (int y = 0; y < image.height(); ++y) {
        const int row = (image.height() - 1 - y) * rowBytes;
        for (int x = 0; x < image.width(); ++x) {
            if (!IsOpaque(image.pixel(x, y))) {
                mask[row + x / 8] = char(mask[row + x / 8] | (0x80 >> (x % 8)));
            }
        }
    }
    return mask;
}

QByteArray Bitmap32(const QImage &image) {
    QByteArray out = InfoHeader(image, 32);
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            PutColour(out, pixel, qAlpha(pixel));
        }
    }
    return out + AndMask(image);
}

int Channel(QRgb colour, int channel) {
    return int(colour >> (16 - 8 * channel)) & 0xff;
}

// The channel (0 red, 1 green, 2 blue) along which a set of colours spreads
// most, and how far.
std::pair<int, int> WidestChannel(const QList<QRgb> &colours) {
    std::pair<int, int> widest{0, -1};
    for (int channel = 0; channel < 3; ++channel) {
        const auto [low, high] =
            std::minmax_element(colours.begin(), colours.end(), [channel](QRgb a, QRgb b) {
                return Channel(a, channel) < Channel(b, channel);
            });
        const int range = Channel(*high, channel) - Channel(*low, channel);
        if (range > widest.second) {
            widest = {channel, range};
        }
    }
    return widest;
}

QRgb Average(const QList<QRgb> &colours) {
    std::array<qint64, 3> sums{};
    for (const QRgb colour : colours) {
        for (int channel = 0; channel < 3; ++channel) {
            sums[channel] += Channel(colour, channel);
        }
    }
    const qint64 count = colours.size();
    return qRgb(int(sums[0] / count), int(sums[1] / count), int(sums[2] / count));
}

// Median cut: splits the pixel colours (each pixel counted, so common colours
// weigh more) into at most `count` boxes and returns each box's mean colour.
QList<QRgb> MedianCut(const QList<QRgb> &pixels, int count) {
    QList<QList<QRgb>> boxes;
    if (!pixels.isEmpty()) {
        boxes.append(pixels);
    }
    while (boxes.size() < count) {
        int widestBox = -1;
        std::pair<int, int> widest{0, 0};
        for (int i = 0; i < boxes.size(); ++i) {
            const auto spread = WidestChannel(boxes[i]);
            if (spread.second > widest.second) {
                widestBox = i;
                widest = spread;
            }
        }
        if (widestBox < 0) {
            break; // every box holds a single colour
        }
        QList<QRgb> box = boxes.takeAt(widestBox);
        const int channel = widest.first;
        const auto middle = box.begin() + box.size() / 2;
        std::nth_element(box.begin(), middle, box.end(), [channel](QRgb a, QRgb b) {
            return Channel(a, channel) < Channel(b, channel);
        });
        boxes.append(QList<QRgb>(box.begin(), middle));
        boxes.append(QList<QRgb>(middle, box.end()));
    }
    QList<QRgb> palette;
    for (const QList<QRgb> &box : boxes) {
        palette.append(Average(box));
    }
    return palette;
}

int SquaredDistance(QRgb a, QRgb b) {
    int sum = 0;
    for (int channel = 0; channel < 3; ++channel) {
        const int difference = Channel(a, channel) - Channel(b, channel);
        sum += difference * difference;
    }
    return sum;
}

// Index of the nearest palette colour; index 0 is kept for transparent pixels.
int NearestIndex(const QList<QRgb> &palette, QRgb colour) {
    const auto nearest =
        std::min_element(palette.begin() + 1, palette.end(), [colour](QRgb a, QRgb b) {
            return SquaredDistance(a, colour) < SquaredDistance(b, colour);
        });
    return int(nearest - palette.begin());
}

QByteArray Palette8(const QImage &image) {
    QList<QRgb> opaque;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (IsOpaque(image.pixel(x, y))) {
                opaque.append(image.pixel(x, y));
            }
        }
    }
    QList<QRgb> palette{qRgb(0, 0, 0)};
    palette += MedianCut(opaque, kPaletteSize - 1);
    palette.resize(kPaletteSize, qRgb(0, 0, 0));

    QByteArray out = InfoHeader(image, 8);
    for (const QRgb colour : palette) {
        PutColour(out, colour, 0);
    }
    const int padding = RowBytes(image.width(), 8) - image.width();
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            out.append(char(IsOpaque(pixel) ? NearestIndex(palette, pixel) : 0));
        }
        out.append(padding, '\0');
    }
    return out + AndMask(image);
}

QByteArray Png(const QImage &image) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return out;
}

QByteArray Encode(const IcoEntry &entry) {
    const QImage image = entry.image.convertToFormat(QImage::Format_ARGB32);
    switch (entry.encoding) {
    case IcoEncoding::Palette8:
        return Palette8(image);
    case IcoEncoding::Bitmap32:
        return Bitmap32(image);
    case IcoEncoding::Png:
        return Png(image);
    }
    return {};
}

// The directory stores 256 as 0 in its one-byte width and height.
char DirectorySize(int pixels) {
    return char(pixels & 0xff);
}

} // namespace

QByteArray IcoFile(const QList<IcoEntry> &entries) {
    QByteArray directory;
    Put16(directory, 0);
    Put16(directory, 1); // icon, not cursor
    Put16(directory, quint16(entries.size()));
    QByteArray images;
    const int firstImage = kDirectoryHeaderSize + kDirectoryEntrySize * int(entries.size());
    for (const IcoEntry &entry : entries) {
        const QByteArray data = Encode(entry);
        directory.append(DirectorySize(entry.image.width()));
        directory.append(DirectorySize(entry.image.height()));
        directory.append('\0'); // palette entries: 0 for 8 bits and more
        directory.append('\0');
        Put16(directory, 1);
        Put16(directory, entry.encoding == IcoEncoding::Palette8 ? 8 : 32);
        Put32(directory, quint32(data.size()));
        Put32(directory, quint32(firstImage + images.size()));
        images += data;
    }
    return directory + images;
}

} // namespace skin
