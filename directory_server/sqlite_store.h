// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/data_folder.h"
#include "directory_server/group_commit.h"
#include "directory_server/store.h"
#include "directory_server/watch_thread.h"

#include <memory>
#include <mutex>
#include <span>
#include <string>

struct sqlite3;

namespace directory {

// The store of a data folder: its station list and announcements (the text
// files, which the admin commands rewrite whole), and a SQLite database file
// holding the heat of each station, the board messages and the plays each
// client had counted lately. One connection shared by all threads behind a
// mutex; write-ahead log with full synchronous commits, so every write that
// returned is on disk. Other processes on the same folder (the admin
// commands, a second server) are noticed by watch().
class SqliteStore : public Store {
public:
    // Opens or creates the database file and brings its schema up to the last
    // of migrations; throws StoreError.
    // lists names the data folder's text files; without them the lists live
    // only in this object.
    explicit SqliteStore(const std::string &path,
                         std::span<const Migration> migrations = SqliteMigrations(),
                         DataFiles lists = {}, LogLine log = {});
    ~SqliteStore() override;

    SqliteStore(const SqliteStore &) = delete;
    SqliteStore &operator=(const SqliteStore &) = delete;

    void adoptDataLists(DataLists lists) override;
    SharedStations stations() override;
    std::vector<std::string> announcements() override;
    void forEachHeat(const std::function<void(const std::string &, std::int64_t)> &each) override;
    bool countPlay(const std::string &stationId, const std::string &client = {}) override;
    MessageOutcome storeMessage(const BoardMessage &message) override;
    void setFairShares(const FairShares &shares) override;
    void replaceStations(const std::vector<Station> &stations) override;
    void replaceAnnouncements(const std::vector<std::string> &texts) override;
    void setHeat(const std::string &stationId, std::int64_t plays) override;
    std::vector<StoredMessage> messages(const std::string &since) override;
    bool answers(std::chrono::milliseconds within) override;
    // Looks a few times a second for lists rewritten and heat counted by
    // other processes; its own plays it does not announce.
    void watch(Changed changed) override;
    bool announcesChanges() const override { return false; }

private:
    class Statement;
    void execute(const std::string &sql);
    // Runs work in one transaction, committed, or rolled back when it throws.
    void transaction(const std::function<void()> &work);
    void commit(WriteGroup &group);
    // Stores the starting heat of the stations not counted yet.
    void seedHeat(const std::vector<Station> &stations);
    void watchChanges(const Changed &changed);

    const DataFiles files_;
    const LogLine log_;
    std::timed_mutex mutex_;
    sqlite3 *db_ = nullptr;
    SharedStations stations_ = std::make_shared<const std::vector<Station>>(); // under mutex_
    std::vector<std::string> announcements_;                                   // under mutex_
    std::int64_t nextSweep_ = 0; // when to drop the expired play windows, under mutex_
    std::unique_ptr<GroupCommit> writes_;
    WatchThread watcher_;
};

} // namespace directory
