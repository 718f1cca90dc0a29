// SPDX-License-Identifier: GPL-3.0-or-later
#include "station_data/station_ids.h"

#include "contract/directory_contract.h"
#include "station_data/text_between.h"

namespace {

// Lines without a station have an empty ID, which names none.
QStringView IdOfLine(QStringView line) {
    return Module1::TextBetweenView(line, contract::kId);
}

} // namespace

QHash<size_t, int>::const_iterator StationIdIndex::slotOf(const QStringList &list, QStringView id,
                                                          size_t &key) const {
    key = qHash(id, QHashSeed::globalSeed());
    for (auto slot = first_.constFind(key); slot != first_.constEnd();
         slot = first_.constFind(++key)) {
        if (IdOfLine(list.at(*slot)) == id) {
            return slot;
        }
    }
    return first_.constEnd();
}

void StationIdIndex::catchUp(const QStringList &list) {
    const int count = list.size();
    first_.reserve(count);
    for (; taken_ < count; ++taken_) {
        const QString &line = list.at(taken_);
        const QStringView id = IdOfLine(line);
        size_t key = 0;
        // A later line of the same ID leaves the first one in place.
        if (!id.isEmpty() && slotOf(list, id, key) == first_.constEnd()) {
            first_.insert(key, taken_);
        }
    }
}

std::optional<QString> StationIdIndex::firstLine(const QStringList &list, const QString &id) {
    catchUp(list);
    size_t key = 0;
    const auto slot = slotOf(list, id, key);
    if (slot == first_.constEnd()) {
        return std::nullopt;
    }
    return list.at(*slot);
}
