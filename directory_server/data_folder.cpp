#include "directory_server/data_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace directory {

namespace {

constexpr std::size_t kMaxDataFileSize = 16 * 1024 * 1024;

using File = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

File OpenFile(const std::string &path, const char *mode) {
    return File(std::fopen(path.c_str(), mode), &std::fclose);
}

void WriteDemoFile(const std::string &path, std::string_view content) {
    File file = OpenFile(path, "wx");
    if (!file || std::fwrite(content.data(), 1, content.size(), file.get()) != content.size() ||
        std::fflush(file.get()) != 0) {
        throw DataFolderError("cannot write " + path + ": " + std::strerror(errno));
    }
}

} // namespace

DataFiles DataFilesIn(const std::string &dir) {
    const std::filesystem::path folder(dir);
    return {(folder / "stations.txt").string(), (folder / "announcements.txt").string(),
            (folder / "directory.sqlite3").string()};
}

bool FillWithDemoIfEmpty(const std::string &dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        throw DataFolderError("cannot create data folder " + dir + ": " + error.message());
    }
    const bool empty = std::filesystem::is_empty(dir, error);
    if (error) {
        throw DataFolderError("cannot read data folder " + dir + ": " + error.message());
    }
    if (!empty) {
        return false;
    }
    const DataFiles files = DataFilesIn(dir);
    WriteDemoFile(files.stations, kDemoStations);
    WriteDemoFile(files.announcements, kDemoAnnouncements);
    return true;
}

std::string ReadDataFile(const std::string &path, std::string_view what) {
    const std::string failure = "cannot read " + std::string(what) + " " + path + ": ";
    File file = OpenFile(path, "rb");
    if (!file) {
        throw DataFolderError(failure + std::strerror(errno));
    }
    std::string content;
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        content.append(buffer, count);
        if (content.size() > kMaxDataFileSize) {
            throw DataFolderError(failure + "larger than 16 MiB");
        }
    }
    if (std::ferror(file.get()) != 0) {
        throw DataFolderError(failure + std::strerror(errno));
    }
    return content;
}

} // namespace directory
