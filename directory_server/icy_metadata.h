// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace directory {

// Interleaves ICY metadata into a stream: after every `interval` bytes of audio
// comes a block of one length byte (in units of 16 bytes) and that many bytes of
// "StreamTitle='…';" padded with NULs. The title goes out in the first block;
// later blocks are empty (a single zero byte), which keeps the title shown.
class IcyInterleaver {
public:
    IcyInterleaver(std::size_t interval, std::string_view title);

    // The audio with metadata blocks inserted where they fall.
    std::string wrap(std::string_view audio);

private:
    std::string nextBlock();

    std::size_t interval_;
    std::size_t untilBlock_;
    std::string titleBlock_;
};

// The metadata block announcing title; titles too long for one block are cut
// at a character boundary.
std::string IcyTitleBlock(std::string_view title);

} // namespace directory
