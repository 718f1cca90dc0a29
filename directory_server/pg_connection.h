// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/store.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace directory {

// Whether the PostgreSQL server answers, as the connections of one store last
// saw it; each change after it was first reached is logged once, not once per
// request.
class Reachability {
public:
    explicit Reachability(LogLine log) : log_(std::move(log)) {}

    void lost(const std::string &why);
    void regained();
    // How many times the server was lost so far: a connection made before
    // the last loss is not trusted after it.
    int losses() const { return losses_; }

private:
    enum class State { NotYetReached, Reachable, Lost };

    const LogLine log_;
    std::mutex mutex_;
    State state_ = State::NotYetReached;
    std::atomic<int> losses_{0};
};

// A parameter of a query: text, or bytes sent as they are (bytea).
struct PgParam {
    std::string value;
    bool binary = false;
};

// The rows of a query's answer, as text.
class PgRows {
public:
    explicit PgRows(pg_result *result) : result_(result, &Clear) {}

    int count() const;
    std::string text(int row, int column) const;
    std::int64_t integer(int row, int column) const;
    // How many rows the command touched.
    long affected() const;

private:
    static void Clear(pg_result *result);
    std::unique_ptr<pg_result, void (*)(pg_result *)> result_;
};

// One connection to PostgreSQL, made again after it broke: not before a
// back-off that doubles with each failed attempt, jittered, capped at 5 s.
// Every exchange is bounded in time; one that takes too long drops the
// connection. Used by one thread at a time.
class PgConnection {
public:
    using Clock = std::chrono::steady_clock;

    PgConnection(std::string uri, Reachability &reachability);
    ~PgConnection();

    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Connects unless connected; true when this call made the connection.
    // Throws StoreUnavailable when it cannot (or the back-off has not passed).
    bool connect(Clock::time_point deadline);
    // Runs sql (several statements when there are no params) and returns the
    // last answer's rows. Throws StoreUnavailable when the connection is or
    // went down (it is then dropped), StoreError when the server refused the
    // command (sqlState() tells why).
    PgRows run(const std::string &sql, const std::vector<PgParam> &params = {},
               std::chrono::milliseconds limit = kExchangeLimit);
    // Waits until a notification arrives, the time passes or the connection
    // breaks (StoreUnavailable); the payloads of the notifications received.
    std::vector<std::string> notifications(std::chrono::milliseconds wait);
    // When the next connection attempt may be made.
    Clock::time_point nextAttempt() const { return nextAttempt_; }
    // The SQLSTATE of the last refused command.
    const std::string &sqlState() const { return sqlState_; }
    // "database on host" for messages, without credentials.
    const std::string &name() const { return name_; }

    static constexpr std::chrono::milliseconds kExchangeLimit{10000};

private:
    [[noreturn]] void fail(const std::string &why);
    // Waits until the socket is ready for events or the deadline passes.
    bool waitFor(short events, Clock::time_point deadline);

    const std::string uri_;
    Reachability &reachability_;
    pg_conn *conn_ = nullptr;
    int failures_ = 0;
    int lossesAtConnect_ = 0;
    Clock::time_point nextAttempt_{};
    std::string sqlState_;
    std::string name_ = "the PostgreSQL database";
};

} // namespace directory
