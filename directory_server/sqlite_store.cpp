// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/sqlite_store.h"

#include "directory_server/schema.h"
#include "directory_server/text_rules.h"

#include <algorithm>
#include <ctime>
#include <sqlite3.h>
#include <sys/stat.h>
#include <vector>

namespace directory {

namespace {

constexpr int kBusyTimeoutMs = 5000;
// How often the watcher looks for changes made by other processes.
constexpr std::chrono::milliseconds kWatchGap{250};
// How often counted plays whose window has passed are dropped.
constexpr std::int64_t kSweepSeconds = 60;

// The first version is the schema of the servers before migrations were
// recorded: their databases take it as it is.
constexpr Migration kMigrations[] = {
    {1, R"sql(
CREATE TABLE IF NOT EXISTS heat (
    station TEXT PRIMARY KEY,
    plays INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS messages (
    id INTEGER PRIMARY KEY,
    received TEXT NOT NULL DEFAULT (datetime('now')),
    client TEXT NOT NULL,
    body NOT NULL
);
)sql"},
    // Fair shares: the plays each client had counted lately, and the
    // messages of a client by time.
    {2, R"sql(
CREATE TABLE play_windows (
    client TEXT NOT NULL,
    station TEXT NOT NULL,
    until INTEGER NOT NULL,
    PRIMARY KEY (client, station)
) WITHOUT ROWID;
CREATE INDEX messages_by_client ON messages(client, received);
)sql"},
};

// What identifies a version of a file: it is replaced whole, so a new inode
// or time tells it changed.
struct FileStamp {
    ino_t inode = 0;
    std::int64_t modifiedNs = 0;
    off_t size = 0;
    bool operator==(const FileStamp &) const = default;
};

FileStamp StampOf(const std::string &path) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) {
        return {};
    }
    return {info.st_ino, info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec, info.st_size};
}

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

} // namespace

// A prepared statement that finalises itself.
class SqliteStore::Statement {
public:
    Statement(sqlite3 *db, const char *sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
            throw StoreError(sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    void bindText(int index, std::string_view text) {
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void bindBlob(int index, const std::string &bytes) {
        sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
    }
    void bindInt(int index, std::int64_t value) { sqlite3_bind_int64(statement_, index, value); }
    void reset() { sqlite3_reset(statement_); }

    // Steps once; true while a row is ready, false when done.
    bool step() {
        const int result = sqlite3_step(statement_);
        if (result != SQLITE_ROW && result != SQLITE_DONE) {
            throw StoreError(sqlite3_errmsg(db_));
        }
        return result == SQLITE_ROW;
    }
    std::string text(int column) const {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(statement_, column));
        return data == nullptr ? std::string() : std::string(data);
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }

private:
    sqlite3 *db_;
    sqlite3_stmt *statement_ = nullptr;
};

SqliteStore::SqliteStore(const std::string &path, std::span<const Migration> migrations,
                         DataFiles lists, LogLine log)
    : files_(std::move(lists)), log_(std::move(log)) {
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw StoreError("cannot open database " + path + ": " + why);
    }
    try {
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        execute("PRAGMA journal_mode=WAL");
        execute("PRAGMA synchronous=FULL");
        SchemaConnection connection{
            [this](const std::string &sql) { execute(sql); },
            [this] {
                Statement select(db_, "SELECT coalesce(max(version), 0) FROM schema_migrations");
                select.step();
                return static_cast<int>(select.integer(0));
            },
            "BEGIN IMMEDIATE"};
        UpgradeSchema(connection, migrations, "database " + path);
    } catch (const SchemaTooNew &) {
        sqlite3_close(db_);
        throw;
    } catch (const StoreError &error) {
        sqlite3_close(db_);
        throw StoreError("cannot open database " + path + ": " + error.what());
    }
    writes_ = std::make_unique<GroupCommit>([this](WriteGroup &group) { commit(group); });
}

SqliteStore::~SqliteStore() {
    watcher_.stop();
    writes_.reset();
    sqlite3_close(db_);
}

void SqliteStore::execute(const std::string &sql) {
    char *message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw StoreError(why);
    }
}

void SqliteStore::transaction(const std::function<void()> &work) {
    std::lock_guard lock(mutex_);
    execute("BEGIN IMMEDIATE");
    try {
        work();
        execute("COMMIT");
    } catch (const StoreError &) {
        execute("ROLLBACK");
        throw;
    }
}

void SqliteStore::seedHeat(const std::vector<Station> &stations) {
    transaction([&] {
        Statement insert(db_, "INSERT OR IGNORE INTO heat(station, plays) VALUES(?, ?)");
        for (const Station &station : stations) {
            insert.bindText(1, station.id);
            insert.bindInt(2, station.startingHeat);
            insert.step();
            insert.reset();
        }
    });
}

void SqliteStore::adoptDataLists(DataLists lists) {
    seedHeat(lists.stations);
    auto stations = std::make_shared<const std::vector<Station>>(std::move(lists.stations));
    const std::lock_guard lock(mutex_);
    stations_ = std::move(stations);
    announcements_ = std::move(lists.announcements);
}

SharedStations SqliteStore::stations() {
    const std::lock_guard lock(mutex_);
    return stations_;
}

std::vector<std::string> SqliteStore::announcements() {
    const std::lock_guard lock(mutex_);
    return announcements_;
}

void SqliteStore::forEachHeat(const std::function<void(const std::string &, std::int64_t)> &each) {
    std::lock_guard lock(mutex_);
    Statement select(db_, "SELECT station, plays FROM heat");
    while (select.step()) {
        each(select.text(0), select.integer(1));
    }
}

bool SqliteStore::countPlay(const std::string &stationId, const std::string &client) {
    return writes_->countPlay(stationId, client);
}

MessageOutcome SqliteStore::storeMessage(const BoardMessage &message) {
    return writes_->storeMessage(message);
}

void SqliteStore::setFairShares(const FairShares &shares) {
    writes_->setShares(shares);
}

void SqliteStore::replaceStations(const std::vector<Station> &stations) {
    // The list first, replaced whole: a failure leaves everything as it was.
    // The starting heat follows; a server reloading the list in between
    // stores the same.
    if (!files_.stations.empty()) {
        try {
            WriteDataFile(files_.stations, StationListText(stations));
        } catch (const DataFolderError &error) {
            throw StoreError(error.what());
        }
    }
    seedHeat(stations);
    auto shared = std::make_shared<const std::vector<Station>>(stations);
    const std::lock_guard lock(mutex_);
    stations_ = std::move(shared);
}

void SqliteStore::replaceAnnouncements(const std::vector<std::string> &texts) {
    if (!files_.announcements.empty()) {
        try {
            WriteDataFile(files_.announcements, AnnouncementsText(texts));
        } catch (const DataFolderError &error) {
            throw StoreError(error.what());
        }
    }
    const std::lock_guard lock(mutex_);
    announcements_ = texts;
}

void SqliteStore::setHeat(const std::string &stationId, std::int64_t plays) {
    transaction([&] {
        Statement upsert(db_, "INSERT INTO heat(station, plays) VALUES(?, ?) "
                              "ON CONFLICT(station) DO UPDATE SET plays = excluded.plays");
        upsert.bindText(1, stationId);
        upsert.bindInt(2, plays);
        upsert.step();
    });
}

std::vector<StoredMessage> SqliteStore::messages(const std::string &since) {
    std::lock_guard lock(mutex_);
    Statement select(db_, "SELECT id, received, client, CAST(body AS BLOB) FROM messages "
                          "WHERE received >= ? ORDER BY id DESC");
    select.bindText(1, since);
    std::vector<StoredMessage> found;
    while (select.step()) {
        found.push_back({select.integer(0), select.text(1), select.text(2), select.text(3)});
    }
    return found;
}

void SqliteStore::watch(Changed changed) {
    if (files_.stations.empty()) {
        return; // only this object holds the lists
    }
    watcher_.start([this, changed = std::move(changed)] { watchChanges(changed); });
}

// Other processes change the lists by replacing their files, and the heat by
// committing to the database, which data_version tells.
void SqliteStore::watchChanges(const Changed &changed) {
    FileStamp stations = StampOf(files_.stations);
    FileStamp announcements = StampOf(files_.announcements);
    auto dataVersion = [this] {
        std::lock_guard lock(mutex_);
        Statement select(db_, "PRAGMA data_version");
        select.step();
        return select.integer(0);
    };
    std::int64_t version = dataVersion();
    for (;;) {
        if (watcher_.stoppedBy(std::chrono::steady_clock::now() + kWatchGap)) {
            return;
        }
        unsigned kinds = 0;
        try {
            const FileStamp nowStations = StampOf(files_.stations);
            const FileStamp nowAnnouncements = StampOf(files_.announcements);
            if (nowStations != stations || nowAnnouncements != announcements) {
                stations = nowStations;
                announcements = nowAnnouncements;
                adoptDataLists(ReadDataLists(
                    files_, log_ ? log_ : [](const std::string &) {}));
                kinds |= kEverythingChanged;
            }
            const std::int64_t nowVersion = dataVersion();
            if (nowVersion != version) {
                version = nowVersion;
                kinds |= kHeatChanged;
            }
        } catch (const std::runtime_error &error) {
            if (log_) {
                log_(std::string("warning: ") + error.what());
            }
        }
        if (kinds != 0) {
            changed(kinds);
        }
    }
}

bool SqliteStore::answers(std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_, within);
    if (!lock.owns_lock()) {
        return false;
    }
    try {
        Statement select(db_, "SELECT 1");
        return select.step();
    } catch (const StoreError &) {
        return false;
    }
}

void SqliteStore::commit(WriteGroup &group) {
    transaction([&] {
        const std::int64_t now = Now();
        const std::int64_t window = group.shares.reportWindow.count();
        Statement claim(db_, "INSERT INTO play_windows(client, station, until) VALUES(?, ?, ?) "
                             "ON CONFLICT(client, station) DO UPDATE SET until = excluded.until "
                             "WHERE until <= ?");
        Statement upsert(db_, "INSERT INTO heat(station, plays) VALUES(?, 1) "
                              "ON CONFLICT(station) DO UPDATE SET plays = plays + 1");
        for (const Play &play : group.plays) {
            bool counts = true;
            if (window > 0 && !play.client.empty()) {
                claim.bindText(1, play.client);
                claim.bindText(2, play.station);
                claim.bindInt(3, now + window);
                claim.bindInt(4, now);
                claim.step();
                claim.reset();
                counts = sqlite3_changes(db_) == 1;
            }
            if (counts) {
                upsert.bindText(1, play.station);
                upsert.step();
                upsert.reset();
            }
            group.counted.push_back(counts);
        }
        if (now >= nextSweep_) {
            nextSweep_ = now + kSweepSeconds;
            Statement sweep(db_, "DELETE FROM play_windows WHERE until <= ?");
            sweep.bindInt(1, now);
            sweep.step();
        }
        if (group.messages.empty()) {
            return;
        }
        Statement size(db_, "SELECT coalesce(sum(length(CAST(body AS BLOB))), 0) FROM messages");
        size.step();
        std::int64_t stored = size.integer(0);
        Statement recent(db_, "SELECT count(*), coalesce(min(CAST(strftime('%s', received) AS "
                              "INTEGER)), 0) FROM messages "
                              "WHERE client = ? AND received > datetime(?, 'unixepoch')");
        Statement insert(db_, "INSERT INTO messages(client, body) VALUES(?, ?)");
        for (const BoardMessage &message : group.messages) {
            recent.bindText(1, message.client);
            recent.bindInt(2, now - 3600);
            recent.step();
            const std::int64_t posted = recent.integer(0);
            const std::int64_t oldest = recent.integer(1);
            recent.reset();
            const auto bytes = static_cast<std::int64_t>(message.body.size());
            if (posted >= group.shares.messagesPerHour) {
                group.outcomes.push_back(
                    {MessageOutcome::TooMany,
                     static_cast<int>(std::max<std::int64_t>(1, oldest + 3600 - now))});
                continue;
            }
            if (stored + bytes > group.shares.boardBytes) {
                group.outcomes.push_back({MessageOutcome::BoardFull});
                continue;
            }
            insert.bindText(1, message.client);
            if (IsValidUtf8(message.body)) {
                insert.bindText(2, message.body);
            } else {
                insert.bindBlob(2, message.body);
            }
            insert.step();
            insert.reset();
            stored += bytes;
            group.outcomes.push_back({});
        }
    });
}

std::span<const Migration> SqliteMigrations() {
    return kMigrations;
}

} // namespace directory
