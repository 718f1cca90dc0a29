// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/pg_connection.h"

#include "directory_server/metrics.h"

#include <algorithm>
#include <cstdlib>
#include <libpq-fe.h>
#include <poll.h>
#include <random>

namespace directory {

namespace {

constexpr std::chrono::milliseconds kFirstBackOff{100};
constexpr std::chrono::milliseconds kMaxBackOff{5000};

// libpq's message up to its first line break: what went wrong, without hints.
std::string FirstLine(const char *message) {
    std::string line = message != nullptr ? message : "";
    line = line.substr(0, line.find('\n'));
    return line.empty() ? "connection lost" : line;
}

// Between half and all of a back-off that doubles with each failure, so that
// servers that lost the database together do not come back in step.
std::chrono::milliseconds BackOff(int failures) {
    const auto full = std::min(kMaxBackOff, kFirstBackOff * (1 << std::min(failures - 1, 6)));
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<long> share(full.count() / 2, full.count());
    return std::chrono::milliseconds(share(random));
}

Counter &ReconnectCount() {
    static Counter &count = ServerMetrics().counter(kDatabaseReconnects, kDatabaseReconnectsHelp);
    return count;
}

} // namespace

void Reachability::lost(const std::string &why) {
    const std::lock_guard lock(mutex_);
    if (state_ == State::Reachable) {
        state_ = State::Lost;
        ++losses_;
        log_("database unreachable (" + why +
             "); serving the last directory page, refusing play reports and board posts "
             "until it is back");
    }
}

void Reachability::regained() {
    const std::lock_guard lock(mutex_);
    if (state_ == State::Lost) {
        log_("database reachable again");
    }
    state_ = State::Reachable;
}

int PgRows::count() const {
    return PQntuples(result_.get());
}

std::string PgRows::text(int row, int column) const {
    return std::string(PQgetvalue(result_.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(result_.get(), row, column)));
}

std::int64_t PgRows::integer(int row, int column) const {
    return std::strtoll(PQgetvalue(result_.get(), row, column), nullptr, 10);
}

long PgRows::affected() const {
    return std::strtol(PQcmdTuples(result_.get()), nullptr, 10);
}

void PgRows::Clear(pg_result *result) {
    PQclear(result);
}

PgConnection::PgConnection(std::string uri, Reachability &reachability)
    : uri_(std::move(uri)), reachability_(reachability) {}

PgConnection::~PgConnection() {
    PQfinish(conn_);
}

void PgConnection::fail(const std::string &why) {
    PQfinish(conn_);
    conn_ = nullptr;
    ++failures_;
    nextAttempt_ = Clock::now() + BackOff(failures_);
    reachability_.lost(why);
    throw StoreUnavailable(name_ + ": " + why);
}

bool PgConnection::waitFor(short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd socket{PQsocket(conn_), events, 0};
        const int ready = poll(&socket, 1, static_cast<int>(std::max<long>(0, left.count())));
        if (ready != 0 || left.count() <= 0) {
            return ready > 0;
        }
    }
}

bool PgConnection::connect(Clock::time_point deadline) {
    // A connection older than the last outage most likely died in it: it is
    // made again rather than failing the next exchange (and reported twice);
    // but never in the middle of a transaction, whose statements must all go
    // to the one connection.
    if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK &&
        (lossesAtConnect_ == reachability_.losses() ||
         PQtransactionStatus(conn_) != PQTRANS_IDLE)) {
        return false;
    }
    PQfinish(conn_);
    conn_ = nullptr;
    if (Clock::now() < nextAttempt_) {
        throw StoreUnavailable(name_ + " is unreachable");
    }
    const char *keys[] = {"dbname", "fallback_application_name", nullptr};
    const char *values[] = {uri_.c_str(), "quorvel-directory", nullptr};
    conn_ = PQconnectStartParams(keys, values, 1);
    if (conn_ == nullptr) {
        fail("out of memory");
    }
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK) {
        if (PQstatus(conn_) == CONNECTION_BAD || status == PGRES_POLLING_FAILED) {
            fail(FirstLine(PQerrorMessage(conn_)));
        }
        if (!waitFor(status == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
            fail("no answer in time");
        }
        status = PQconnectPoll(conn_);
    }
    // Notices ("already exists, skipping") are no news to the server's log.
    PQsetNoticeProcessor(
        conn_, [](void *, const char *) {}, nullptr);
    failures_ = 0;
    if (lossesAtConnect_ != reachability_.losses()) {
        ReconnectCount().add();
    }
    lossesAtConnect_ = reachability_.losses();
    const char *host = PQhost(conn_);
    name_ = std::string("database ") + PQdb(conn_) + " on " + (host != nullptr ? host : "");
    reachability_.regained();
    return true;
}

PgRows PgConnection::run(const std::string &sql, const std::vector<PgParam> &params,
                         std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    connect(deadline);
    std::vector<const char *> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const PgParam &param : params) {
        values.push_back(param.value.c_str());
        lengths.push_back(static_cast<int>(param.value.size()));
        formats.push_back(param.binary ? 1 : 0);
    }
    const int sent =
        params.empty()
            ? PQsendQuery(conn_, sql.c_str())
            : PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                values.data(), lengths.data(), formats.data(), 0);
    if (sent == 0) {
        fail(FirstLine(PQerrorMessage(conn_)));
    }
    PgRows last(nullptr);
    std::string refused;
    for (;;) {
        while (PQisBusy(conn_) != 0) {
            if (!waitFor(POLLIN, deadline)) {
                fail("no answer in time");
            }
            if (PQconsumeInput(conn_) == 0) {
                fail(FirstLine(PQerrorMessage(conn_)));
            }
        }
        pg_result *result = PQgetResult(conn_);
        if (result == nullptr) {
            break;
        }
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_FATAL_ERROR && refused.empty()) {
            const char *state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
            sqlState_ = state != nullptr ? state : "";
            refused = FirstLine(PQresultErrorMessage(result));
        }
        last = PgRows(result);
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        fail(refused.empty() ? "connection lost" : refused);
    }
    if (!refused.empty()) {
        throw StoreError(name_ + ": " + refused);
    }
    return last;
}

std::vector<std::string> PgConnection::notifications(std::chrono::milliseconds wait) {
    if (conn_ == nullptr) {
        throw StoreUnavailable(name_ + " is unreachable");
    }
    std::vector<std::string> payloads;
    auto collect = [&] {
        if (PQconsumeInput(conn_) == 0) {
            fail(FirstLine(PQerrorMessage(conn_)));
        }
        while (PGnotify *notify = PQnotifies(conn_)) {
            payloads.emplace_back(notify->extra);
            PQfreemem(notify);
        }
    };
    collect();
    if (payloads.empty() && waitFor(POLLIN, Clock::now() + wait)) {
        collect();
    }
    return payloads;
}

} // namespace directory
