#pragma once

// What a benchmark's child process reports about itself.

#include <QFile>
#include <QSet>
#include <cstdio>

namespace bench {

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
    long residentKiB = -1;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                residentKiB = line.mid(6).trimmed().split(' ').front().toLong();
        }
    }
    std::printf("%lld %ld\n", static_cast<long long>(libraries.size()), residentKiB);
    std::fflush(stdout);
}

} // namespace bench
