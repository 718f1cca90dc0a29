// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/station_list.h"

#include "directory_server/text_rules.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <set>

namespace directory {

namespace {

constexpr std::size_t kMaxIdDigits = 9;
constexpr std::size_t kMaxHeatDigits = 12;

bool IsServedUrl(std::string_view url) {
    if (url.find(' ') != std::string_view::npos) {
        return false;
    }
    if (url.starts_with('/')) {
        return true;
    }
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == 0 || schemeEnd == std::string_view::npos || schemeEnd + 3 == url.size()) {
        return false;
    }
    return std::all_of(url.begin(), url.begin() + schemeEnd, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '-' || c == '.';
    });
}

std::vector<std::string> SplitFields(std::string_view line) {
    std::vector<std::string> fields;
    for (const std::string_view field : SplitAt(line, '|')) {
        fields.push_back(NormaliseSpaces(field));
    }
    return fields;
}

// The station on the line, or why there is none.
std::optional<Station> ParseLine(std::string_view line, std::string &problem) {
    std::vector<std::string> fields = SplitFields(line);
    if (fields.size() < 4 || fields.size() > 6) {
        problem = "needs the fields id | region | title | url [| starting heat [| key]]";
        return std::nullopt;
    }
    static constexpr std::array kNames = {"id", "region", "title", "url", "starting heat", "key"};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string why = MarkerProblem(fields[i]);
        if (!why.empty()) {
            problem = std::string(kNames[i]) + " " + why;
            return std::nullopt;
        }
    }
    Station station{fields[0], fields[1], fields[2], fields[3], 0};
    if (!AllDigits(station.id, kMaxIdDigits)) {
        problem = "the id must be 1 to 9 digits";
    } else if (station.title.empty()) {
        problem = "the title is empty";
    } else if (!IsServedUrl(station.url)) {
        problem = "the url must be absolute (scheme://…) or a path starting with /";
    } else if (fields.size() >= 5 && !AllDigits(fields[4], kMaxHeatDigits)) {
        problem = "the starting heat must be a whole number";
    }
    if (!problem.empty()) {
        return std::nullopt;
    }
    if (fields.size() >= 5) {
        std::from_chars(fields[4].data(), fields[4].data() + fields[4].size(),
                        station.startingHeat);
    }
    if (fields.size() == 6) {
        station.key = fields[5];
    }
    return station;
}

} // namespace

std::string StationListText(const std::vector<Station> &stations) {
    std::string text;
    for (const Station &station : stations) {
        text += station.id + " | " + station.region + " | " + station.title + " | " + station.url +
                " | " + std::to_string(station.startingHeat);
        if (!station.key.empty() && station.key != station.url) {
            text += " | " + station.key;
        }
        text += '\n';
    }
    return text;
}

std::vector<NumberedLine> Lines(std::string_view text) {
    std::vector<NumberedLine> lines;
    std::size_t start = 0;
    for (std::size_t number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.push_back({number, line});
        start = end + 1;
    }
    return lines;
}

std::vector<NumberedLine> ContentLines(std::string_view text) {
    std::vector<NumberedLine> lines = Lines(text);
    std::erase_if(lines, [](const NumberedLine &line) {
        const std::string trimmed = NormaliseSpaces(line.text);
        return trimmed.empty() || trimmed.starts_with('#');
    });
    return lines;
}

StationList ParseStationList(std::string_view text) {
    StationList list;
    std::set<std::string> ids;
    const std::vector<NumberedLine> lines = ContentLines(text);
    list.stations.reserve(lines.size());
    list.lines.reserve(lines.size());
    for (const NumberedLine &line : lines) {
        std::string problem;
        std::optional<Station> station = ParseLine(line.text, problem);
        if (station && !ids.insert(station->id).second) {
            problem = "the id " + station->id + " is already used above";
            station.reset();
        }
        if (station) {
            list.stations.push_back(std::move(*station));
            list.lines.push_back(line.number);
        } else {
            list.problems.push_back("line " + std::to_string(line.number) + ": " + problem);
        }
    }
    return list;
}

} // namespace directory
