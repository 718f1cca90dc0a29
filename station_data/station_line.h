// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// The value of a text that reads as a number: digits with an optional sign and
// decimal point, blanks around it allowed. Empty for anything else (empty
// text, words, placeholders, exponents, thousand separators). A line feed may
// end the text, as the last character of a line.
std::optional<double> NumericValue(QStringView text);

// The cells of the station table row that a directory line makes.
struct StationCells {
    QString id;
    QString local;
    QString name;
    QString hot;   // the heat text as written; empty for 0 or no number
    QString stars; // empty when hot is
};

// The same cells as views: into the line, or into texts that live as long as
// the program.
struct StationCellViews {
    QStringView id;
    QStringView local;
    QStringView name;
    QStringView hot;
    QStringView stars;
};

// The ID, region and name of any line, trimmed of spaces; no heat.
StationCellViews CellViewsOfLine(QStringView line);

// The row of a directory line, or nothing when the line carries no ID.
std::optional<StationCells> CellsOfStationLine(const QString &line);
std::optional<StationCellViews> CellViewsOfStationLine(QStringView line);
