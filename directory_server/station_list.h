// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace directory {

// One line of the directory.
struct Station {
    std::string id;     // the channel number the listener types: 1 to 9 digits
    std::string region; // (local), one of the quick-search regions for the demo
    std::string title;
    std::string url;               // absolute, or a path on this server ("/stream/101.mp3")
    std::int64_t startingHeat = 0; // heat given to a station new to the database
    // What makes it the same station when a list is imported again: the
    // community database's station uuid; empty for the url.
    std::string key = {};
};

// The station's import key: its key, else its url.
inline const std::string &KeyOf(const Station &station) {
    return station.key.empty() ? station.url : station.key;
}

struct StationList {
    std::vector<Station> stations;
    std::vector<std::size_t> lines;    // the line each station was read from, numbered from 1
    std::vector<std::string> problems; // "line N: why the line was left out"
};

// Reads the station file's text: one station per line,
//   id | region | title | url [| starting heat [| key]]
// Blank lines and lines starting with '#' are skipped. Fields are trimmed and
// runs of spaces become one. A line that cannot be served exactly (bad id,
// missing field, marker text, not UTF-8, repeated id) is left out and described
// in problems.
StationList ParseStationList(std::string_view text);

// The station file's text for the stations, as ParseStationList reads it.
std::string StationListText(const std::vector<Station> &stations);

// A line of a data file that carries content, numbered from 1.
struct NumberedLine {
    std::size_t number;
    std::string_view text; // without the line break (LF or CR LF)
};

// Every line of a data file's text.
std::vector<NumberedLine> Lines(std::string_view text);

// The lines of a data file's text that are neither blank nor comments ('#').
std::vector<NumberedLine> ContentLines(std::string_view text);

} // namespace directory
