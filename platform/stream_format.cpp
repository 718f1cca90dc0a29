// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/stream_format.h"

#include <array>

namespace platform {

namespace {

constexpr qsizetype kTsPacket = 188;
constexpr char kTsSync = 0x47;

int Byte(const QByteArray &bytes, qsizetype at) {
    return static_cast<unsigned char>(bytes[at]);
}

bool IsTransportStream(const QByteArray &start) {
    return !start.isEmpty() && start[0] == kTsSync &&
           (start.size() <= kTsPacket || start[kTsPacket] == kTsSync);
}

// The length of the ADTS frame starting at, or 0 when none starts there.
qsizetype AdtsFrameLength(const QByteArray &bytes, qsizetype at) {
    if (bytes.size() - at < 7 || Byte(bytes, at) != 0xFF || (Byte(bytes, at + 1) & 0xF6) != 0xF0)
        return 0;
    const qsizetype length = ((Byte(bytes, at + 3) & 0x03) << 11) | (Byte(bytes, at + 4) << 3) |
                             (Byte(bytes, at + 5) >> 5);
    return length >= 7 ? length : 0;
}

// The length of the MPEG audio frame starting at, or 0 when none starts there.
qsizetype MpegAudioFrameLength(const QByteArray &bytes, qsizetype at) {
    if (bytes.size() - at < 4 || Byte(bytes, at) != 0xFF || (Byte(bytes, at + 1) & 0xE0) != 0xE0)
        return 0;
    const int version = (Byte(bytes, at + 1) >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (Byte(bytes, at + 1) >> 1) & 3;   // 3: I, 2: II, 1: III
    const int bitrateIndex = Byte(bytes, at + 2) >> 4;
    const int rateIndex = (Byte(bytes, at + 2) >> 2) & 3;
    const int padding = (Byte(bytes, at + 2) >> 1) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    // Kilobits per second by bitrate index: MPEG-1 layers I, II, III, then
    // MPEG-2 and 2.5 layer I, then their layers II and III.
    static constexpr std::array<std::array<int, 15>, 5> kBitrates = {{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    }};
    static constexpr std::array<int, 3> kRates = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const qsizetype bitrate = kBitrates[table][bitrateIndex] * 1000LL;
    const qsizetype rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    if (layer == 3)
        return (12 * bitrate / rate + padding) * 4;
    return (layer == 1 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
}

// Whether two frames follow each other from the start, by the frame lengths
// the reader gives; a first frame that reaches past the bytes counts alone.
bool FramesFollow(const QByteArray &start,
                  qsizetype (*frameLength)(const QByteArray &, qsizetype)) {
    const qsizetype first = frameLength(start, 0);
    if (first == 0)
        return false;
    return start.size() < first + 4 || frameLength(start, first) > 0;
}

} // namespace

QByteArray DemuxerForBytes(const QByteArray &start) {
    if (IsTransportStream(start))
        return "ts";
    if (FramesFollow(start, &AdtsFrameLength))
        return "aac";
    if (FramesFollow(start, &MpegAudioFrameLength))
        return "mpga";
    return {};
}

} // namespace platform
