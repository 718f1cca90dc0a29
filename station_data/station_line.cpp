#include "station_data/station_line.h"

#include "station_data/text_between.h"

#include <QRegularExpression>

std::optional<double> NumericValue(const QString &text) {
    static const QRegularExpression number(
        QStringLiteral(R"(^[ \t]*[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)[ \t]*$)"));
    if (!number.match(text).hasMatch()) {
        return std::nullopt;
    }
    return text.trimmed().toDouble();
}

namespace {

// The text without leading and trailing space characters; tabs and other
// white space stay.
QString TrimSpaces(const QString &text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ') {
        ++first;
    }
    while (last > first && text[last - 1] == u' ') {
        --last;
    }
    return text.mid(first, last - first);
}

// The remark for a heat figure: one to five stars, each bound belonging to the
// higher grade.
QString HeatStars(double heat) {
    const QChar star(0x2606);
    if (heat >= 500) {
        return QString(5, star);
    }
    if (heat >= 300) {
        return QString(4, star);
    }
    if (heat >= 160) {
        return QString(3, star);
    }
    if (heat >= 80) {
        return QString(2, star);
    }
    return QString(1, star);
}

struct Tag {
    QString opening;
    QString closing;
};

const Tag kId{QStringLiteral("(id)"), QStringLiteral("(/id)")};
const Tag kTitle{QStringLiteral("(title)"), QStringLiteral("(/title)")};
const Tag kLocal{QStringLiteral("(local)"), QStringLiteral("(/local)")};
const Tag kHot{QStringLiteral("(hot)"), QStringLiteral("(/hot)")};

QString Field(const QString &line, const Tag &tag) {
    return TrimSpaces(Module1::TextBetween(line, tag.opening, tag.closing));
}

} // namespace

StationCells CellsOfLine(const QString &line) {
    return StationCells{Field(line, kId), Field(line, kLocal), Field(line, kTitle), {}, {}};
}

std::optional<StationCells> CellsOfStationLine(const QString &line) {
    StationCells cells = CellsOfLine(line);
    if (cells.id.isEmpty()) {
        return std::nullopt;
    }
    const QString heat = Field(line, kHot);
    // A heat that is not a number shows like a heat of 0: no figure, no stars.
    if (const std::optional<double> value = NumericValue(heat); value && *value != 0) {
        cells.hot = heat;
        cells.stars = HeatStars(*value);
    }
    return cells;
}
