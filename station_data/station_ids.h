// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// Finds the first line of a station list with a given ID without walking the
// list: it remembers where each ID first stands and takes in the lines
// appended since it last looked. The list is only ever appended to. It keeps
// no text of its own, only a hash of each ID and its line's index; the line
// itself tells whether its ID is the one asked for.
class StationIdIndex {
public:
    // Takes in the lines appended to the list since the last call.
    void catchUp(const QStringList &list);
    // The first line, in list order, whose ID field equals id exactly (no
    // trimming, case-sensitive), or nothing. An empty id matches no line.
    std::optional<QString> firstLine(const QStringList &list, const QString &id);

private:
    // The slot of this ID: where it stands, or the free place for it after
    // the IDs of the same hash.
    QHash<size_t, int>::const_iterator slotOf(const QStringList &list, QStringView id,
                                              size_t &key) const;

    // The hash of an ID, and of the IDs after it of the same hash the hash
    // plus one, two, ... -> index of the ID's first line.
    QHash<size_t, int> first_;
    int taken_ = 0; // lines taken in so far
};
