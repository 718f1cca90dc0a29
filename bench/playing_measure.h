// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What bench_playing's children measure: after the player has settled, the
// share of one core the process uses while playing, then its resident memory.

#include "bench/process_figures.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace bench {

// Past the start: the player has connected and the text cursor, which blinks
// for the first ten seconds without input, has come to rest.
constexpr int kSettleMs = 12000;
constexpr int kMeasureMs = 10000;

inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Lets the player settle, measures while it plays, prints and quits.
inline void MeasureThenQuit() {
    QTimer::singleShot(kSettleMs, [] {
        const double cpuBefore = CpuSeconds();
        QTimer::singleShot(kMeasureMs, [cpuBefore] {
            std::printf("%ld %.3f\n", ResidentKiB(),
                        100.0 * (CpuSeconds() - cpuBefore) / (kMeasureMs / 1000.0));
            std::fflush(stdout);
            QApplication::quit();
        });
    });
}

} // namespace bench
