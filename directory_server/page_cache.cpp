// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/page_cache.h"

#include "directory_server/text_rules.h"

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <zlib.h>

namespace directory {

namespace {

// Calls each(item) for the comma-separated items of a header value, trimmed.
template <class Each> void ForEachItem(std::string_view value, Each each) {
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        each(TrimmedBlanks(value.substr(0, comma)));
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    }
}

std::string Gzip(const std::string &text) {
    z_stream stream{};
    // 15 window bits, plus 16 for the gzip wrapper.
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("cannot start compressing the directory page");
    }
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    // Compressed a piece at a time, so that no room for the whole text is taken.
    std::string compressed;
    char piece[64 * 1024];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(piece);
        stream.avail_out = sizeof piece;
        result = deflate(&stream, Z_FINISH);
        compressed.append(piece, sizeof piece - stream.avail_out);
    }
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        throw std::runtime_error("cannot compress the directory page");
    }
    compressed.shrink_to_fit();
    return compressed;
}

} // namespace

std::shared_ptr<const BuiltPage> PageCache::page(const std::string &base) {
    const std::lock_guard lock(mutex_);
    // Read before building: a change counted after this read bumps the
    // generation again, so the page built here is never kept past it.
    const std::uint64_t generation = generation_;
    if (page_ && pageGeneration_ == generation && pageBase_ == base) {
        return page_;
    }
    auto built = std::make_shared<BuiltPage>();
    built->body = build_(base);
    built->gzipBody = Gzip(built->body);
    char tag[40];
    std::snprintf(tag, sizeof tag, "%016zx-%zx", std::hash<std::string>()(built->body),
                  built->body.size());
    built->etag = "\"" + std::string(tag) + "\"";
    built->gzipEtag = "\"" + std::string(tag) + "-gz\"";
    page_ = std::move(built);
    pageGeneration_ = generation;
    pageBase_ = base;
    return page_;
}

bool AcceptsGzip(std::string_view acceptEncoding) {
    bool accepted = false;
    ForEachItem(acceptEncoding, [&](std::string_view item) {
        const std::size_t semicolon = item.find(';');
        if (!EqualsIgnoringCase(TrimmedBlanks(item.substr(0, semicolon)), "gzip")) {
            return;
        }
        // "q=0" (also written 0.0, 0.000) refuses the coding.
        std::string_view weight =
            semicolon == std::string_view::npos ? "" : TrimmedBlanks(item.substr(semicolon + 1));
        const bool refused = (weight.starts_with("q=") || weight.starts_with("Q=")) &&
                             weight.substr(2).find_first_not_of("0.") == std::string_view::npos;
        accepted = !refused;
    });
    return accepted;
}

bool MatchesEntityTag(std::string_view ifNoneMatch, std::string_view etag) {
    bool matches = false;
    ForEachItem(ifNoneMatch, [&](std::string_view item) {
        if (item.starts_with("W/")) {
            item.remove_prefix(2);
        }
        matches = matches || item == "*" || item == etag;
    });
    return matches;
}

} // namespace directory
