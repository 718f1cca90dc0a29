// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Resolving a station's URL through the playlists it may lead to: whether a
// response is a playlist, the order in which entries are tried, and the limits
// of one station's resolution. The player's connections do the fetching.

#include "platform/address_space.h"
#include "platform/playlist_parser.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>

namespace platform {

// Whether a response is a playlist to read, judged from its type, its URL and
// the first bytes of its body: text that a playlist type, a playlist extension
// or a playlist's own first line announces. Binary data is never a playlist,
// whatever the server calls it.
bool IsPlaylistResponse(const QByteArray &contentType, const QString &url, const QByteArray &start);

// Limits of one station's resolution: a playlist may point at playlists, which
// may point at playlists once more; a playlist body (an HLS playlist's too, at
// each reload) is read up to a size that a playlist can sensibly have; a
// station makes at most so many playlist fetches and tries at most so many
// entries (playlist entries included).
inline constexpr int kMaxPlaylistDepth = 2;
inline constexpr qsizetype kMaxFetchedPlaylistBytes = 256 * 1024;
inline constexpr int kMaxPlaylistFetches = 8;
inline constexpr int kMaxEntriesTried = 64;

// The entries of one station in the order they are tried: its URL first, and a
// playlist's entries in its place, in their order, within the limits above.
// Only http and https entries are given out; mms, rtsp and the like are
// skipped.
class StationEntries {
public:
    explicit StationEntries(const QString &url) : candidates_{{url, 0, std::nullopt}} {}

    // The next entry to connect to, or nothing when none is left.
    std::optional<QString> next();
    // The space of the server of the playlist that named the entry given last;
    // nothing for the station's own URL.
    std::optional<AddressSpace> from() const { return currentFrom_; }
    // The entry Next gave last turned out to be a playlist with these entries,
    // served from the given space.
    void readPlaylist(const QStringList &entries, AddressSpace space);

private:
    struct Candidate {
        QString url;
        int depth = 0;
        std::optional<AddressSpace> from;
    };

    std::deque<Candidate> candidates_;
    int currentDepth_ = 0;
    std::optional<AddressSpace> currentFrom_;
    int tried_ = 0;
    int playlistsRead_ = 0;
};

} // namespace platform
