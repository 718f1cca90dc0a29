#pragma once

#include "directory_server/group_commit.h"
#include "directory_server/store.h"

#include <memory>
#include <mutex>
#include <span>
#include <string>

struct sqlite3;

namespace directory {

// The store of a single server: the data folder's station list and
// announcements as given, and a SQLite database file holding the heat of each
// station and the board messages. One connection shared by all threads behind
// a mutex; write-ahead log with full synchronous commits, so every write that
// returned is on disk.
class SqliteStore : public Store {
public:
    // Opens or creates the database file and brings its schema up to the last
    // of migrations; throws StoreError.
    explicit SqliteStore(const std::string &path,
                         std::span<const Migration> migrations = SqliteMigrations());
    ~SqliteStore() override;

    SqliteStore(const SqliteStore &) = delete;
    SqliteStore &operator=(const SqliteStore &) = delete;

    void adoptDataLists(const DataLists &lists) override;
    std::vector<Station> stations() override;
    std::vector<std::string> announcements() override;
    void forEachHeat(const std::function<void(const std::string &, std::int64_t)> &each) override;
    void countPlay(const std::string &stationId) override;
    void storeMessage(const BoardMessage &message) override;
    bool answers(std::chrono::milliseconds within) override;
    // No other server writes the file: nothing to watch.
    void watch(Changed) override {}

private:
    class Statement;
    void execute(const std::string &sql);
    // Runs work in one transaction, committed, or rolled back when it throws.
    void transaction(const std::function<void()> &work);
    void commit(const WriteGroup &group);

    std::timed_mutex mutex_;
    sqlite3 *db_ = nullptr;
    DataLists lists_; // under mutex_
    std::unique_ptr<GroupCommit> writes_;
};

} // namespace directory
