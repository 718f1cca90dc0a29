// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

class PlaybackSession;
class QWidget;

namespace desktop {

inline const QString kMprisBusName = QStringLiteral("org.mpris.MediaPlayer2.quorvel");
inline const QString kMprisObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
// The desktop entry's file name without ".desktop"; also the AppStream component id.
inline const QString kDesktopEntry = QStringLiteral("org.quorvel.Radio");

// Restores the window from the minimised state and brings it to the front.
void RaiseWindow(QWidget &window);

// The media-player state that sound menus and controllers see.
QString PlaybackStatusFor(int playState);
// Metadata of the station being played: a track id made from its ID, its
// name and ID, and as title its now-playing title or else its name; the "no
// track" id when no station has been started.
QVariantMap StationMetadata(const QString &id, const QString &name, const QString &title);

// The playback session as a media player on the session bus, the interface
// that sound menus, media keys and command-line controllers use. Play, pause
// and stop act as the play/stop button does, so the button and the keys share
// one state; the volume is the session's. Raise and Quit act on the main
// window. Without a connected bus it exports nothing and the program works as
// before.
class MediaPlayerService : public QObject {
    Q_OBJECT
public:
    MediaPlayerService(PlaybackSession &session, QWidget &window, QDBusConnection bus);

    void raise();
    // Closes the main window, which ends the program, after the caller has
    // had its answer.
    void quit();

    QString playbackStatus() const;
    QVariantMap metadata() const;
    double volume() const;
    void setVolume(double volume);
    void play();
    void pause();
    void playPause();
    void stop();

private:
    // Tells clients, through PropertiesChanged, of every player property that
    // differs from what they were last told; the session's signals call it.
    void refresh();
    // The player properties whose changes clients are told of.
    QVariantMap playerProperties() const;

    PlaybackSession &session_;
    QWidget &window_;
    QDBusConnection bus_;
    QVariantMap told_; // property name -> the value clients last heard
};

} // namespace desktop
