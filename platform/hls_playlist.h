// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// HTTP Live Streaming playlists read from bytes already received: whether a
// body is one, the media playlist a master playlist leads to, and the segments
// of a media playlist. Pure: nothing here fetches.

#include "platform/playlist.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>

namespace platform {

// A playlist is read up to kMaxFetchedPlaylistBytes (playlist.h) and this many
// entries (segments, or variants and renditions); a larger one is refused whole.
inline constexpr int kMaxHlsEntries = 1000;
// Of a master playlist's variants, the best one up to this bandwidth is
// chosen (bits per second), else the smallest.
inline constexpr qint64 kMaxHlsBandwidth = 320000;

// True for an HLS playlist: text opening with "#EXTM3U" that holds an
// "#EXT-X-" tag, or one of the HLS types over text with such a tag. A plain
// .m3u list of stations, under any type, is none.
bool IsHlsPlaylist(const QByteArray &contentType, const QByteArray &body);

// How the segments from a key tag on are encrypted.
struct HlsKey {
    enum class Method {
        None,
        Aes128,      // the whole segment, AES-128-CBC with PKCS#7 padding
        Unsupported, // SAMPLE-AES, an unknown method, or a key that cannot be fetched
    };
    Method method = Method::None;
    QString url;                  // of the 16-byte key, http or https
    std::optional<QByteArray> iv; // 16 bytes when the tag names one
};

struct HlsSegment {
    qint64 sequence = 0;        // media sequence number
    double duration = 0;        // seconds
    QString url;                // absolute; empty when it is no http or https address
    bool discontinuity = false; // the stream's format or clock may change before it
    HlsKey key;
};

struct HlsPlaylist {
    enum class Kind {
        Invalid, // not a playlist that can be followed
        Master,  // variants and renditions: variantUrl is the one to follow
        Media,   // segments
    };
    Kind kind = Kind::Invalid;
    QString variantUrl;
    double targetDuration = 0; // seconds
    bool ended = false;        // #EXT-X-ENDLIST: no segment will be added
    std::vector<HlsSegment> segments;
};

// Reads a playlist body; relative addresses are resolved against url. A
// master playlist gives the audio-only rendition if it has one, else the
// variant with the highest bandwidth up to kMaxHlsBandwidth, else the one with
// the lowest. Segments of a media playlist keep their sequence numbers even
// when their address is dropped. Byte ranges and initialisation sections
// (fragmented MP4) make a playlist Invalid, as do the limits above.
HlsPlaylist ParseHlsPlaylist(const QByteArray &body, const QString &url);

// Index into segments of the first one to play: for a live playlist, the last
// one that starts at least three target durations before its end; for a
// finished one, the first.
std::size_t HlsStartIndex(const HlsPlaylist &playlist);

} // namespace platform
