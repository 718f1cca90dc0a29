// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contract/directory_contract.h"

#include <QString>

namespace Module1 {

// The value between an opening marker such as "(id)" and its closing marker
// "(/id)". Only the first closing marker of the whole text counts, and the
// opening marker is the first one in front of it. When no opening marker
// stands in front, the result is the text before the closing marker without
// its first length(opening) - 1 characters. Returns the empty string when the
// closing marker is missing or the value would have a negative length; never
// trims and never fails.
QString TextBetween(QString text, const QString &opening, const QString &closing);

// TextBetween as a view into text, for readers that copy only what they keep.
QStringView TextBetweenView(QStringView text, QStringView opening, QStringView closing);

// TextBetween with a tag's markers, such as "(id)" and "(/id)".
QString TextBetween(QStringView text, const contract::Tag &tag);
QStringView TextBetweenView(QStringView text, const contract::Tag &tag);

} // namespace Module1
