// SPDX-License-Identifier: GPL-3.0-or-later

// Input: the playlist's URL, LF, its body.
#include "platform/hls_playlist.h"
#include "platform/playlist.h"
#include "tests/fuzz/fuzz_input.h"

#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QList<QByteArray> parts = fuzz::SplitInput(data, size, 2);
    const QString baseUrl = QString::fromUtf8(parts[0]);
    const QByteArray &body = parts[1];
    platform::KindOfContent(parts[0]);
    platform::HasPlaylistExtension(baseUrl);
    platform::IsHlsPlaylist(parts[0], body);
    // Whatever a server sends, only http and https addresses are fetched.
    const platform::HlsPlaylist hls = platform::ParseHlsPlaylist(body, baseUrl);
    fuzz::Require(hls.kind != platform::HlsPlaylist::Kind::Master ||
                  platform::IsHttpUrl(hls.variantUrl));
    for (const platform::HlsSegment &segment : hls.segments) {
        fuzz::Require(segment.url.isEmpty() || platform::IsHttpUrl(segment.url));
    }
    const QStringList entries = platform::ParsePlaylist(body, baseUrl);
    // Only network streams reach the player, each once.
    for (const QString &entry : entries) {
        fuzz::Require(platform::IsNetworkStreamUrl(entry));
    }
    fuzz::Require(QSet<QString>(entries.begin(), entries.end()).size() == entries.size());
    return 0;
}
