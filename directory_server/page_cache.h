// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace directory {

// A page as built once, shared by every answer that sends it.
struct BuiltPage {
    std::string body;
    std::string gzipBody; // the same page, gzip-compressed
    std::string etag;     // quoted validator of body; gzipBody's adds "-gz" inside the quotes
    std::string gzipEtag;
};

// Keeps the directory page between changes of what it shows: the page is
// built on the first request after a change and then served to everyone until
// the next change, instead of being built (and compressed) for every request.
class PageCache {
public:
    // Builds the page's text for the given public base address.
    using Build = std::function<std::string(const std::string &base)>;
    explicit PageCache(Build build) : build_(std::move(build)) {}

    // What the page shows has changed; the next request builds it anew.
    void invalidate() { ++generation_; }
    // The current page for base. Concurrent requests for an out-of-date page
    // wait for one build rather than each building their own.
    std::shared_ptr<const BuiltPage> page(const std::string &base);

private:
    const Build build_;
    std::atomic<std::uint64_t> generation_{0};
    std::mutex mutex_;
    std::shared_ptr<const BuiltPage> page_;
    std::uint64_t pageGeneration_ = 0;
    std::string pageBase_;
};

// True when an Accept-Encoding header value admits gzip.
bool AcceptsGzip(std::string_view acceptEncoding);

// True when an If-None-Match header value names etag (or is "*"); weak tags
// (W/"…") match their strong form.
bool MatchesEntityTag(std::string_view ifNoneMatch, std::string_view etag);

} // namespace directory
