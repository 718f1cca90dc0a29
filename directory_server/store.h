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
    virtual void adoptDataLists(const DataLists &lists) = 0;

    // The stations in directory order.
    virtual std::vector<Station> stations() = 0;
    // The announcements in the order they are shown.
    virtual std::vector<std::string> announcements() = 0;
    // Calls each(station id, plays) for every station the store counts.
    virtual void
    forEachHeat(const std::function<void(const std::string &, std::int64_t)> &each) = 0;

    // Adds one play of the station; returns once it is durable. Plays
    // arriving together are committed together.
    virtual void countPlay(const std::string &stationId) = 0;
    // Stores a board message; returns once it is durable.
    virtual void storeMessage(const BoardMessage &message) = 0;

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

// The store the server runs on: PostgreSQL when databaseUri (a libpq
// connection URI, postgresql://…) is given, else the SQLite file sqlitePath.
// Creates or upgrades the schema. Throws StoreError (SchemaTooNew for a
// database newer than this server).
std::unique_ptr<Store> OpenStore(const std::string &databaseUri, const std::string &sqlitePath,
                                 LogLine log);

// The schema steps of each engine, oldest first.
std::span<const Migration> SqliteMigrations();
std::span<const Migration> PostgresMigrations();

} // namespace directory
