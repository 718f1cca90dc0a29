// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>

// The rows of a station table. Each row keeps its directory line (the text
// List1 holds, not a copy) and takes its cells out of it only when one is
// asked for, so that a large directory holds its text once and a row costs
// one reference to it. Rows added later stand above the earlier ones. A row's
// key, the user data of its first cell, is "hg" and its number; the rows are
// numbered in the order they came.
class StationRows final : public QAbstractTableModel {
public:
    static constexpr int kMaxCells = 6;

    // The cells by column: views into the line or into texts that live as
    // long as the program.
    using Cells = std::array<QStringView, kMaxCells>;
    using CellsOfLine = Cells (*)(QStringView line);

    // A column's caption, and its key (the caption's user data).
    struct Column {
        QString caption;
        QString key;
    };

    StationRows(QList<Column> columns, CellsOfLine cellsOfLine, QObject *parent);

    // Puts a row for each line above the rows there are, the last line on
    // top. The first of them is numbered firstKey when the table is empty;
    // otherwise the numbers go on from the rows there are.
    void addOnTop(const QStringList &lines, qint64 firstKey);
    void clear();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const QList<Column> columns_;
    const CellsOfLine cellsOfLine_;
    QStringList lines_;   // in the order they came: the bottom row first
    qint64 firstKey_ = 0; // the number of the bottom row
};
