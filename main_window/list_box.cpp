#include "main_window/list_box.h"

#include <QAbstractListModel>

class ListBox::Lines final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    QStringList lines;

    void append(const QStringList &more) {
        beginInsertRows({}, lines.size(), lines.size() + more.size() - 1);
        lines.append(more);
        endInsertRows();
    }

    int rowCount(const QModelIndex &parent) const override {
        return parent.isValid() ? 0 : lines.size();
    }

    QVariant data(const QModelIndex &index, int role) const override {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) ||
            (role != Qt::DisplayRole && role != Qt::EditRole)) {
            return {};
        }
        return lines.at(index.row());
    }
};

ListBox::ListBox(QWidget *parent) : QListView(parent), lines_(new Lines(this)) {
    setModel(lines_);
}

const QStringList &ListBox::lines() const {
    return lines_->lines;
}

void ListBox::addItems(const QStringList &lines) {
    if (!lines.isEmpty()) {
        lines_->append(lines);
    }
}
