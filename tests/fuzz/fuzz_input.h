// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <cstddef>
#include <cstdint>

namespace fuzz {

// The fuzzer's bytes as `count` parts: the first count - 1 lines (without their
// LF), then everything after them. Missing parts are empty, so any input fits.
inline QList<QByteArray> SplitInput(const std::uint8_t *data, std::size_t size, int count) {
    QByteArray rest(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QList<QByteArray> parts;
    while (parts.size() < count - 1) {
        const qsizetype end = rest.indexOf('\n');
        if (end < 0) {
            parts.append(rest);
            rest.clear();
            continue;
        }
        parts.append(rest.left(end));
        rest.remove(0, end + 1);
    }
    parts.append(rest);
    return parts;
}

// Stops the run, so that libFuzzer keeps the input, when a property that must
// hold for every input does not.
inline void Require(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

} // namespace fuzz
