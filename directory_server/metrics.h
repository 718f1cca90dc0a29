// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace directory {

// Label names and values of one series, as in {path="/", status="200"}.
using MetricLabels = std::vector<std::pair<std::string, std::string>>;

// A count that only goes up. Bumping it is one atomic add.
class Counter {
public:
    void add(std::uint64_t n = 1) { value_.fetch_add(n, std::memory_order_relaxed); }
    std::uint64_t value() const { return value_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> value_{0};
};

// A level that goes up and down, such as connections held.
class Gauge {
public:
    void add(std::int64_t n) { value_.fetch_add(n, std::memory_order_relaxed); }
    std::int64_t value() const { return value_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> value_{0};
};

// How long something took, summed over how often it happened: the _seconds
// summary's _sum and _count.
class Timing {
public:
    void record(std::chrono::steady_clock::duration took);
    double seconds() const;
    std::uint64_t count() const { return count_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> nanoseconds_{0};
    std::atomic<std::uint64_t> count_{0};
};

// Times the scope it lives in into a Timing.
class TimedScope {
public:
    explicit TimedScope(Timing &timing)
        : timing_(timing), start_(std::chrono::steady_clock::now()) {}
    ~TimedScope() { timing_.record(std::chrono::steady_clock::now() - start_); }
    TimedScope(const TimedScope &) = delete;
    TimedScope &operator=(const TimedScope &) = delete;

private:
    Timing &timing_;
    const std::chrono::steady_clock::time_point start_;
};

// The server's figures for the Prometheus text exposition format. Code that
// has something to count asks for its counter once (by name, help text and
// labels) and keeps the reference, which stays valid for the registry's life;
// asking again with the same name and labels gives the same counter.
class Metrics {
public:
    Counter &counter(std::string_view name, std::string_view help, const MetricLabels &labels = {});
    Timing &timing(std::string_view name, std::string_view help, const MetricLabels &labels = {});
    Gauge &gauge(std::string_view name, std::string_view help, const MetricLabels &labels = {});

    // Every series in the text exposition format (version 0.0.4).
    std::string exposition() const;

private:
    enum class Kind { Counter, Summary, Gauge };
    struct Series {
        std::string labels; // written out: {a="b",c="d"}, or empty
        std::unique_ptr<Counter> counter;
        std::unique_ptr<Timing> timing;
        std::unique_ptr<Gauge> gauge;
    };
    struct Family {
        Kind kind;
        std::string help;
        std::map<std::string, Series> series; // by their written labels
    };
    Series &series(std::string_view name, std::string_view help, Kind kind,
                   const MetricLabels &labels);

    mutable std::mutex mutex_;
    std::map<std::string, Family, std::less<>> families_;
};

// Names of the figures more than one part of the server reports into.
inline constexpr std::string_view kStoreSeconds = "quorvel_directory_store_seconds";
inline constexpr std::string_view kStoreSecondsHelp =
    "Time spent waiting for the store, by operation.";
inline constexpr std::string_view kDatabaseReconnects =
    "quorvel_directory_database_reconnects_total";
inline constexpr std::string_view kDatabaseReconnectsHelp =
    "Connections to the database made again after it was lost.";

// The figures of this server process, shared by everything in it that counts.
Metrics &ServerMetrics();

} // namespace directory
