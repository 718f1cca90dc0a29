// SPDX-License-Identifier: GPL-3.0-or-later
#include "station_data/station_directory.h"

#include "contract/directory_contract.h"
#include "platform/log_categories.h"
#include "station_data/directory_cache.h"
#include "station_data/station_line.h"
#include "station_data/station_rows.h"
#include "station_data/station_table.h"

#include <QAbstractListModel>
#include <QCoreApplication>
#include <QStandardPaths>
#include <utility>

// The raw directory lines as a list model. The lines are only ever appended
// to and are kept as one list of strings, shared with the table's rows, so a
// long directory costs little more than its text.
class StationDirectory::Lines final : public QAbstractListModel {
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

StationDirectory::StationDirectory(platform::Platform &platform, QObject *parent)
    : QObject(parent), platform_(platform), WebBrowser1(platform.createWebBrowser()),
      lines_(new Lines(this)),
      rows_(MakeStationTableRows(this)), CacheFolders{QCoreApplication::applicationDirPath(),
                                                      QStandardPaths::writableLocation(
                                                          QStandardPaths::CacheLocation)} {
    connect(WebBrowser1.get(), &platform::WebBrowser::DocumentComplete, this,
            &StationDirectory::WebBrowser1_DocumentComplete);
}

StationDirectory::~StationDirectory() = default;

void StationDirectory::start() {
    ServerReady = false;
    ChannelsFetched = false;
    WebBrowser1->Navigate2(platform_.endpoints().directoryServer +
                           QLatin1StringView(contract::kDirectoryPath));
    RowKeyCounter = 0;
}

void StationDirectory::WebBrowser1_DocumentComplete() {
    if (WebBrowser1->LocationURL() == platform::kBlankPage) {
        return;
    }
    // The marker is ASCII: looked for in the UTF-8 text, which a large page
    // holds in half the memory of a QString.
    const bool ready =
        WebBrowser1->BodyTextUtf8().contains(QByteArrayView(contract::kDirectoryMarker));
    if (ready) {
        ServerReady = true;
    } else {
        const int status = WebBrowser1->httpStatus();
        qCInfo(platform::lcDirectory).noquote()
            << "directory page" << WebBrowser1->LocationURL()
            << (status == 0                   ? QStringLiteral("could not be reached")
                : platform::IsSuccess(status) ? QStringLiteral("holds no station directory")
                                              : QStringLiteral("answered HTTP %1").arg(status));
    }
    emit pageLoaded(ready);
}

void StationDirectory::FetchChannels() {
    // Once fetched, the browser holds the blank page: a repeated fetch would
    // only empty the table, so it keeps the table and the list as they are.
    if (!ServerReady || WebBrowser1->LocationURL() == platform::kBlankPage) {
        return;
    }
    rows_->clear();
    // The browser lets the page go as soon as its text is taken, and the text
    // goes on into the cache file, so that a large directory is not held as a
    // page or a text and as a table at once.
    QByteArray text = WebBrowser1->BodyTextUtf8();
    WebBrowser1->Navigate2(platform::kBlankPage);
    // The lines are taken into a variable of their own before they are added:
    // the text handed to the cache file lives as long as the expression that
    // hands it on, and must be gone before the table is filled.
    const QStringList lines = PassThroughCacheFile(CacheFolders, std::move(text));
    addStationLines(lines);
    ChannelsFetched = true;
}

void StationDirectory::AddStationLine(const QString &line) {
    addStationLines({line});
}

void StationDirectory::addStationLines(const QStringList &lines) {
    if (!lines.isEmpty()) {
        lines_->append(lines);
    }
    StationIds.catchUp(lines_->lines);
    QStringList stations;
    stations.reserve(lines.size());
    for (const QString &line : lines) {
        if (CellViewsOfStationLine(line)) {
            stations.append(line);
        }
    }
    rows_->addOnTop(stations, RowKeyCounter);
    RowKeyCounter += stations.size();
}

const QStringList &StationDirectory::lines() const {
    return lines_->lines;
}

std::optional<QString> StationDirectory::lineOfStation(const QString &id) {
    return StationIds.firstLine(lines_->lines, id);
}

QAbstractItemModel *StationDirectory::lineModel() const {
    return lines_;
}
