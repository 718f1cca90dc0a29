#pragma once

#include "platform/media_player.h"

#include <QStringList>
#include <functional>
#include <memory>

struct libvlc_media_player_t;

namespace platform {

// The media player over libVLC: one instance, one player driven through a
// media list player. Station playlists are resolved on a worker thread and
// their entries tried in order; only network stream URLs are ever opened.
class VlcMediaPlayer final : public MediaPlayer {
public:
    // Called once with the libVLC player before anything plays (tests hook
    // their audio tap in here).
    using Configure = std::function<void(libvlc_media_player_t *)>;

    // vlcArguments are libVLC options added to the player's own quiet,
    // audio-only set (tests choose their audio output with them).
    explicit VlcMediaPlayer(const QStringList &vlcArguments, const Configure &configure = {});
    ~VlcMediaPlayer() override;

    VlcMediaPlayer(const VlcMediaPlayer &) = delete;
    VlcMediaPlayer &operator=(const VlcMediaPlayer &) = delete;

    void setURL(const QString &url) override;
    QString URL() const override;
    int playState() const override;
    void stop() override;
    void play() override;
    void setVolume(int volume) override;
    int volume() const override;

private:
    class Engine;
    std::unique_ptr<Engine> engine_;
    QString url_;
};

} // namespace platform
