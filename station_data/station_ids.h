#pragma once

#include <QHash>
#include <QString>
#include <optional>

class QListWidget;

// Finds the first line of a station list with a given ID without walking the
// list: it remembers where each ID first stands and takes in the lines
// appended since it last looked. The list is only ever appended to.
class StationIdIndex {
public:
    // Takes in the lines appended to the list since the last call.
    void catchUp(const QListWidget &list);
    // The first line, in list order, whose ID field equals id exactly (no
    // trimming, case-sensitive), or nothing. An empty id matches no line.
    std::optional<QString> firstLine(const QListWidget &list, const QString &id);

private:
    QHash<QString, int> first_; // ID -> index of its first line
    int taken_ = 0;             // lines taken in so far
};
