#include "station_data/station_ids.h"

#include "contract/directory_contract.h"
#include "station_data/text_between.h"

#include <QListWidget>

void StationIdIndex::catchUp(const QListWidget &list) {
    const int count = list.count();
    first_.reserve(count);
    for (; taken_ < count; ++taken_) {
        // Lines without a station have an empty ID, which names none.
        const QString line = list.item(taken_)->text();
        const QStringView id = Module1::TextBetweenView(line, contract::kId);
        if (id.isEmpty()) {
            continue;
        }
        // A later line of the same ID leaves the first one in place.
        if (const QString key = id.toString(); !first_.contains(key)) {
            first_.insert(key, taken_);
        }
    }
}

std::optional<QString> StationIdIndex::firstLine(const QListWidget &list, const QString &id) {
    catchUp(list);
    const auto found = first_.constFind(id);
    if (found == first_.constEnd()) {
        return std::nullopt;
    }
    return list.item(*found)->text();
}
