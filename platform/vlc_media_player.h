// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/media_player.h"

#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>

struct libvlc_media_player_t;

namespace platform {

// The media player: the station's bytes come through one libcurl connection
// per play, made on a worker thread of its own, and libVLC only decodes them.
// Playlists are read from those bytes and their entries tried in order; only
// http and https are ever opened, so no server can steer the player to a local
// file or device. A live stream that goes away is connected again while what
// the decoder holds plays on; a URL set again after it failed is opened again
// only after a back-off that doubles up to a minute.
class VlcMediaPlayer final : public MediaPlayer {
public:
    // Called once with the libVLC player before anything plays, on the thread
    // that starts libVLC (tests hook their audio tap in here).
    using Configure = std::function<void(libvlc_media_player_t *)>;

    // How long a live stream that went away is tried again before the play
    // counts as failed.
    static constexpr std::chrono::milliseconds kReconnectFor{60000};

    // vlcArguments are libVLC options added to the player's own quiet,
    // audio-only set (tests choose their audio output with them).
    explicit VlcMediaPlayer(const QStringList &vlcArguments, const Configure &configure = {},
                            std::chrono::milliseconds reconnectFor = kReconnectFor);
    ~VlcMediaPlayer() override;

    VlcMediaPlayer(const VlcMediaPlayer &) = delete;
    VlcMediaPlayer &operator=(const VlcMediaPlayer &) = delete;

    void setURL(const QString &url) override;
    int playState() const override;
    void stop() override;
    void play() override;
    void setVolume(int volume) override;
    int volume() const override;
    QString nowPlayingTitle() const override;

private:
    class Engine;
    std::unique_ptr<Engine> engine_;
    QString url_;
    // The back-off of a URL that keeps failing: failures in a row, the one
    // failure the next try waits after, and when that try may start.
    int failures_ = 0;
    qint64 retryAfterFailureAt_ = -1;
    qint64 retryAtMs_ = 0;
};

} // namespace platform
