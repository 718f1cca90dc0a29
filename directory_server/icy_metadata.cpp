// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/icy_metadata.h"

#include <algorithm>

namespace directory {

namespace {

constexpr std::size_t kBlockUnit = 16;
constexpr std::size_t kMaxBlockUnits = 255;

} // namespace

std::string IcyTitleBlock(std::string_view title) {
    const std::string_view prefix = "StreamTitle='";
    const std::string_view suffix = "';";
    const std::size_t room = kMaxBlockUnits * kBlockUnit - prefix.size() - suffix.size();
    if (title.size() > room) {
        std::size_t cut = room;
        // Back off from the middle of a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        title = title.substr(0, cut);
    }
    std::string text = std::string(prefix) + std::string(title) + std::string(suffix);
    const std::size_t units = (text.size() + kBlockUnit - 1) / kBlockUnit;
    text.resize(units * kBlockUnit, '\0');
    return static_cast<char>(units) + text;
}

IcyInterleaver::IcyInterleaver(std::size_t interval, std::string_view title)
    : interval_(interval), untilBlock_(interval), titleBlock_(IcyTitleBlock(title)) {}

std::string IcyInterleaver::nextBlock() {
    std::string block = titleBlock_.empty() ? std::string(1, '\0') : std::move(titleBlock_);
    titleBlock_.clear();
    return block;
}

std::string IcyInterleaver::wrap(std::string_view audio) {
    std::string out;
    out.reserve(audio.size() + audio.size() / interval_ + 1);
    while (!audio.empty()) {
        const std::size_t take = std::min(untilBlock_, audio.size());
        out.append(audio.substr(0, take));
        audio.remove_prefix(take);
        untilBlock_ -= take;
        if (untilBlock_ == 0) {
            out += nextBlock();
            untilBlock_ = interval_;
        }
    }
    return out;
}

} // namespace directory
