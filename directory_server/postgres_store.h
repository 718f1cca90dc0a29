// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/group_commit.h"
#include "directory_server/pg_connection.h"
#include "directory_server/store.h"
#include "directory_server/watch_thread.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace directory {

// The store shared by many servers: everything in one PostgreSQL database,
// reached through libpq. Writes go through one connection in groups; reads
// and health checks through a second; a third listens for the changes other
// servers make. While the database is unreachable, every operation throws
// StoreUnavailable at once and the connections are made again by themselves.
class PostgresStore : public Store {
public:
    using Clock = PgConnection::Clock;

    // Connects (uri is a libpq connection URI or string) and brings the schema
    // up to the last of migrations, one server at a time; throws StoreError.
    PostgresStore(const std::string &uri, LogLine log,
                  std::span<const Migration> migrations = PostgresMigrations());
    ~PostgresStore() override;

    PostgresStore(const PostgresStore &) = delete;
    PostgresStore &operator=(const PostgresStore &) = delete;

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
    void watch(Changed changed) override;
    bool announcesChanges() const override { return true; }

private:
    // Runs work with the reading connection, waiting at most limit for it.
    template <class Work>
    auto read(Work work, std::chrono::milliseconds limit = PgConnection::kExchangeLimit);
    void commit(WriteGroup &group);
    void countPlays(WriteGroup &group);
    // Whether the play windows are to be swept in this commit.
    bool sweepDue() const;
    // Whether countPlays needs only one statement for the group's plays.
    static bool playsInOneStatement(const WriteGroup &group);
    void storeMessages(WriteGroup &group);
    void watchChanges();

    Reachability reachability_;
    std::timed_mutex readerMutex_;
    PgConnection reader_;
    PgConnection writer_;   // only the group commit's writer uses it
    PgConnection listener_; // only the watcher uses it
    Changed changed_;
    WatchThread watcher_;
    Clock::time_point nextSweep_{}; // when to drop the expired play windows
    std::unique_ptr<GroupCommit> writes_;
};

} // namespace directory
