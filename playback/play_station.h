// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

class PlaybackSession;

namespace Module1 {

// Plays the station with this ID: the first directory line whose ID field
// equals id exactly names the station in the caption and the message line
// and hands its stream to the player. Nothing happens when no line matches.
// Plays started here are not reported.
void PlayStationById(PlaybackSession &session, const QString &id);

} // namespace Module1

// The main window's caption while a station plays.
QString NowPlayingCaption(const QString &name, const QString &id);

// The status-line word for a play state, or nothing for states that leave
// the line as it is.
std::optional<QString> StatusWord(int playState);

// The play-report address for a station: the ID percent-encoded, so that no
// character of it can change the query; letters and digits pass unchanged.
QString PlayReportUrl(const QString &directoryServer, const QString &id);
