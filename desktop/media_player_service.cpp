// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/media_player_service.h"

#include "playback/playback_session.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cctype>
#include <cmath>

namespace desktop {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
const QString kStationTrackPrefix = QStringLiteral("/org/quorvel/Radio/Station/");

// Object-path elements allow only [A-Za-z0-9_]: every other byte of the ID's
// UTF-8 form, and "_" itself, becomes "_" and two hex digits, so two IDs never
// share a track id.
QString TrackIdElement(const QString &id) {
    QString element;
    for (const char byte : id.toUtf8()) {
        const auto value = static_cast<unsigned char>(byte);
        if (std::isalnum(value) && value < 0x80) {
            element += QLatin1Char(byte);
        } else {
            element += QStringLiteral("_%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
        }
    }
    return element;
}

// org.mpris.MediaPlayer2: the application as a whole.
class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit RootAdaptor(MediaPlayerService &service)
        : QDBusAbstractAdaptor(&service), service_(service) {}

    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return platform::kApplicationTitle; }
    QString DesktopEntry() const { return kDesktopEntry; }
    // Nothing can be opened from outside: stations come from the directory.
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

public slots:
    void Raise() { service_.raise(); }
    void Quit() { service_.quit(); }

private:
    MediaPlayerService &service_;
};

// org.mpris.MediaPlayer2.Player: playback of the chosen station.
class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(bool CanGoNext READ canNotDo)
    Q_PROPERTY(bool CanGoPrevious READ canNotDo)
    Q_PROPERTY(bool CanPlay READ canDo)
    Q_PROPERTY(bool CanPause READ canDo)
    Q_PROPERTY(bool CanSeek READ canNotDo)
    Q_PROPERTY(bool CanControl READ canDo)
public:
    explicit PlayerAdaptor(MediaPlayerService &service)
        : QDBusAbstractAdaptor(&service), service_(service) {}

    QString PlaybackStatus() const { return service_.playbackStatus(); }
    // Live radio: one speed, no position.
    double Rate() const { return 1.0; }
    qlonglong Position() const { return 0; }
    QVariantMap Metadata() const { return service_.metadata(); }
    double Volume() const { return service_.volume(); }
    void SetVolume(double volume) { service_.setVolume(volume); }
    bool canDo() const { return true; }
    bool canNotDo() const { return false; }

public slots:
    void Play() { service_.play(); }
    void Pause() { service_.pause(); }
    void PlayPause() { service_.playPause(); }
    void Stop() { service_.stop(); }
    // There is no next or previous station and no position to move: these do nothing.
    void Next() {}
    void Previous() {}
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath &, qlonglong) {}
    void OpenUri(const QString &) {}

private:
    MediaPlayerService &service_;
};

} // namespace

void RaiseWindow(QWidget &window) {
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

QString PlaybackStatusFor(int playState) {
    switch (playState) {
    case platform::PlayState::Playing:
    case platform::PlayState::Buffering:
    case platform::PlayState::Transitioning:
        return QStringLiteral("Playing");
    case platform::PlayState::Paused:
        return QStringLiteral("Paused");
    default:
        return QStringLiteral("Stopped");
    }
}

QVariantMap StationMetadata(const QString &id, const QString &name, const QString &title) {
    if (id.isEmpty()) {
        return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(kNoTrack))}};
    }
    // Sound menus show the title: the station's own now-playing title when it
    // sends one, else the station's name.
    return {{QStringLiteral("mpris:trackid"),
             QVariant::fromValue(QDBusObjectPath(kStationTrackPrefix + TrackIdElement(id)))},
            {QStringLiteral("xesam:title"), title.isEmpty() ? name : title},
            {QStringLiteral("xesam:album"), name},
            {QStringLiteral("quorvel:id"), id}};
}

MediaPlayerService::MediaPlayerService(PlaybackSession &session, QWidget &window,
                                       QDBusConnection bus)
    : session_(session), window_(window), bus_(std::move(bus)) {
    if (!bus_.isConnected()) {
        return;
    }
    new RootAdaptor(*this);
    new PlayerAdaptor(*this);
    bus_.registerObject(kMprisObjectPath, this, QDBusConnection::ExportAdaptors);
    told_ = playerProperties();
    connect(&session_, &PlaybackSession::stationStarted, this, &MediaPlayerService::refresh);
    connect(&session_, &PlaybackSession::playStateChanged, this, &MediaPlayerService::refresh);
    connect(&session_, &PlaybackSession::titleChanged, this, &MediaPlayerService::refresh);
    connect(&session_, &PlaybackSession::volumeChanged, this, &MediaPlayerService::refresh);
}

void MediaPlayerService::raise() {
    RaiseWindow(window_);
}

void MediaPlayerService::quit() {
    QTimer::singleShot(0, &window_, [this] { window_.close(); });
}

QString MediaPlayerService::playbackStatus() const {
    return PlaybackStatusFor(session_.playState());
}

QVariantMap MediaPlayerService::metadata() const {
    return StationMetadata(session_.stationId(), session_.stationName(),
                           session_.nowPlayingTitle());
}

double MediaPlayerService::volume() const {
    return session_.volume() / 100.0;
}

void MediaPlayerService::setVolume(double volume) {
    if (std::isnan(volume)) {
        return;
    }
    session_.setVolume(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
}

void MediaPlayerService::play() {
    session_.play();
}

void MediaPlayerService::pause() {
    stop();
}

void MediaPlayerService::playPause() {
    session_.playStop();
}

void MediaPlayerService::stop() {
    session_.stop();
}

QVariantMap MediaPlayerService::playerProperties() const {
    return {{QStringLiteral("PlaybackStatus"), playbackStatus()},
            {QStringLiteral("Metadata"), metadata()},
            {QStringLiteral("Volume"), volume()}};
}

void MediaPlayerService::refresh() {
    const QVariantMap now = playerProperties();
    QVariantMap changed;
    for (auto property = now.cbegin(); property != now.cend(); ++property) {
        if (told_.value(property.key()) != property.value()) {
            changed.insert(property.key(), property.value());
        }
    }
    if (changed.isEmpty()) {
        return;
    }
    told_ = now;
    QDBusMessage signal = QDBusMessage::createSignal(
        kMprisObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    bus_.send(signal);
}

} // namespace desktop

#include "media_player_service.moc"
