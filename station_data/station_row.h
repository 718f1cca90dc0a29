#pragma once

#include <QString>
#include <QStringView>
#include <QTreeWidgetItem>
#include <array>

// A row of a station table. It keeps its directory line (the text List1
// holds, not a copy) and shows its cells as parts of it, so that a large
// directory holds its text once; a cell's text is made only when asked for.
// Its key, the user data of the first column, is "hg" and its number.
class StationRow final : public QTreeWidgetItem {
public:
    static constexpr int kMaxCells = 6;

    StationRow(const QString &line, qint64 key) : line_(line), key_(key) {}

    // The cells by column: views into line() or into texts that outlive the row.
    std::array<QStringView, kMaxCells> cells;
    const QString &line() const { return line_; }

    QVariant data(int column, int role) const override;

private:
    const QString line_;
    const qint64 key_;
};
