// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/store.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace directory {

class DataFolderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The files of a data folder.
struct DataFiles {
    std::string stations;      // stations.txt, the station list
    std::string announcements; // announcements.txt
    std::string database;      // directory.sqlite3, heat and messages
};

DataFiles DataFilesIn(const std::string &dir);

// Creates the folder and writes the demo station list and announcements into it
// when it is missing or empty; returns whether it did. The database is created
// when the server opens it. Throws DataFolderError.
bool FillWithDemoIfEmpty(const std::string &dir);

// The whole file (at most 16 MiB); throws DataFolderError naming what (e.g.
// "station list") and why.
std::string ReadDataFile(const std::string &path, std::string_view what);

// Replaces the file's content at once: readers see the old content or the
// new, never a part; the new is on disk when this returns. Throws
// DataFolderError.
void WriteDataFile(const std::string &path, std::string_view content);

// The station list and announcements of a data folder; lines left out are
// logged. Throws DataFolderError.
DataLists ReadDataLists(const DataFiles &files, const LogLine &log);

// The announcements file's text for the texts.
std::string AnnouncementsText(const std::vector<std::string> &texts);

// The demo files shipped inside the program.
extern const std::string_view kDemoStations;
extern const std::string_view kDemoAnnouncements;

} // namespace directory
