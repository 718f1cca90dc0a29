#include "directory_server/database.h"

#include "directory_server/text_rules.h"

#include <sqlite3.h>
#include <vector>

namespace directory {

namespace {

constexpr int kBusyTimeoutMs = 5000;

constexpr const char *kSchema = R"sql(
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
)sql";

} // namespace

// A prepared statement that finalises itself.
class Database::Statement {
public:
    Statement(sqlite3 *db, const char *sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
            throw DatabaseError(sqlite3_errmsg(db));
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
            throw DatabaseError(sqlite3_errmsg(db_));
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

// Plays stored in one transaction.
struct Database::PlayGroup {
    std::vector<std::string> stations;
    bool done = false;
    std::string error; // why the group could not be stored
};

Database::Database(const std::string &path) {
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw DatabaseError("cannot open database " + path + ": " + why);
    }
    try {
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        execute("PRAGMA journal_mode=WAL");
        execute("PRAGMA synchronous=FULL");
        execute(kSchema);
    } catch (const DatabaseError &error) {
        sqlite3_close(db_);
        throw DatabaseError("cannot open database " + path + ": " + error.what());
    }
    writer_ = std::thread([this] { writePlays(); });
}

Database::~Database() {
    {
        const std::lock_guard lock(playsMutex_);
        stopping_ = true;
    }
    playsWaiting_.notify_one();
    writer_.join();
    sqlite3_close(db_);
}

void Database::execute(const char *sql) {
    char *message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw DatabaseError(why);
    }
}

void Database::transaction(const std::function<void()> &work) {
    std::lock_guard lock(mutex_);
    execute("BEGIN IMMEDIATE");
    try {
        work();
        execute("COMMIT");
    } catch (const DatabaseError &) {
        execute("ROLLBACK");
        throw;
    }
}

void Database::seedHeat(
    const std::vector<std::pair<std::string_view, std::int64_t>> &startingHeat) {
    transaction([&] {
        Statement insert(db_, "INSERT OR IGNORE INTO heat(station, plays) VALUES(?, ?)");
        for (const auto &[station, heat] : startingHeat) {
            insert.bindText(1, station);
            insert.bindInt(2, heat);
            insert.step();
            insert.reset();
        }
    });
}

void Database::countPlay(const std::string &stationId) {
    std::unique_lock lock(playsMutex_);
    if (!filling_) {
        filling_ = std::make_shared<PlayGroup>();
    }
    const std::shared_ptr<PlayGroup> group = filling_;
    group->stations.push_back(stationId);
    playsWaiting_.notify_one();
    playsStored_.wait(lock, [&] { return group->done; });
    if (!group->error.empty()) {
        throw DatabaseError(group->error);
    }
}

// The writer: takes every play waiting, stores them in one transaction, and
// lets their requests go on; until stopped with nothing waiting.
void Database::writePlays() {
    for (;;) {
        std::shared_ptr<PlayGroup> group;
        {
            std::unique_lock lock(playsMutex_);
            playsWaiting_.wait(lock, [this] { return filling_ || stopping_; });
            if (!filling_) {
                return;
            }
            group = std::move(filling_);
        }
        std::string error;
        try {
            storePlays(*group);
        } catch (const DatabaseError &failure) {
            error = failure.what();
        }
        {
            const std::lock_guard lock(playsMutex_);
            group->error = std::move(error);
            group->done = true;
        }
        playsStored_.notify_all();
    }
}

void Database::storePlays(const PlayGroup &group) {
    transaction([&] {
        Statement upsert(db_, "INSERT INTO heat(station, plays) VALUES(?, 1) "
                              "ON CONFLICT(station) DO UPDATE SET plays = plays + 1");
        for (const std::string &station : group.stations) {
            upsert.bindText(1, station);
            upsert.step();
            upsert.reset();
        }
    });
}

void Database::forEachHeat(const std::function<void(const std::string &, std::int64_t)> &each) {
    std::lock_guard lock(mutex_);
    Statement select(db_, "SELECT station, plays FROM heat");
    while (select.step()) {
        each(select.text(0), select.integer(1));
    }
}

void Database::storeMessage(const BoardMessage &message) {
    std::lock_guard lock(mutex_);
    Statement insert(db_, "INSERT INTO messages(client, body) VALUES(?, ?)");
    insert.bindText(1, message.client);
    if (IsValidUtf8(message.body)) {
        insert.bindText(2, message.body);
    } else {
        insert.bindBlob(2, message.body);
    }
    insert.step();
}

} // namespace directory
