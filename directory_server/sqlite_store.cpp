#include "directory_server/sqlite_store.h"

#include "directory_server/schema.h"
#include "directory_server/text_rules.h"

#include <sqlite3.h>
#include <vector>

namespace directory {

namespace {

constexpr int kBusyTimeoutMs = 5000;

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
};

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

SqliteStore::SqliteStore(const std::string &path, std::span<const Migration> migrations) {
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
    writes_ = std::make_unique<GroupCommit>([this](const WriteGroup &group) { commit(group); });
}

SqliteStore::~SqliteStore() {
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

void SqliteStore::adoptDataLists(const DataLists &lists) {
    transaction([&] {
        Statement insert(db_, "INSERT OR IGNORE INTO heat(station, plays) VALUES(?, ?)");
        for (const Station &station : lists.stations) {
            insert.bindText(1, station.id);
            insert.bindInt(2, station.startingHeat);
            insert.step();
            insert.reset();
        }
        lists_ = lists;
    });
}

std::vector<Station> SqliteStore::stations() {
    const std::lock_guard lock(mutex_);
    return lists_.stations;
}

std::vector<std::string> SqliteStore::announcements() {
    const std::lock_guard lock(mutex_);
    return lists_.announcements;
}

void SqliteStore::forEachHeat(const std::function<void(const std::string &, std::int64_t)> &each) {
    std::lock_guard lock(mutex_);
    Statement select(db_, "SELECT station, plays FROM heat");
    while (select.step()) {
        each(select.text(0), select.integer(1));
    }
}

void SqliteStore::countPlay(const std::string &stationId) {
    writes_->countPlay(stationId);
}

void SqliteStore::storeMessage(const BoardMessage &message) {
    writes_->storeMessage(message);
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

void SqliteStore::commit(const WriteGroup &group) {
    transaction([&] {
        Statement upsert(db_, "INSERT INTO heat(station, plays) VALUES(?, 1) "
                              "ON CONFLICT(station) DO UPDATE SET plays = plays + 1");
        for (const std::string &station : group.plays) {
            upsert.bindText(1, station);
            upsert.step();
            upsert.reset();
        }
        Statement insert(db_, "INSERT INTO messages(client, body) VALUES(?, ?)");
        for (const BoardMessage &message : group.messages) {
            insert.bindText(1, message.client);
            if (IsValidUtf8(message.body)) {
                insert.bindText(2, message.body);
            } else {
                insert.bindBlob(2, message.body);
            }
            insert.step();
            insert.reset();
        }
    });
}

std::span<const Migration> SqliteMigrations() {
    return kMigrations;
}

} // namespace directory
