#include "directory_server/postgres_store.h"

#include "directory_server/schema.h"

#include <algorithm>

namespace directory {

namespace {

using Clock = PgConnection::Clock;
using std::chrono::milliseconds;

// The channel on which every change is announced, its payload naming what changed.
constexpr const char *kListen = "LISTEN quorvel_directory";
// Held while the schema is upgraded or the lists seeded: one server at a time.
constexpr const char *kLockKey = "7170775827";
// How long a server waits for another that upgrades the schema.
constexpr milliseconds kLockLimit{60000};
// The watcher looks at its stop flag at least this often.
constexpr milliseconds kListenSlice{250};
// Changes are reloaded at most this often; those in between are taken together.
constexpr milliseconds kReloadGap{100};

constexpr Migration kMigrations[] = {
    // What a single server keeps.
    {1, R"sql(
CREATE TABLE heat (
    station text PRIMARY KEY,
    plays bigint NOT NULL
);
CREATE TABLE messages (
    id bigserial PRIMARY KEY,
    received timestamptz NOT NULL DEFAULT now(),
    client text NOT NULL,
    body bytea NOT NULL
);
)sql"},
    // The lists that many servers share.
    {2, R"sql(
CREATE TABLE stations (
    id text PRIMARY KEY,
    position bigint NOT NULL,
    region text NOT NULL,
    title text NOT NULL,
    url text NOT NULL
);
CREATE TABLE announcements (
    id bigserial PRIMARY KEY,
    position bigint NOT NULL,
    text text NOT NULL
);
CREATE TABLE settings (
    name text PRIMARY KEY,
    value text NOT NULL
);
)sql"},
};

// Plays of a group, as an array of station ids: one row per station, taken
// in order of id, so that servers committing at once never wait on each other
// in a circle.
constexpr const char *kCountPlays = R"sql(
WITH counted AS (
    INSERT INTO heat(station, plays)
    SELECT station, count(*) FROM unnest($1::text[]) AS played(station)
    GROUP BY station ORDER BY station
    ON CONFLICT (station) DO UPDATE SET plays = heat.plays + excluded.plays
)
SELECT pg_notify('quorvel_directory', 'heat')
)sql";

constexpr const char *kSeedStations = R"sql(
INSERT INTO stations(id, position, region, title, url)
SELECT id, position, region, title, url
FROM unnest($1::text[], $2::text[], $3::text[], $4::text[])
    WITH ORDINALITY AS listed(id, region, title, url, position)
)sql";

constexpr const char *kSeedHeat = R"sql(
INSERT INTO heat(station, plays) SELECT * FROM unnest($1::text[], $2::bigint[])
ON CONFLICT (station) DO NOTHING
)sql";

constexpr const char *kSeedAnnouncements = R"sql(
INSERT INTO announcements(position, text)
SELECT position, text FROM unnest($1::text[]) WITH ORDINALITY AS listed(text, position)
)sql";

constexpr const char *kNotifyEverything =
    "SELECT pg_notify('quorvel_directory', 'stations'), "
    "pg_notify('quorvel_directory', 'announcements'), pg_notify('quorvel_directory', 'heat')";

// A text array parameter ("{"a","b"}") of field(item) for each item.
template <class Items, class Field> PgParam ArrayOf(const Items &items, Field field) {
    std::string literal = "{";
    for (const auto &item : items) {
        if (literal.size() > 1) {
            literal += ',';
        }
        literal += '"';
        for (char c : std::string(field(item))) {
            if (c == '"' || c == '\\') {
                literal += '\\';
            }
            literal += c;
        }
        literal += '"';
    }
    literal += '}';
    return {literal};
}

// Runs work in one transaction, committed, or rolled back when it throws.
void Transaction(PgConnection &connection, const std::function<void()> &work) {
    connection.run("BEGIN");
    try {
        work();
        connection.run("COMMIT");
    } catch (const StoreUnavailable &) {
        throw; // the connection is gone, and the transaction with it
    } catch (const StoreError &) {
        try {
            connection.run("ROLLBACK");
        } catch (const StoreError &) {
            // Gone as well.
        }
        throw;
    }
}

unsigned KindOf(const std::string &payload) {
    return payload == "heat"            ? kHeatChanged
           : payload == "stations"      ? kStationsChanged
           : payload == "announcements" ? kAnnouncementsChanged
                                        : kEverythingChanged;
}

milliseconds Left(Clock::time_point deadline) {
    return std::max(milliseconds(0),
                    std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

} // namespace

template <class Work> auto PostgresStore::read(Work work, milliseconds limit) {
    std::unique_lock lock(readerMutex_, limit);
    if (!lock.owns_lock()) {
        throw StoreUnavailable("the database did not answer in time");
    }
    return work(reader_);
}

PostgresStore::PostgresStore(const std::string &uri, LogLine log,
                             std::span<const Migration> migrations)
    : reachability_(std::move(log)), reader_(uri, reachability_), writer_(uri, reachability_),
      listener_(uri, reachability_) {
    read([&](PgConnection &connection) {
        connection.run(std::string("SELECT pg_advisory_lock(") + kLockKey + ")", {}, kLockLimit);
        const SchemaConnection schema{
            [&](const std::string &sql) { connection.run(sql); },
            [&] {
                return static_cast<int>(
                    connection.run("SELECT coalesce(max(version), 0) FROM schema_migrations")
                        .integer(0, 0));
            }};
        UpgradeSchema(schema, migrations, connection.name());
        connection.run(std::string("SELECT pg_advisory_unlock(") + kLockKey + ")");
    });
    writes_ = std::make_unique<GroupCommit>([this](const WriteGroup &group) { commit(group); });
}

PostgresStore::~PostgresStore() {
    {
        const std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    if (watcher_.joinable()) {
        watcher_.join();
    }
    writes_.reset();
}

void PostgresStore::adoptDataLists(const DataLists &lists) {
    read([&](PgConnection &connection) {
        Transaction(connection, [&] {
            connection.run(std::string("SELECT pg_advisory_xact_lock(") + kLockKey + ")", {},
                           kLockLimit);
            if (connection
                    .run("INSERT INTO settings(name, value) VALUES('seeded', now()::text) "
                         "ON CONFLICT DO NOTHING")
                    .affected() == 0) {
                return; // filled before: what the database holds stands
            }
            const auto &stations = lists.stations;
            connection.run(kSeedStations,
                           {ArrayOf(stations, [](const Station &s) { return s.id; }),
                            ArrayOf(stations, [](const Station &s) { return s.region; }),
                            ArrayOf(stations, [](const Station &s) { return s.title; }),
                            ArrayOf(stations, [](const Station &s) { return s.url; })});
            connection.run(kSeedHeat, {ArrayOf(stations, [](const Station &s) { return s.id; }),
                                       ArrayOf(stations, [](const Station &s) {
                                           return std::to_string(s.startingHeat);
                                       })});
            connection.run(kSeedAnnouncements,
                           {ArrayOf(lists.announcements, [](const std::string &s) { return s; })});
            connection.run(kNotifyEverything);
        });
    });
}

std::vector<Station> PostgresStore::stations() {
    return read([](PgConnection &connection) {
        const PgRows rows =
            connection.run("SELECT id, region, title, url FROM stations ORDER BY position, id");
        std::vector<Station> stations;
        stations.reserve(static_cast<std::size_t>(rows.count()));
        for (int row = 0; row < rows.count(); ++row) {
            stations.push_back(
                {rows.text(row, 0), rows.text(row, 1), rows.text(row, 2), rows.text(row, 3), 0});
        }
        return stations;
    });
}

std::vector<std::string> PostgresStore::announcements() {
    return read([](PgConnection &connection) {
        const PgRows rows = connection.run("SELECT text FROM announcements ORDER BY position, id");
        std::vector<std::string> texts;
        for (int row = 0; row < rows.count(); ++row) {
            texts.push_back(rows.text(row, 0));
        }
        return texts;
    });
}

void PostgresStore::forEachHeat(
    const std::function<void(const std::string &, std::int64_t)> &each) {
    read([&](PgConnection &connection) {
        const PgRows rows = connection.run("SELECT station, plays FROM heat");
        for (int row = 0; row < rows.count(); ++row) {
            each(rows.text(row, 0), rows.integer(row, 1));
        }
    });
}

void PostgresStore::countPlay(const std::string &stationId) {
    writes_->countPlay(stationId);
}

void PostgresStore::storeMessage(const BoardMessage &message) {
    writes_->storeMessage(message);
}

bool PostgresStore::answers(milliseconds within) {
    const Clock::time_point deadline = Clock::now() + within;
    try {
        read([&](PgConnection &connection) { connection.run("SELECT 1", {}, Left(deadline)); },
             within);
        return true;
    } catch (const StoreError &) {
        return false;
    }
}

void PostgresStore::watch(Changed changed) {
    changed_ = std::move(changed);
    watcher_ = std::thread([this] { watchChanges(); });
}

void PostgresStore::commit(const WriteGroup &group) {
    // Servers committing plays of the same stations at once may still find
    // themselves waiting on each other; the database then ends one of the
    // transactions, and it is tried again.
    for (int attempt = 1;; ++attempt) {
        try {
            Transaction(writer_, [&] {
                if (!group.plays.empty()) {
                    writer_.run(kCountPlays,
                                {ArrayOf(group.plays, [](const std::string &s) { return s; })});
                }
                for (const BoardMessage &message : group.messages) {
                    writer_.run("INSERT INTO messages(client, body) VALUES($1, $2)",
                                {{message.client}, {message.body, true}});
                }
            });
            return;
        } catch (const StoreUnavailable &) {
            throw;
        } catch (const StoreError &) {
            if (attempt == 3 || !writer_.sqlState().starts_with("40")) {
                throw;
            }
        }
    }
}

// Listens for the changes any server announces and hands them on, several
// at a time when they come fast; after the connection was made (again) it
// hands on everything, since changes may have gone by unheard.
void PostgresStore::watchChanges() {
    unsigned pending = 0;
    Clock::time_point nextReload{};
    for (;;) {
        {
            std::unique_lock lock(stopMutex_);
            if (stopping_) {
                return;
            }
        }
        try {
            if (listener_.connect(Clock::now() + PgConnection::kExchangeLimit)) {
                listener_.run(kListen);
                pending = kEverythingChanged;
            }
            const milliseconds wait = pending != 0 ? Left(nextReload) : kListenSlice;
            for (const std::string &payload : listener_.notifications(wait)) {
                pending |= KindOf(payload);
            }
            if (pending != 0 && Clock::now() >= nextReload) {
                nextReload = Clock::now() + kReloadGap;
                changed_(pending);
                pending = 0;
            }
        } catch (const StoreError &) {
            // Tried again once the connection may be made again; what was
            // pending stays pending.
            std::unique_lock lock(stopMutex_);
            stopped_.wait_until(lock, std::max(listener_.nextAttempt(), Clock::now() + kReloadGap),
                                [this] { return stopping_; });
        }
    }
}

std::span<const Migration> PostgresMigrations() {
    return kMigrations;
}

} // namespace directory
