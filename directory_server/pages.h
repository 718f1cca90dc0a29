// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/station_list.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The documents the server answers with. Values inside tagged-text markers are
// HTML-escaped, so a page's text reads back exactly as the value.
namespace directory {

// "http://host:port" under which this server's own paths are published. The
// address the server was started with is used, except for a wildcard address
// (0.0.0.0, ::), where the request's Host header names the host when it is a
// plain host name or address, and 127.0.0.1 otherwise.
std::string PublicBase(const std::string &boundAddress, int port, std::string_view hostHeader);

// The station's URL as the player gets it: paths on this server get base in front.
std::string PublishedUrl(const Station &station, const std::string &base);

// "(id)…(/id)(title)…(/title)(url)…(/url)(local)…(/local)(hot)…(/hot)", escaped.
std::string StationLine(const Station &station, const std::string &base, std::int64_t heat);

// Body text: "(zebok)" and one station line per line; heat[i] is the heat of
// stations[i].
std::string DirectoryPage(const std::vector<Station> &stations,
                          const std::vector<std::int64_t> &heat, const std::string &base);

// "(radiomsg)…(/radiomsg)" as plain text; announcements hold no markup
// characters, so the same text stands in pages unescaped.
std::string AnnouncementText(const std::string &announcement);

std::string HomePage(const std::string &version, const std::string &downloadUrl,
                     const std::string &announcement);
std::string DownloadPage(const std::string &version);

// The message board: a form posting its text box to the board's own path.
std::string BoardPage();
std::string ThanksPage();
std::string EmptyMessagePage();

// A small page for an error status.
std::string ErrorPage(int status);

// An XML playlist with one entry.
std::string AsxPlaylist(const std::string &title, const std::string &url);

} // namespace directory
