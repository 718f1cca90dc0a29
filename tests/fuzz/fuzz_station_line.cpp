// SPDX-License-Identifier: GPL-3.0-or-later

// Input: a directory text, split into lines as the cache file is read back and
// each line read as a station row.
#include "station_data/directory_cache.h"
#include "station_data/station_line.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    for (const QString &line : SplitDirectoryLines(text)) {
        const StationCellViews any = CellViewsOfLine(line);
        const std::optional<StationCells> row = CellsOfStationLine(line);
        fuzz::Require(row.has_value() == !any.id.isEmpty());
        if (row) {
            fuzz::Require(row->id == any.id && row->name == any.name && row->local == any.local);
            fuzz::Require(row->hot.isEmpty() == row->stars.isEmpty());
            fuzz::Require(row->stars.size() <= 5);
            const std::optional<StationCellViews> views = CellViewsOfStationLine(line);
            fuzz::Require(views && views->hot == row->hot && views->stars == row->stars);
        }
    }
    return 0;
}
