// SPDX-License-Identifier: GPL-3.0-or-later
#include "station_data/text_between.h"

namespace Module1 {

namespace {

// The markers are QStringView or QLatin1StringView: the directory's words are
// ASCII, so their length is the same in both.
template <class Marker> QStringView Between(QStringView text, Marker opening, Marker closing) {
    // Positions are 0-based here: closingAt is the 1-based position minus one.
    const qsizetype closingAt = text.indexOf(closing);
    if (closingAt < 0) {
        return {};
    }
    // Everything in front of the closing marker; a missing opening marker
    // counts as standing at 1-based position 0.
    const QStringView head = text.left(closingAt);
    const qsizetype openingPosition = head.indexOf(opening) + 1;
    const qsizetype length = closingAt + 1 - openingPosition - opening.size();
    if (length < 0) {
        return {};
    }
    return head.right(length);
}

} // namespace

QString TextBetween(QString text, const QString &opening, const QString &closing) {
    return TextBetweenView(text, opening, closing).toString();
}

QStringView TextBetweenView(QStringView text, QStringView opening, QStringView closing) {
    return Between(text, opening, closing);
}

QString TextBetween(QStringView text, const contract::Tag &tag) {
    return TextBetweenView(text, tag).toString();
}

QStringView TextBetweenView(QStringView text, const contract::Tag &tag) {
    return Between(text, QLatin1StringView(tag.opening), QLatin1StringView(tag.closing));
}

} // namespace Module1
