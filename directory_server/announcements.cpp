// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/announcements.h"

#include "directory_server/station_list.h"
#include "directory_server/text_rules.h"

namespace directory {

AnnouncementList ParseAnnouncements(std::string_view text) {
    AnnouncementList list;
    for (const NumberedLine &line : ContentLines(text)) {
        const std::string announcement = WithoutMarkupCharacters(NormaliseSpaces(line.text));
        const std::string problem = MarkerProblem(announcement);
        if (problem.empty()) {
            list.texts.push_back(announcement);
        } else {
            list.problems.push_back("line " + std::to_string(line.number) + ": " + problem);
        }
    }
    return list;
}

std::string AnnouncementRotation::next() {
    if (texts_.empty()) {
        return {};
    }
    return texts_[turn_.fetch_add(1, std::memory_order_relaxed) % texts_.size()];
}

} // namespace directory
