// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/data_folder.h"

#include "directory_server/announcements.h"
#include "directory_server/station_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <unistd.h>

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

template <class Loaded>
void LogProblems(const LogLine &log, const std::string &path, const Loaded &loaded) {
    for (const std::string &problem : loaded.problems) {
        log("warning: " + path + " " + problem + "; line left out");
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

void WriteDataFile(const std::string &path, std::string_view content) {
    const std::string temporary = path + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0;
    for (std::size_t done = 0; written && done < content.size();) {
        const ssize_t count = write(fd, content.data() + done, content.size() - done);
        written = count > 0;
        done += written ? static_cast<std::size_t>(count) : 0;
    }
    written = written && fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) {
        close(fd);
    }
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(written ? errno : error);
        std::remove(temporary.c_str());
        throw DataFolderError("cannot write " + path + ": " + why);
    }
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
}

DataLists ReadDataLists(const DataFiles &files, const LogLine &log) {
    StationList list = ParseStationList(ReadDataFile(files.stations, "station list"));
    LogProblems(log, files.stations, list);
    AnnouncementList announcements =
        ParseAnnouncements(ReadDataFile(files.announcements, "announcements"));
    LogProblems(log, files.announcements, announcements);
    return {std::move(list.stations), std::move(announcements.texts)};
}

std::string AnnouncementsText(const std::vector<std::string> &texts) {
    std::string text;
    for (const std::string &line : texts) {
        text += line + "\n";
    }
    return text;
}

} // namespace directory
