// SPDX-License-Identifier: GPL-3.0-or-later
#include "playback/play_station.h"

#include "contract/directory_contract.h"
#include "platform/media_player.h"
#include "playback/playback_session.h"

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

namespace Module1 {

void PlayStationById(PlaybackSession &session, const QString &id) {
    session.startStation(id, PlaybackSession::PlayReport::None);
}

} // namespace Module1
