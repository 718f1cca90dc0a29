// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/platform.h"
#include "station_data/station_ids.h"

#include <QObject>
#include <QStringList>
#include <memory>
#include <optional>

class QAbstractItemModel;
class StationRows;

// The station directory without a window: the directory page loaded into a
// hidden browser at start-up, its readiness, the fetch that turns the page
// into station lines, and the lines themselves with their ID index. It owns
// the two models the main window shows: the raw lines (List1) and the
// station table's rows (ListView1). Views follow it through its signals.
class StationDirectory final : public QObject {
    Q_OBJECT
public:
    explicit StationDirectory(platform::Platform &platform, QObject *parent = nullptr);
    ~StationDirectory() override;

    // Starts loading the directory page; until it has loaded with the
    // directory marker the directory is not ready.
    void start();

    bool serverReady() const { return ServerReady; }
    bool channelsFetched() const { return ChannelsFetched; }

    // Turns the loaded directory page into station lines, once: the page's
    // text goes through the cache file into the list and the table. Does
    // nothing before the directory is ready or after the first fetch.
    void FetchChannels();
    void AddStationLine(const QString &line);
    // AddStationLine for each line in turn, with one update of the list and table.
    void addStationLines(const QStringList &lines);

    // The raw directory lines, in the order they came.
    const QStringList &lines() const;
    // The first line whose ID field equals id exactly, or nothing.
    std::optional<QString> lineOfStation(const QString &id);

    QAbstractItemModel *lineModel() const;
    StationRows *tableRows() const { return rows_; }

    // Folders tried in turn for the cache file; the program's own folder
    // first, then the user's cache folder.
    void setCacheFolders(const QStringList &folders) { CacheFolders = folders; }

signals:
    // The directory page has loaded: ready when it carried the directory
    // marker, otherwise the server could not be reached or is not ours.
    void pageLoaded(bool ready);

private:
    void WebBrowser1_DocumentComplete();

    class Lines;

    platform::Platform &platform_;
    std::unique_ptr<platform::WebBrowser> WebBrowser1;
    Lines *lines_;
    StationRows *rows_;
    bool ServerReady = false;
    bool ChannelsFetched = false;
    qint64 RowKeyCounter = 0;
    StationIdIndex StationIds; // of the raw lines
    QStringList CacheFolders;
};
