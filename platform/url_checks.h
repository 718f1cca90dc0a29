// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The checks that decide which addresses the program fetches, plays or opens.
// They differ on purpose:
// - IsHttpUrl guards every fetch. The address must already be one well-formed
//   http or https URL with a host, taken as it is: nothing is trimmed or
//   repaired, so what is fetched is exactly what was checked.
// - IsNetworkStreamUrl keeps a playlist's entries. Besides http and https it
//   accepts the other network stream schemes (mms, mmsh, mmst, rtsp, rtmp) that
//   playlists name, so that an entry keeps its place in the list, while only
//   http and https are ever opened (through IsHttpUrl). White space around the
//   entry is trimmed.
// - WebAddress is for addresses handed to the user's browser. They come from
//   station data typed by people, so white space is trimmed and the address is
//   parsed tolerantly: spaces, quotes and the like are percent-encoded and the
//   whole text stays one URL rather than being refused.
// All three refuse file:, javascript:, relative and empty addresses and URLs
// without a host, and take the scheme in any case.

#include <QString>
#include <QUrl>

namespace platform {

// True for the schemes the program fetches: http and https.
bool IsHttpUrl(const QString &url);

// True for network stream schemes (http, https, mms, mmsh, mmst, rtsp, rtmp,
// in any case) with a host: the entries a playlist keeps, of which the player
// opens the http and https ones. Everything else (file:, v4l2:, screen:,
// relative or empty) is dropped.
bool IsNetworkStreamUrl(const QString &url);

// The address as one http or https URL, or an invalid QUrl when it is anything
// else (empty, file:, javascript:, no scheme, no host).
QUrl WebAddress(const QString &address);

} // namespace platform
