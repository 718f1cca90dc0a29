// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

namespace directory {

struct AnnouncementList {
    std::vector<std::string> texts;
    std::vector<std::string> problems; // "line N: why the line was left out"
};

// Reads the announcements file's text: one announcement per line; blank lines
// and '#' comments skipped. Spaces are normalised and < > & become their
// full-width forms, so the text reads the same as raw text and as page text.
AnnouncementList ParseAnnouncements(std::string_view text);

// Hands out the announcements in turn, from any thread.
class AnnouncementRotation {
public:
    explicit AnnouncementRotation(std::vector<std::string> texts) : texts_(std::move(texts)) {}

    // The next announcement; empty when there are none.
    std::string next();

private:
    const std::vector<std::string> texts_;
    std::atomic<std::size_t> turn_{0};
};

} // namespace directory
