// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Station playlists: .asx (XML and [Reference]), .pls and .m3u/.m3u8, read
// from bytes already received. Pure: nothing here fetches.

#include "platform/url_checks.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

// True when the URL's path ends in a playlist extension (.asx, .wax, .wvx,
// .pls, .m3u, .m3u8), in any case.
bool HasPlaylistExtension(const QString &url);

// What a response is, judged from its Content-Type header value.
enum class ContentKind {
    Stream,   // audio or video: the URL is the stream itself
    Playlist, // a playlist type, XML or text: the body holds the entries
    Unknown,  // no type, or a generic one such as application/octet-stream
};
ContentKind KindOfContent(const QByteArray &contentType);

// The bytes as text a playlist could be: decoded, without a byte-order mark;
// nothing when they are binary data (a stream, random bytes).
std::optional<QString> PlaylistText(const QByteArray &bytes);

// The entry URLs of a playlist body in order: the format is told from the
// content, relative entries are resolved against baseUrl, only network stream
// URLs are kept, repeats dropped. Anything that is not a playlist, or is larger
// than a playlist can sensibly be, gives an empty list.
QStringList ParsePlaylist(const QByteArray &body, const QString &baseUrl);

} // namespace platform
