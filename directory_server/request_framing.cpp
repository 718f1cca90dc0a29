// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/request_framing.h"

#include "directory_server/text_rules.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace directory {

Framing FrameOf(std::string_view head, const BodyLimitOf &bodyLimit) {
    Framing framing;
    const std::size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t space = requestLine.find(' ');
    const std::string_view method = requestLine.substr(0, space);
    std::string_view target =
        space == std::string_view::npos ? std::string_view() : requestLine.substr(space + 1);
    target = target.substr(0, target.find(' '));
    framing.limit = bodyLimit(method, target.substr(0, target.find('?')));
    bool hasLength = false;
    bool hasCoding = false;
    for (std::size_t at = lineEnd + 2; at + 2 < head.size();) {
        const std::size_t end = head.find("\r\n", at);
        const std::string_view line = head.substr(at, end - at);
        const std::size_t colon = line.find(':');
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = colon == std::string_view::npos
                                           ? std::string_view()
                                           : TrimmedBlanks(line.substr(colon + 1));
        if (EqualsIgnoringCase(name, "Content-Length")) {
            if (hasLength || value.empty() ||
                value.find_first_not_of("0123456789") != std::string_view::npos) {
                framing.refusal = 400;
                return framing;
            }
            hasLength = true;
            framing.length = value.size() > 12 ? SIZE_MAX : std::stoull(std::string(value));
        } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
            if (hasCoding || !EqualsIgnoringCase(value, "chunked")) {
                framing.refusal = 400;
                return framing;
            }
            hasCoding = true;
            framing.chunked = true;
        } else if (EqualsIgnoringCase(name, "Expect") &&
                   EqualsIgnoringCase(value, "100-continue")) {
            framing.expectAt = at;
            framing.expectLength = end + 2 - at;
        }
        at = end + 2;
    }
    if (hasLength && hasCoding) {
        framing.refusal = 400;
    } else if ((framing.chunked && framing.limit == 0) || framing.length > framing.limit) {
        framing.refusal = 413;
    }
    return framing;
}

ChunkState FollowChunks(std::string_view bytes, std::size_t &at, std::size_t &decoded,
                        std::size_t limit, std::size_t &end) {
    for (;;) {
        const std::size_t lineEnd = bytes.find("\r\n", at);
        if (lineEnd == std::string_view::npos) {
            return bytes.size() - at > kChunkLineMax ? ChunkState::Malformed : ChunkState::NeedMore;
        }
        const std::string_view line = bytes.substr(at, lineEnd - at);
        const std::size_t digits =
            std::min(line.find_first_not_of("0123456789abcdefABCDEF"), line.size());
        if (digits == 0 || line.size() > kChunkLineMax ||
            (digits < line.size() && line[digits] != ';')) {
            return ChunkState::Malformed;
        }
        if (digits > 8) {
            return ChunkState::TooLarge;
        }
        const std::size_t size = std::stoul(std::string(line.substr(0, digits)), nullptr, 16);
        if (size == 0) {
            // Trailer lines up to an empty one.
            for (std::size_t trailer = lineEnd + 2;;) {
                const std::size_t trailerEnd = bytes.find("\r\n", trailer);
                if (trailerEnd == std::string_view::npos) {
                    return ChunkState::NeedMore;
                }
                if (trailerEnd == trailer) {
                    end = trailer + 2;
                    return ChunkState::Complete;
                }
                trailer = trailerEnd + 2;
            }
        }
        if (decoded + size > limit) {
            return ChunkState::TooLarge;
        }
        const std::size_t dataEnd = lineEnd + 2 + size;
        if (bytes.size() < dataEnd + 2) {
            return ChunkState::NeedMore;
        }
        if (bytes.substr(dataEnd, 2) != "\r\n") {
            return ChunkState::Malformed;
        }
        decoded += size;
        at = dataEnd + 2;
    }
}

} // namespace directory
