// SPDX-License-Identifier: GPL-3.0-or-later

// Input: the opening marker, LF, the closing marker, LF, the text.
#include "station_data/text_between.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QList<QByteArray> parts = fuzz::SplitInput(data, size, 3);
    const QString opening = QString::fromUtf8(parts[0]);
    const QString closing = QString::fromUtf8(parts[1]);
    const QString text = QString::fromUtf8(parts[2]);
    const QString value = Module1::TextBetween(text, opening, closing);
    // The value is always a piece of the text, and nothing without a closing marker.
    fuzz::Require(text.contains(value));
    fuzz::Require(value.isEmpty() || text.contains(closing));
    return 0;
}
