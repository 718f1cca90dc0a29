#pragma once

// Station playlists: .asx (XML and [Reference]), .pls and .m3u/.m3u8. The
// parsing is pure; ResolveStream fetches a station URL and turns it into the
// stream URLs the media player should try, in order.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>

namespace platform {

// True for the schemes the player opens (http, https, mms, mmsh, mmst, rtsp,
// rtmp, in any case) with a host. Everything else (file:, v4l2:, screen:,
// relative or empty) is never handed to the player.
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

// Fetches url and returns the URLs to play: the URL itself when it answers with
// a stream, else the entries of its playlist (nested playlists followed to a
// small depth). Empty when nothing playable was found: no answer, an error
// status, or a playlist without usable entries. Blocking and bounded in time;
// a set cancel flag ends it early with an empty list.
QStringList ResolveStream(const QString &url, const std::atomic<bool> *cancel = nullptr);

} // namespace platform
