#pragma once

#include <QString>
#include <QStringView>
#include <QTreeWidgetItem>
#include <array>

// A row of a station table. It keeps its directory line (the text List1
// holds, not a copy) and takes its cells out of it only when one is asked
// for, so that a large directory holds its text once and a row costs little
// more than the item itself. Its key, the user data of the first column, is
// "hg" and its number.
class StationRow final : public QTreeWidgetItem {
public:
    static constexpr int kMaxCells = 6;

    // The cells by column: views into the line or into texts that live as
    // long as the program.
    using Cells = std::array<QStringView, kMaxCells>;
    using CellsOfLine = Cells (*)(QStringView line);

    StationRow(const QString &line, qint64 key, CellsOfLine cellsOfLine)
        : line_(line), key_(key), cellsOfLine_(cellsOfLine) {}

    QVariant data(int column, int role) const override;

private:
    const QString line_;
    const qint64 key_;
    const CellsOfLine cellsOfLine_;
};
