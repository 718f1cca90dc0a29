#pragma once

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

// The demo files shipped inside the program.
extern const std::string_view kDemoStations;
extern const std::string_view kDemoAnnouncements;

} // namespace directory
