// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/station_list.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace directory {

// Writes one line to the server's log.
using LogLine = std::function<void(const std::string &)>;

// A store operation failed; nothing of it was kept.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The store cannot be reached for now (its database server is down or
// unreachable). Writes are refused until it is back; the client may try again.
class StoreUnavailable : public StoreError {
public:
    using StoreError::StoreError;
};

// The database was made by a newer version of the server: this one refuses it
// rather than misread it.
class SchemaTooNew : public StoreError {
public:
    using StoreError::StoreError;
};

// A message left on the message board.
struct BoardMessage {
    std::string body; // stored as text when UTF-8, else as the bytes that arrived
    std::string client;
};

// A stored board message, as the admin commands list them.
struct StoredMessage {
    std::int64_t id = 0;
    std::string received; // UTC, "YYYY-MM-DD HH:MM:SS"
    std::string client;
    std::string body;
};

// What one client address may count and post, enforced by the store for
// every server sharing it.
struct FairShares {
    // A client's plays of one station count once in this time; 0: every play.
    std::chrono::seconds reportWindow{600};
    // Board messages one client address may post in an hour.
    int messagesPerHour = 10;
    // The size of all stored board messages together.
    std::int64_t boardBytes = 256LL * 1024 * 1024;
};

// What became of a board message.
struct MessageOutcome {
    enum Kind { Stored, TooMany, BoardFull } kind = Stored;
    int retryAfterSeconds = 0; // for TooMany: when the address may post again
};

// One step of a store's schema: migrations run in order of version, each in
// one transaction, and the store records which ran.
struct Migration {
    int version;
    std::string_view sql;
};

// What a change touched, as a set of bits: a watcher reloads only that.
enum ChangeKind : unsigned {
    kHeatChanged = 1,
    kStationsChanged = 2,
    kAnnouncementsChanged = 4,
    kEverythingChanged = kHeatChanged | kStationsChanged | kAnnouncementsChanged,
};

// A station list as the store hands it out: shared, never changed, so the
// server's listing and the store hold one copy between them.
using SharedStations = std::shared_ptr<const std::vector<Station>>;

// The lists of a data folder: the station list (each station with its
// starting heat) and the announcements.
struct DataLists {
    std::vector<Station> stations;
    std::vector<std::string> announcements;
};

// Everything the server keeps: the stations, their heat, the announcements and
// the board messages. Every operation may be called from any thread. Reads and
// writes throw StoreUnavailable while the store cannot be reached and
// StoreError when an operation failed otherwise; a write that returned is
// durable.
class Store {
public:
    // Called on the store's own thread after content changed, through this or
    // any other server sharing the store, with the ChangeKind bits touched.
    using Changed = std::function<void(unsigned kinds)>;

    virtual ~Store() = default;

    // Gives the store the data folder's lists. A store holding the lists in
    // its database takes them only when it has never been filled, and keeps
    // what it holds otherwise; a store serving the data folder's lists takes
    // them as they are and stores the starting heat of stations it does not
    // count yet.
    virtual void adoptDataLists(DataLists lists) = 0;

    // The stations in directory order.
    virtual SharedStations stations() = 0;
    // The announcements in the order they are shown.
    virtual std::vector<std::string> announcements() = 0;
    // Calls each(station id, plays) for every station the store counts.
    virtual void
    forEachHeat(const std::function<void(const std::string &, std::int64_t)> &each) = 0;

    // Adds one play of the station, unless the client (an address; empty:
    // anyone) had a play of it counted within the report window; returns
    // whether it counted, once that is durable. Plays arriving together are
    // committed together.
    virtual bool countPlay(const std::string &stationId, const std::string &client = {}) = 0;
    // Stores a board message, unless its client posted its share of the hour
    // or the board holds its size; returns once that is durable.
    virtual MessageOutcome storeMessage(const BoardMessage &message) = 0;

    // The limits of countPlay and storeMessage (by default, FairShares{}).
    virtual void setFairShares(const FairShares &shares) = 0;

    // Replaces the station list in one transaction: every server sees the
    // whole new list or the old one. Stations the store does not count yet
    // start with their starting heat.
    virtual void replaceStations(const std::vector<Station> &stations) = 0;
    virtual void replaceAnnouncements(const std::vector<std::string> &texts) = 0;
    // Sets a station's play count.
    virtual void setHeat(const std::string &stationId, std::int64_t plays) = 0;
    // Board messages received at or after since (UTC "YYYY-MM-DD[ HH:MM:SS]";
    // empty: all), newest first.
    virtual std::vector<StoredMessage> messages(const std::string &since) = 0;

    // True when the store answers a trivial query within the time.
    virtual bool answers(std::chrono::milliseconds within) = 0;

    // From now on, calls changed whenever content changed through any server
    // sharing the store, this one included (and after the store came back
    // from an outage, with kEverythingChanged). A store no other server
    // shares never calls it. Call once.
    virtual void watch(Changed changed) = 0;
    // True when watch() hands on this server's own changes too; otherwise the
    // server shows what it changed itself.
    virtual bool announcesChanges() const = 0;
};

struct DataFiles;

// The store the server runs on: PostgreSQL when databaseUri (a libpq
// connection URI, postgresql://…) is given, else SQLite in the data folder of
// files (its database file, with the lists in its text files). Creates or
// upgrades the schema. Throws StoreError (SchemaTooNew for a database newer
// than this server).
std::unique_ptr<Store> OpenStore(const std::string &databaseUri, const DataFiles &files,
                                 LogLine log);

// The schema steps of each engine, oldest first.
std::span<const Migration> SqliteMigrations();
std::span<const Migration> PostgresMigrations();

} // namespace directory
