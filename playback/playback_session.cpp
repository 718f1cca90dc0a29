// SPDX-License-Identifier: GPL-3.0-or-later
#include "playback/playback_session.h"

#include "contract/directory_contract.h"
#include "playback/play_station.h"
#include "station_data/station_directory.h"
#include "station_data/text_between.h"

PlaybackSession::PlaybackSession(platform::Platform &platform, StationDirectory &directory,
                                 QObject *parent)
    : QObject(parent), platform_(platform), directory_(directory),
      WindowsMediaPlayer1(platform.createMediaPlayer()) {}

PlaybackSession::~PlaybackSession() = default;

void PlaybackSession::startStation(const QString &id, PlayReport report) {
    const std::optional<QString> line = directory_.lineOfStation(id);
    if (!line) {
        return;
    }
    stationId_ = id;
    stationName_ = Module1::TextBetween(*line, contract::kTitle);
    WindowsMediaPlayer1->setURL(Module1::TextBetween(*line, contract::kUrl));
    emit stationStarted(id, stationName_, NowPlayingCaption(stationName_, id));
    if (report == PlayReport::Send) {
        idz(id);
    }
}

void PlaybackSession::PlayAndReport(const QString &id) {
    startStation(id, PlayReport::Send);
}

void PlaybackSession::idz(const QString &id) {
    PlayReportsWaiting_.append(PlayReportUrl(platform_.endpoints().directoryServer, id));
    if (!PlayReportRequest_) {
        sendNextPlayReport();
    }
}

void PlaybackSession::sendNextPlayReport() {
    if (PlayReportsWaiting_.isEmpty()) {
        return;
    }
    PlayReportRequest_ = platform_.createHttpRequest();
    PlayReportRequest_->Open(QStringLiteral("GET"), PlayReportsWaiting_.takeFirst(), true);
    // The answer is not looked at; a report that fails is simply lost.
    PlayReportRequest_->onDone([this] {
        PlayReportRequest_.reset();
        sendNextPlayReport();
    });
    PlayReportRequest_->send();
}

void PlaybackSession::playStop() {
    if (!StoppedByButton) {
        WindowsMediaPlayer1->stop();
        StoppedByButton = true;
    } else {
        WindowsMediaPlayer1->play();
        StoppedByButton = false;
    }
    // A stop changes the player's state at once, and views may look at it
    // now: telling of it keeps the state last told the one they saw, so a
    // play before the monitor's next look is told as a change too.
    followState(WindowsMediaPlayer1->playState());
}

void PlaybackSession::play() {
    if (StoppedByButton) {
        playStop();
    }
}

void PlaybackSession::stop() {
    if (!StoppedByButton) {
        playStop();
    }
}

void PlaybackSession::end() {
    WindowsMediaPlayer1->stop();
}

void PlaybackSession::setVolume(int volume) {
    WindowsMediaPlayer1->setVolume(volume);
    if (volume != volume_) {
        volume_ = volume;
        emit volumeChanged(volume);
    }
}

int PlaybackSession::playState() const {
    return WindowsMediaPlayer1->playState();
}

void PlaybackSession::monitor() {
    const int state = WindowsMediaPlayer1->playState();
    const bool sounding =
        state == platform::PlayState::Playing || state == platform::PlayState::Buffering;
    const QString title = sounding ? WindowsMediaPlayer1->nowPlayingTitle() : QString();
    if (title != title_) {
        title_ = title;
        emit titleChanged(title_);
    }
    followState(state);
    if (const std::optional<QString> word = StatusWord(state)) {
        emit status(*word);
    } else if (state == platform::PlayState::Ready) {
        // The stream could not be opened: the fallback takes over, while the
        // caption keeps naming the station that was chosen.
        WindowsMediaPlayer1->setURL(platform_.endpoints().fallbackStream);
    }
}

void PlaybackSession::followState(int state) {
    if (state != lastState_) {
        lastState_ = state;
        emit playStateChanged(state);
    }
}
