// SPDX-License-Identifier: GPL-3.0-or-later
#include "station_data/station_line.h"

#include "contract/directory_contract.h"
#include "station_data/text_between.h"

namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

std::optional<double> NumericValue(QStringView text) {
    if (text.endsWith(u'\n')) {
        text.chop(1);
    }
    qsizetype at = 0;
    const qsizetype end = text.size();
    while (at < end && IsBlank(text[at])) {
        ++at;
    }
    const qsizetype numberStart = at;
    if (at < end && (text[at] == u'+' || text[at] == u'-')) {
        ++at;
    }
    qsizetype digits = 0;
    for (bool point = false; at < end; ++at) {
        if (IsDigit(text[at])) {
            ++digits;
        } else if (text[at] == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    const qsizetype numberEnd = at;
    while (at < end && IsBlank(text[at])) {
        ++at;
    }
    if (digits == 0 || at != end) {
        return std::nullopt;
    }
    return text.sliced(numberStart, numberEnd - numberStart).toDouble();
}

namespace {

// The text without leading and trailing space characters; tabs and other
// white space stay.
QStringView TrimSpaces(QStringView text) {
    while (text.startsWith(u' ')) {
        text = text.sliced(1);
    }
    while (text.endsWith(u' ')) {
        text.chop(1);
    }
    return text;
}

// The remark for a heat figure: one to five stars, each bound belonging to the
// higher grade.
QStringView HeatStars(double heat) {
    constexpr QStringView kGrades[] = {u"☆", u"☆☆", u"☆☆☆", u"☆☆☆☆", u"☆☆☆☆☆"};
    if (heat >= 500) {
        return kGrades[4];
    }
    if (heat >= 300) {
        return kGrades[3];
    }
    if (heat >= 160) {
        return kGrades[2];
    }
    if (heat >= 80) {
        return kGrades[1];
    }
    return kGrades[0];
}

QStringView Field(QStringView line, const contract::Tag &tag) {
    return TrimSpaces(Module1::TextBetweenView(line, tag));
}

} // namespace

StationCellViews CellViewsOfLine(QStringView line) {
    return StationCellViews{Field(line, contract::kId),
                            Field(line, contract::kLocal),
                            Field(line, contract::kTitle),
                            {},
                            {}};
}

std::optional<StationCellViews> CellViewsOfStationLine(QStringView line) {
    StationCellViews cells = CellViewsOfLine(line);
    if (cells.id.isEmpty()) {
        return std::nullopt;
    }
    const QStringView heat = Field(line, contract::kHot);
    // A heat that is not a number shows like a heat of 0: no figure, no stars.
    if (const std::optional<double> value = NumericValue(heat); value && *value != 0) {
        cells.hot = heat;
        cells.stars = HeatStars(*value);
    }
    return cells;
}

std::optional<StationCells> CellsOfStationLine(const QString &line) {
    const std::optional<StationCellViews> cells = CellViewsOfStationLine(line);
    if (!cells) {
        return std::nullopt;
    }
    return StationCells{cells->id.toString(), cells->local.toString(), cells->name.toString(),
                        cells->hot.toString(), cells->stars.toString()};
}
