// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/metrics.h"

#include <cstdio>

namespace directory {

namespace {

// A label value as the exposition format quotes it.
std::string Escaped(std::string_view value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string WrittenLabels(const MetricLabels &labels) {
    if (labels.empty()) {
        return {};
    }
    std::string written = "{";
    for (const auto &[name, value] : labels) {
        if (written.size() > 1) {
            written += ',';
        }
        written += name + "=\"" + Escaped(value) + "\"";
    }
    return written + "}";
}

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

} // namespace

void Timing::record(std::chrono::steady_clock::duration took) {
    nanoseconds_.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count(),
                           std::memory_order_relaxed);
    count_.fetch_add(1, std::memory_order_relaxed);
}

double Timing::seconds() const {
    return static_cast<double>(nanoseconds_.load(std::memory_order_relaxed)) / 1e9;
}

Metrics::Series &Metrics::series(std::string_view name, std::string_view help, Kind kind,
                                 const MetricLabels &labels) {
    const std::lock_guard lock(mutex_);
    auto family = families_.find(name);
    if (family == families_.end()) {
        family = families_.emplace(std::string(name), Family{kind, std::string(help), {}}).first;
    }
    const std::string written = WrittenLabels(labels);
    auto found = family->second.series.find(written);
    if (found == family->second.series.end()) {
        found = family->second.series.emplace(written, Series{written, {}, {}, {}}).first;
        if (kind == Kind::Counter) {
            found->second.counter = std::make_unique<Counter>();
        } else if (kind == Kind::Summary) {
            found->second.timing = std::make_unique<Timing>();
        } else {
            found->second.gauge = std::make_unique<Gauge>();
        }
    }
    return found->second;
}

Counter &Metrics::counter(std::string_view name, std::string_view help,
                          const MetricLabels &labels) {
    return *series(name, help, Kind::Counter, labels).counter;
}

Timing &Metrics::timing(std::string_view name, std::string_view help, const MetricLabels &labels) {
    return *series(name, help, Kind::Summary, labels).timing;
}

Gauge &Metrics::gauge(std::string_view name, std::string_view help, const MetricLabels &labels) {
    return *series(name, help, Kind::Gauge, labels).gauge;
}

std::string Metrics::exposition() const {
    static constexpr const char *kTypes[] = {"counter", "summary", "gauge"};
    const std::lock_guard lock(mutex_);
    std::string text;
    for (const auto &[name, family] : families_) {
        text += "# HELP " + name + " " + family.help + "\n# TYPE " + name + " " +
                kTypes[static_cast<int>(family.kind)] + "\n";
        for (const auto &[labels, series] : family.series) {
            if (series.counter) {
                text += name + labels + " " + std::to_string(series.counter->value()) + "\n";
            } else if (series.timing) {
                text += name + "_sum" + labels + " " + Number(series.timing->seconds()) + "\n";
                text +=
                    name + "_count" + labels + " " + std::to_string(series.timing->count()) + "\n";
            } else {
                text += name + labels + " " + std::to_string(series.gauge->value()) + "\n";
            }
        }
    }
    return text;
}

Metrics &ServerMetrics() {
    static Metrics metrics;
    return metrics;
}

} // namespace directory
