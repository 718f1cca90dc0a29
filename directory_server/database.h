#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

struct sqlite3;

namespace directory {

class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A message left on the message board.
struct BoardMessage {
    std::string body; // stored as text when UTF-8, else as the bytes that arrived
    std::string client;
};

// The server's SQLite database: play counts (heat) and board messages. One
// connection shared by all request threads behind a mutex; write-ahead log with
// full synchronous commits, so every write that returned is on disk. Plays
// arriving together are stored together: a writer thread commits all plays
// waiting at once in one transaction, and each returns once its group is on
// disk.
class Database {
public:
    // Opens or creates the database file; throws DatabaseError.
    explicit Database(const std::string &path);
    ~Database();

    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Gives stations their starting heat unless the database already counts them.
    void seedHeat(const std::vector<std::pair<std::string_view, std::int64_t>> &startingHeat);
    // Adds one play once it is on disk; throws DatabaseError when the play
    // could not be stored.
    void countPlay(const std::string &stationId);
    // Calls each(station, plays) for every station the database counts.
    void forEachHeat(const std::function<void(const std::string &, std::int64_t)> &each);

    // Stores a message; throws DatabaseError when it could not be stored.
    void storeMessage(const BoardMessage &message);

private:
    class Statement;
    struct PlayGroup;
    void execute(const char *sql);
    // Runs work in one transaction, committed, or rolled back when it throws.
    void transaction(const std::function<void()> &work);
    void writePlays();
    void storePlays(const PlayGroup &group);

    std::mutex mutex_;
    sqlite3 *db_ = nullptr;

    std::mutex playsMutex_;
    std::condition_variable playsWaiting_;
    std::condition_variable playsStored_;
    std::shared_ptr<PlayGroup> filling_; // plays waiting for the writer
    bool stopping_ = false;
    std::thread writer_;
};

} // namespace directory
