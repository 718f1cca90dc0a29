// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Receives the audio a libVLC player decodes, in place of a sound card, and
// measures it: how many samples were not silent, their peak and RMS level.

#include "platform/vlc_media_player.h"

#include <QtGlobal>
#include <cstdint>
#include <mutex>

namespace testsupport {

struct AudioLevels {
    qint64 samples = 0;   // single-channel samples since the last reset
    qint64 nonSilent = 0; // of them, those clearly above silence
    int peak = 0;         // largest magnitude, 0 to 32768
    double rms = 0;       // over all samples since the last reset
};

class AudioTap {
public:
    AudioTap() = default;
    AudioTap(const AudioTap &) = delete;
    AudioTap &operator=(const AudioTap &) = delete;

    // The hook for VlcMediaPlayer's constructor: routes the player's output
    // here as 16-bit stereo at 44.1 kHz. Volume is left to libVLC, which then
    // scales the samples itself. The tap must outlive the player.
    platform::VlcMediaPlayer::Configure hook();

    AudioLevels levels() const;
    // Starts a new measurement.
    void reset();

private:
    static void onPlay(void *opaque, const void *samples, unsigned count, int64_t pts);
    void add(const qint16 *samples, qint64 count);

    mutable std::mutex mutex_;
    AudioLevels levels_;
    double sumOfSquares_ = 0;
};

} // namespace testsupport
