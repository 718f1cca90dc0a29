#include "playback/play_station.h"

#include "contract/directory_contract.h"
#include "main_window/form1.h"
#include "main_window/list_box.h"
#include "main_window/picture.h"
#include "platform/media_player.h"
#include "station_data/text_between.h"

#include <QUrl>

QString NowPlayingCaption(const QString &name, const QString &id) {
    return QStringLiteral("Quorvel收音机：") + name + QStringLiteral("  ID ：") + id;
}

std::optional<QString> StatusWord(int playState) {
    switch (playState) {
    case platform::PlayState::Playing:
        return QStringLiteral("状态：播放中");
    case platform::PlayState::Stopped:
        return QStringLiteral("状态：停止");
    case platform::PlayState::Transitioning:
        return QStringLiteral("状态：正在连接");
    case platform::PlayState::Buffering:
        return QStringLiteral("状态：正在缓冲");
    default:
        return std::nullopt;
    }
}

QString PlayReportUrl(const QString &directoryServer, const QString &id) {
    return directoryServer + QLatin1StringView(contract::kPlayReportPath) + u'?' +
           QLatin1StringView(contract::kPlayReportIdField) + u'=' +
           QString::fromLatin1(QUrl::toPercentEncoding(id));
}

void Form1::startStation(const QString &id, PlayReport report) {
    const std::optional<QString> line = StationIds.firstLine(List1->lines(), id);
    if (!line) {
        return;
    }
    const QString name = Module1::TextBetween(*line, contract::kTitle);
    setWindowTitle(NowPlayingCaption(name, id));
    Label4->setText(windowTitle());
    WindowsMediaPlayer1->setURL(Module1::TextBetween(*line, contract::kUrl));
    emit stationStarted(id, name);
    if (report == PlayReport::Send) {
        idz(id);
    }
}

namespace Module1 {

void PlayStationById(Form1 &main, const QString &id) {
    main.startStation(id, Form1::PlayReport::None);
}

} // namespace Module1
