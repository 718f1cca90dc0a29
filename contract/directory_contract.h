// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the player and the directory server agree on: the paths the player
// asks for, the markers of the tagged text it reads, and the message board's
// form. Changing a word here changes what goes over the wire.

#include "contract/version.h"

#include <array>
#include <string_view>

namespace contract {

// A tagged value of the server's text, as in "(id)101(/id)". The player takes
// a value up to the first closing marker of the text.
struct Tag {
    std::string_view opening;
    std::string_view closing;
};

// The fields of a station line of the directory page.
inline constexpr Tag kId{"(id)", "(/id)"};
inline constexpr Tag kTitle{"(title)", "(/title)"};
inline constexpr Tag kUrl{"(url)", "(/url)"};
inline constexpr Tag kLocal{"(local)", "(/local)"};
inline constexpr Tag kHot{"(hot)", "(/hot)"};
// The announcement line.
inline constexpr Tag kAnnouncement{"(radiomsg)", "(/radiomsg)"};
// The home page: the newest version and where to download it.
inline constexpr Tag kNewestVersion{"(radioban)", "(/radioban)"};
inline constexpr Tag kDownload{"(radio)", "(/radio)"};

// Opens the directory page's text: a page holding it is the directory.
inline constexpr std::string_view kDirectoryMarker = "(zebok)";
// How every closing marker begins.
inline constexpr std::string_view kClosingStart = "(/";

// Every marker the player looks for: a value holding one would be found in
// place of the real one.
inline constexpr std::array kMarkers = {
    kClosingStart,          kId.opening,      kTitle.opening,   kUrl.opening,
    kLocal.opening,         kHot.opening,     kDirectoryMarker, kAnnouncement.opening,
    kNewestVersion.opening, kDownload.opening};

// The station directory for this version of the player.
inline constexpr std::string_view kDirectoryPath = "/radio/" QUORVEL_VERSION ".asp";
// A play report: the path with the station's id as a query field.
inline constexpr std::string_view kPlayReportPath = "/radio/hot.asp";
inline constexpr std::string_view kPlayReportIdField = "id";
// The announcement line, as plain text.
inline constexpr std::string_view kAnnouncementPath = "/radio/new.asp";
// The message board: a page with a form posting back to the same path.
inline constexpr std::string_view kBoardPath = "/maiz.asp";

// The board form's text box and send button, by their element ids, and the
// field the message is posted as.
inline constexpr std::string_view kBoardTextId = "textarea";
inline constexpr std::string_view kBoardButtonId = "button";
inline constexpr std::string_view kBoardField = "message";

} // namespace contract
