// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a benchmark's child process reports about itself.

#include <QFile>
#include <QSet>
#include <cstdio>

namespace bench {

// The resident memory of this process in KiB, -1 when unknown.
inline long ResidentKiB() {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    }
    std::fclose(status);
    return kib;
}

// Prints the shared libraries mapped into this process and its resident
// memory in KiB, on one line.
inline void PrintProcessFigures() {
    QSet<QByteArray> libraries;
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (maps.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : maps.readAll().split('\n')) {
            const qsizetype path = line.indexOf('/');
            if (path >= 0 && line.contains(".so"))
                libraries.insert(line.mid(path));
        }
    }
    std::printf("%lld %ld\n", static_cast<long long>(libraries.size()), ResidentKiB());
    std::fflush(stdout);
}

} // namespace bench
