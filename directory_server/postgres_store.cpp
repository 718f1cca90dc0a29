// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/postgres_store.h"

#include "directory_server/schema.h"

#include <algorithm>
#include <set>

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
    // What makes a station the same in the next import; fair shares: the
    // plays each client had counted lately, and the messages of a client by
    // time.
    {3, R"sql(
ALTER TABLE stations ADD COLUMN key text NOT NULL DEFAULT '';
CREATE TABLE play_windows (
    client text NOT NULL,
    station text NOT NULL,
    until timestamptz NOT NULL,
    PRIMARY KEY (client, station)
);
CREATE INDEX messages_by_client ON messages(client, received);
)sql"},
};

// How often counted plays whose window has passed are dropped.
constexpr std::chrono::seconds kSweepGap{60};

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

// Plays of a group that count only once per client and station in the window
// ($3 seconds): the pairs (client, station) that counted. A pair another
// server counts at the same moment waits for it, then finds its window taken.
constexpr const char *kCountPlaysInWindow = R"sql(
WITH claimed AS (
    INSERT INTO play_windows(client, station, until)
    SELECT DISTINCT client, station, now() + make_interval(secs => $3::bigint)
    FROM unnest($1::text[], $2::text[]) AS played(station, client)
    ORDER BY client, station
    ON CONFLICT (client, station) DO UPDATE SET until = excluded.until
        WHERE play_windows.until <= now()
    RETURNING client, station
), counted AS (
    INSERT INTO heat(station, plays)
    SELECT station, count(*) FROM claimed GROUP BY station ORDER BY station
    ON CONFLICT (station) DO UPDATE SET plays = heat.plays + excluded.plays
)
SELECT client, station, pg_notify('quorvel_directory', 'heat') FROM claimed
)sql";

constexpr const char *kSeedStations = R"sql(
INSERT INTO stations(id, position, region, title, url, key)
SELECT id, position, region, title, url, key
FROM unnest($1::text[], $2::text[], $3::text[], $4::text[], $5::text[])
    WITH ORDINALITY AS listed(id, region, title, url, key, position)
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

// Adds the stations after those listed, and the starting heat of those not
// counted yet.
void SeedStations(PgConnection &connection, const std::vector<Station> &stations) {
    connection.run(kSeedStations, {ArrayOf(stations, [](const Station &s) { return s.id; }),
                                   ArrayOf(stations, [](const Station &s) { return s.region; }),
                                   ArrayOf(stations, [](const Station &s) { return s.title; }),
                                   ArrayOf(stations, [](const Station &s) { return s.url; }),
                                   ArrayOf(stations, [](const Station &s) { return s.key; })});
    connection.run(kSeedHeat, {ArrayOf(stations, [](const Station &s) { return s.id; }),
                               ArrayOf(stations, [](const Station &s) {
                                   return std::to_string(s.startingHeat);
                               })});
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
    try {
        reader_.connect(Clock::now() + PgConnection::kExchangeLimit);
    } catch (const StoreUnavailable &error) {
        throw StoreError(std::string("cannot reach ") + error.what());
    }
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
    writes_ = std::make_unique<GroupCommit>([this](WriteGroup &group) { commit(group); });
}

PostgresStore::~PostgresStore() {
    watcher_.stop();
    writes_.reset();
}

void PostgresStore::adoptDataLists(DataLists lists) {
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
            SeedStations(connection, lists.stations);
            connection.run(kSeedAnnouncements,
                           {ArrayOf(lists.announcements, [](const std::string &s) { return s; })});
            connection.run(kNotifyEverything);
        });
    });
}

SharedStations PostgresStore::stations() {
    return read([](PgConnection &connection) {
        const PgRows rows = connection.run(
            "SELECT id, region, title, url, key FROM stations ORDER BY position, id");
        std::vector<Station> stations;
        stations.reserve(static_cast<std::size_t>(rows.count()));
        for (int row = 0; row < rows.count(); ++row) {
            stations.push_back({rows.text(row, 0), rows.text(row, 1), rows.text(row, 2),
                                rows.text(row, 3), 0, rows.text(row, 4)});
        }
        return std::make_shared<const std::vector<Station>>(std::move(stations));
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

bool PostgresStore::countPlay(const std::string &stationId, const std::string &client) {
    return writes_->countPlay(stationId, client);
}

MessageOutcome PostgresStore::storeMessage(const BoardMessage &message) {
    return writes_->storeMessage(message);
}

void PostgresStore::setFairShares(const FairShares &shares) {
    writes_->setShares(shares);
}

void PostgresStore::replaceStations(const std::vector<Station> &stations) {
    read([&](PgConnection &connection) {
        Transaction(connection, [&] {
            connection.run(std::string("SELECT pg_advisory_xact_lock(") + kLockKey + ")", {},
                           kLockLimit);
            connection.run("DELETE FROM stations");
            SeedStations(connection, stations);
            connection.run("SELECT pg_notify('quorvel_directory', 'stations')");
        });
    });
}

void PostgresStore::replaceAnnouncements(const std::vector<std::string> &texts) {
    read([&](PgConnection &connection) {
        Transaction(connection, [&] {
            connection.run(std::string("SELECT pg_advisory_xact_lock(") + kLockKey + ")", {},
                           kLockLimit);
            connection.run("DELETE FROM announcements");
            connection.run(kSeedAnnouncements,
                           {ArrayOf(texts, [](const std::string &s) { return s; })});
            connection.run("SELECT pg_notify('quorvel_directory', 'announcements')");
        });
    });
}

void PostgresStore::setHeat(const std::string &stationId, std::int64_t plays) {
    read([&](PgConnection &connection) {
        Transaction(connection, [&] {
            connection.run("INSERT INTO heat(station, plays) VALUES($1, $2::bigint) "
                           "ON CONFLICT (station) DO UPDATE SET plays = excluded.plays",
                           {{stationId}, {std::to_string(plays)}});
            connection.run("SELECT pg_notify('quorvel_directory', 'heat')");
        });
    });
}

std::vector<StoredMessage> PostgresStore::messages(const std::string &since) {
    return read([&](PgConnection &connection) {
        const PgRows rows = connection.run(
            "SELECT id, to_char(received AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS'), client, "
            "encode(body, 'hex') FROM messages "
            "WHERE received >= (coalesce(nullif($1, ''), '-infinity')::timestamp AT TIME ZONE "
            "'UTC') ORDER BY id DESC",
            {{since}});
        std::vector<StoredMessage> found;
        for (int row = 0; row < rows.count(); ++row) {
            const std::string hex = rows.text(row, 3);
            std::string body;
            for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
                body += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
            }
            found.push_back({rows.integer(row, 0), rows.text(row, 1), rows.text(row, 2), body});
        }
        return found;
    });
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
    watcher_.start([this] { watchChanges(); });
}

void PostgresStore::commit(WriteGroup &group) {
    // Servers committing plays of the same stations at once may still find
    // themselves waiting on each other; the database then ends one of the
    // transactions, and it is tried again.
    for (int attempt = 1;; ++attempt) {
        try {
            group.counted.clear();
            group.outcomes.clear();
            if (group.messages.empty() && !sweepDue() && playsInOneStatement(group)) {
                countPlays(group); // one statement: a transaction of its own, one exchange
                return;
            }
            Transaction(writer_, [&] {
                countPlays(group);
                storeMessages(group);
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

// Plays without a client or window all count; the others once per client and
// station in the window.
void PostgresStore::countPlays(WriteGroup &group) {
    const std::int64_t window = group.shares.reportWindow.count();
    std::vector<std::string> free;
    std::vector<const Play *> windowed;
    for (const Play &play : group.plays) {
        if (window > 0 && !play.client.empty()) {
            windowed.push_back(&play);
        } else {
            free.push_back(play.station);
        }
    }
    group.counted.assign(group.plays.size(), true);
    if (!free.empty()) {
        writer_.run(kCountPlays, {ArrayOf(free, [](const std::string &s) { return s; })});
    }
    if (windowed.empty()) {
        return;
    }
    const PgRows claimed = writer_.run(kCountPlaysInWindow,
                                       {ArrayOf(windowed, [](const Play *p) { return p->station; }),
                                        ArrayOf(windowed, [](const Play *p) { return p->client; }),
                                        {std::to_string(window)}});
    std::set<std::pair<std::string, std::string>> counts;
    for (int row = 0; row < claimed.count(); ++row) {
        counts.emplace(claimed.text(row, 0), claimed.text(row, 1));
    }
    // Each pair that counted counts for its first play in the group.
    for (std::size_t i = 0; i < group.plays.size(); ++i) {
        const Play &play = group.plays[i];
        if (window > 0 && !play.client.empty()) {
            group.counted[i] = counts.erase({play.client, play.station}) == 1;
        }
    }
    if (sweepDue()) {
        nextSweep_ = Clock::now() + kSweepGap;
        writer_.run("DELETE FROM play_windows WHERE until <= now()");
    }
}

bool PostgresStore::sweepDue() const {
    return Clock::now() >= nextSweep_;
}

bool PostgresStore::playsInOneStatement(const WriteGroup &group) {
    const bool windowed = group.shares.reportWindow.count() > 0;
    return std::all_of(group.plays.begin(), group.plays.end(),
                       [&](const Play &play) { return windowed && !play.client.empty(); }) ||
           std::none_of(group.plays.begin(), group.plays.end(),
                        [&](const Play &play) { return windowed && !play.client.empty(); });
}

// Each client's messages of the last hour are counted under a lock of that
// client, taken in order of client, so servers storing at once count each
// other's.
void PostgresStore::storeMessages(WriteGroup &group) {
    if (group.messages.empty()) {
        return;
    }
    std::set<std::string> clients;
    for (const BoardMessage &message : group.messages) {
        clients.insert(message.client);
    }
    for (const std::string &client : clients) {
        writer_.run("SELECT pg_advisory_xact_lock(hashtext($1))", {{client}});
    }
    std::int64_t stored =
        writer_.run("SELECT coalesce(sum(octet_length(body)), 0) FROM messages").integer(0, 0);
    for (const BoardMessage &message : group.messages) {
        const PgRows recent = writer_.run(
            "SELECT count(*), coalesce(ceil(extract(epoch FROM min(received) + interval '1 hour' "
            "- now())), 0)::bigint FROM messages "
            "WHERE client = $1 AND received > now() - interval '1 hour'",
            {{message.client}});
        const auto bytes = static_cast<std::int64_t>(message.body.size());
        if (recent.integer(0, 0) >= group.shares.messagesPerHour) {
            group.outcomes.push_back(
                {MessageOutcome::TooMany,
                 static_cast<int>(std::max<std::int64_t>(1, recent.integer(0, 1)))});
        } else if (stored + bytes > group.shares.boardBytes) {
            group.outcomes.push_back({MessageOutcome::BoardFull});
        } else {
            writer_.run("INSERT INTO messages(client, body) VALUES($1, $2)",
                        {{message.client}, {message.body, true}});
            stored += bytes;
            group.outcomes.push_back({});
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
        if (watcher_.stoppedBy(Clock::now())) {
            return;
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
            watcher_.stoppedBy(std::max(listener_.nextAttempt(), Clock::now() + kReloadGap));
        }
    }
}

std::span<const Migration> PostgresMigrations() {
    return kMigrations;
}

} // namespace directory
