#pragma once

// Station playlists: .asx (XML and [Reference]), .pls and .m3u/.m3u8, read
// from the bytes the media player's connection has already received.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

// True for network stream schemes (http, https, mms, mmsh, mmst, rtsp, rtmp,
// in any case) with a host: the entries a playlist keeps, of which the player
// opens the http and https ones. Everything else (file:, v4l2:, screen:,
// relative or empty) is dropped.
bool IsNetworkStreamUrl(const QString &url);

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

// True for an HTTP Live Streaming playlist, which the player opens itself.
bool IsLiveStreamingPlaylist(const QByteArray &body);

// The entry URLs of a playlist body in order: the format is told from the
// content, relative entries are resolved against baseUrl, only network stream
// URLs are kept, repeats dropped. Anything that is not a playlist, or is larger
// than a playlist can sensibly be, gives an empty list.
QStringList ParsePlaylist(const QByteArray &body, const QString &baseUrl);

// Whether a response is a playlist to read, judged from its type, its URL and
// the first bytes of its body: text that a playlist type, a playlist extension
// or a playlist's own first line announces. Binary data is never a playlist,
// whatever the server calls it.
bool IsPlaylistResponse(const QByteArray &contentType, const QString &url, const QByteArray &start);

// Limits of one station's resolution: a playlist may point at playlists, which
// may point at playlists once more; a playlist body is read up to a size that a
// playlist can sensibly have; a station makes at most so many playlist fetches.
inline constexpr int kMaxPlaylistDepth = 2;
inline constexpr qsizetype kMaxFetchedPlaylistBytes = 256 * 1024;
inline constexpr int kMaxPlaylistFetches = 8;

} // namespace platform
