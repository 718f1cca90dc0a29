// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

// How far a request's bytes reach: the head's framing of its body, and the
// end of a chunked body. Only complete requests go on to be answered, so the
// gate reads these from raw bytes before anything else parses them.
namespace directory {

// The most bytes a chunk's size line may hold.
inline constexpr std::size_t kChunkLineMax = 1024;

// The most body bytes a route accepts: 0 for a route without a body.
using BodyLimitOf = std::function<std::size_t(std::string_view method, std::string_view path)>;

// What the head of a request says about its body.
struct Framing {
    int refusal = 0; // a status to refuse the request with, or 0
    bool chunked = false;
    std::size_t length = 0; // of a body with a declared length
    std::size_t limit = 0;  // the route's limit
    // Where the "Expect: 100-continue" line is, to answer it here.
    std::size_t expectAt = std::string_view::npos;
    std::size_t expectLength = 0;
};

// Reads the body framing from a complete head (ending in an empty line). A
// body with both a length and a coding, or any coding but chunked, cannot be
// delimited safely and is refused.
Framing FrameOf(std::string_view head, const BodyLimitOf &bodyLimit);

enum class ChunkState { NeedMore, Complete, TooLarge, Malformed };

// Follows a chunked body from at (the start of the next chunk) as far as the
// bytes go, counting the body's size in decoded; end is set when complete.
ChunkState FollowChunks(std::string_view bytes, std::size_t &at, std::size_t &decoded,
                        std::size_t limit, std::size_t &end);

} // namespace directory
