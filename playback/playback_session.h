// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/platform.h"

#include <QObject>
#include <QStringList>
#include <memory>

class StationDirectory;

// The playback session without a window: the media player, the station
// chosen last, the play/stop button's stop, the volume, the status monitor
// that watches the player (and hands a stream that cannot be opened over to
// the fallback), the now-playing title and the play reports sent to the
// directory server. Views follow it through its signals.
class PlaybackSession final : public QObject {
    Q_OBJECT
public:
    PlaybackSession(platform::Platform &platform, StationDirectory &directory,
                    QObject *parent = nullptr);
    ~PlaybackSession() override;

    enum class PlayReport { None, Send };
    // Names the station of the first directory line with this ID and starts
    // its stream; reports the play when asked. Nothing happens when no line
    // matches.
    void startStation(const QString &id, PlayReport report);
    void PlayAndReport(const QString &id);
    // Reports a play to the directory server. Reports go out one after
    // another, in the order of the plays, without anyone waiting for them.
    void idz(const QString &id);

    // The play/stop button: stops the stream, or plays it again when the
    // button stopped it.
    void playStop();
    // Plays again when the button stopped the stream; nothing otherwise.
    void play();
    // Stops as the button would, unless the button has stopped it already.
    void stop();
    bool stoppedByButton() const { return StoppedByButton; }
    // Silences the stream for good: the program is ending.
    void end();

    // The volume, 0 to 100, applied to the player at once.
    void setVolume(int volume);
    int volume() const { return volume_; }

    // One look of the status monitor at the player: the title while it
    // sounds, the status word of its state, and the fallback stream when the
    // station's stream could not be opened.
    void monitor();
    int playState() const;
    // What the station announces it plays, while it plays; empty otherwise.
    const QString &nowPlayingTitle() const { return title_; }
    const QString &stationId() const { return stationId_; }
    const QString &stationName() const { return stationName_; }

signals:
    // A station's stream has been started; caption is the window's caption for it.
    void stationStarted(const QString &id, const QString &name, const QString &caption);
    // At each look of the monitor while the player's state has a status word.
    void status(const QString &word);
    void playStateChanged(int state);
    void titleChanged(const QString &title);
    void volumeChanged(int volume);

private:
    void sendNextPlayReport();
    // Tells of a state of the player other than the one last told of.
    void followState(int state);

    platform::Platform &platform_;
    StationDirectory &directory_;
    std::unique_ptr<platform::MediaPlayer> WindowsMediaPlayer1;
    bool StoppedByButton = false;
    int volume_ = 0;
    int lastState_ = platform::PlayState::Undefined;
    QString title_;
    QString stationId_;
    QString stationName_;
    std::unique_ptr<platform::HttpRequest> PlayReportRequest_;
    QStringList PlayReportsWaiting_; // addresses of reports not sent yet
};
