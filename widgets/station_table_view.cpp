// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/station_table_view.h"

#include "widgets/window_look.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTreeView>
#include <utility>

namespace {

class DoubleClickWatch final : public QObject {
public:
    DoubleClickWatch(QObject *parent, std::function<void()> handler)
        : QObject(parent), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::MouseButtonDblClick) {
            handler_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> handler_;
};

} // namespace

void SetUpStationTable(QTreeView &view, QAbstractItemModel *rows, const QList<int> &widths) {
    view.setFont(SongTypeface(kSongPixels));
    view.setRootIsDecorated(false);
    view.setUniformRowHeights(true);
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setModel(rows);
    view.header()->setMinimumSectionSize(1);
    view.header()->setStretchLastSection(false);
    for (int column = 0; column < widths.size(); ++column) {
        view.setColumnWidth(column, widths.at(column));
    }
}

std::optional<QString> SelectedStationId(const QTreeView &view) {
    const QModelIndexList selected = view.selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    return selected.first().data().toString();
}

void OnStationDoubleClick(QTreeView &view, std::function<void()> handler) {
    view.viewport()->installEventFilter(new DoubleClickWatch(&view, std::move(handler)));
}
