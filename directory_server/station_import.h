// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/station_list.h"

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Reading station lists from the formats people have them in, and merging
// them into the directory with stable channel numbers.
namespace directory {

// A file that is not a station list this server reads, or that breaks off in
// the middle: the message names where.
class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class ImportFormat { StationList, M3u, Pls, Csv, CommunityJson };

// A station left out of an import, and why.
struct SkippedStation {
    std::string where;  // "stations.csv line 4", "export.json station 17 (line 230)"
    std::string reason; // one of the kSkip… reasons
    std::string detail; // what exactly, for the person importing
};

inline constexpr std::string_view kSkipNoUrl = "no usable http/https url";
inline constexpr std::string_view kSkipNoTitle = "no title";
inline constexpr std::string_view kSkipText = "text the directory cannot show";
inline constexpr std::string_view kSkipBroken = "broken at the last check";
inline constexpr std::string_view kSkipBadLine = "not a station line";
inline constexpr std::string_view kSkipBadId = "malformed id or heat";
inline constexpr std::string_view kSkipDuplicate = "duplicate";

struct ImportSettings {
    bool includeBroken = false; // keep stations the community database found broken
};

// The stations read from files: each with the channel number the file gives
// (our list, a CSV id column) or none, the play count to start from and its
// key (the community database's station uuid, else its url).
struct ImportedStations {
    std::vector<Station> stations;
    std::vector<SkippedStation> skipped;
};

// Makes the station's text fit the directory (spaces normalised, '|' replaced)
// and says why it cannot be served: a kSkip… reason and what exactly; nothing
// when it can. serverPaths allows paths on this server ("/stream/101.mp3").
std::optional<std::pair<std::string_view, std::string>> StationProblem(Station &station,
                                                                       bool serverPaths);

// The text of a file that is UTF-8, else GB18030 (the Chinese national
// charset, a superset of GBK and GB2312), as UTF-8. Throws ImportError naming
// the file and the first byte that is neither.
std::string DecodedText(std::string_view name, std::string_view content);

// The format of a file, judged by its content (the name only decides between
// formats the content allows both of). Throws ImportError when it is none.
ImportFormat DetectImportFormat(std::string_view name, std::string_view content);

// Reads the stations of one file into stations, skipping (into skipped)
// those that cannot be served and those already read (same key or url).
// Throws ImportError, naming the file and where, when the file is malformed.
void ReadImportFile(std::string_view name, std::string_view content, const ImportSettings &settings,
                    ImportedStations &into);

struct ImportCounts {
    std::size_t imported = 0; // new stations
    std::size_t updated = 0;  // known stations whose region, title or url changed
    std::size_t unchanged = 0;
    std::size_t removed = 0;                    // known stations the import left out (with replace)
    std::map<std::string, std::size_t> skipped; // by reason
};

struct ImportPlan {
    std::vector<Station> stations; // the directory after the import, in order
    ImportCounts counts;
};

// The directory after importing stations into current. A station keeps its
// channel number when its key (KeyOf; or, for a file that numbers its
// stations, its id) matches one of the directory; new stations take a free number given in
// the file, else the next number after the highest in use. With replace,
// stations the import does not hold leave the directory. A station's heat is
// its starting heat, which the store gives only to stations it does not
// count yet.
ImportPlan PlanImport(const std::vector<Station> &current, const ImportedStations &imported,
                      bool replace);

// The report printed after an import, one count a line.
std::string ImportReport(const ImportCounts &counts);

} // namespace directory
