// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// Play states in the published numbering the windows act on.
namespace PlayState {
inline constexpr int Undefined = 0; // no URL assigned yet
inline constexpr int Stopped = 1;
inline constexpr int Paused = 2;
inline constexpr int Playing = 3;
inline constexpr int Buffering = 6;
inline constexpr int MediaEnded = 8;
inline constexpr int Transitioning = 9; // connecting
inline constexpr int Ready = 10;        // open but not playing: a stream that failed ends here
} // namespace PlayState

// The embedded media player of the main window. Every call is made on the UI
// thread and returns at once; connecting and buffering go on in the background.
class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;

    // Drops the current stream and starts the given stream or playlist URL.
    virtual void setURL(const QString &url) = 0;
    virtual int playState() const = 0;
    // controls.stop / controls.play: stop, and play the current URL again.
    virtual void stop() = 0;
    virtual void play() = 0;
    // settings.volume, 0 to 100.
    virtual void setVolume(int volume) = 0;
    virtual int volume() const = 0;
    // The title the station announces for what it plays now; empty when it
    // announces none.
    virtual QString nowPlayingTitle() const = 0;
};

} // namespace platform
