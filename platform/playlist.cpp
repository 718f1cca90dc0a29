// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/playlist.h"

#include <QRegularExpression>

namespace platform {

namespace {

// Whether the body of a response is a playlist by its type (or, for a generic
// type, its URL).
bool PlaylistByType(const QByteArray &contentType, const QString &url) {
    switch (KindOfContent(contentType)) {
    case ContentKind::Stream:
        return false;
    case ContentKind::Playlist:
        return true;
    case ContentKind::Unknown:
        break;
    }
    return HasPlaylistExtension(url);
}

// The first line of every playlist format, or an m3u's first entry.
bool HasPlaylistOpening(const QString &text) {
    static const QRegularExpression opening(
        QStringLiteral("^\\s*(#EXTM3U|\\[playlist\\]|\\[reference\\]|<\\?xml|<asx|https?://)"),
        QRegularExpression::CaseInsensitiveOption);
    return opening.match(text).hasMatch();
}

} // namespace

bool IsPlaylistResponse(const QByteArray &contentType, const QString &url,
                        const QByteArray &start) {
    const std::optional<QString> text = PlaylistText(start);
    return text && (PlaylistByType(contentType, url) || HasPlaylistOpening(*text));
}

std::optional<QString> StationEntries::next() {
    while (!candidates_.empty() && tried_ < kMaxEntriesTried) {
        const Candidate candidate = candidates_.front();
        candidates_.pop_front();
        if (!IsHttpUrl(candidate.url))
            continue;
        ++tried_;
        currentDepth_ = candidate.depth;
        currentFrom_ = candidate.from;
        return candidate.url;
    }
    return std::nullopt;
}

void StationEntries::readPlaylist(const QStringList &entries, AddressSpace space) {
    if (currentDepth_ > kMaxPlaylistDepth || ++playlistsRead_ > kMaxPlaylistFetches)
        return;
    for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry)
        candidates_.push_front({*entry, currentDepth_ + 1, space});
}

} // namespace platform
