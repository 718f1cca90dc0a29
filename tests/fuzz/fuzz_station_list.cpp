// SPDX-License-Identifier: GPL-3.0-or-later

// Input: the companion server's station file.
#include "directory_server/station_list.h"
#include "tests/fuzz/fuzz_input.h"

#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const directory::StationList list = directory::ParseStationList(text);
    // Every content line is either served or described as a problem.
    fuzz::Require(list.stations.size() + list.problems.size() ==
                  directory::ContentLines(text).size());
    std::set<std::string> ids;
    for (const directory::Station &station : list.stations) {
        fuzz::Require(!station.id.empty() && station.id.size() <= 9);
        fuzz::Require(station.id.find_first_not_of("0123456789") == std::string::npos);
        fuzz::Require(!station.title.empty() && !station.url.empty());
        fuzz::Require(station.startingHeat >= 0);
        fuzz::Require(ids.insert(station.id).second);
    }
    return 0;
}
