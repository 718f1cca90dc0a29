// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/audio_tap.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vlc/vlc.h>

namespace testsupport {

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kChannels = 2;
// About -54 dBFS: dither and decoder noise stay below, any tone is far above.
constexpr int kSilenceThreshold = 64;

} // namespace

platform::VlcMediaPlayer::Configure AudioTap::hook() {
    return [this](libvlc_media_player_t *player) {
        libvlc_audio_set_callbacks(player, &AudioTap::onPlay, nullptr, nullptr, nullptr, nullptr,
                                   this);
        libvlc_audio_set_format(player, "S16N", kRate, kChannels);
    };
}

// Runs on libVLC's audio thread.
void AudioTap::onPlay(void *opaque, const void *samples, unsigned count, int64_t) {
    static_cast<AudioTap *>(opaque)->add(static_cast<const qint16 *>(samples),
                                         static_cast<qint64>(count) * kChannels);
}

void AudioTap::add(const qint16 *samples, qint64 count) {
    if (count <= 0)
        return;
    std::lock_guard lock(mutex_);
    for (qint64 i = 0; i < count; ++i) {
        const int magnitude = std::abs(static_cast<int>(samples[i]));
        levels_.peak = std::max(levels_.peak, magnitude);
        levels_.nonSilent += magnitude > kSilenceThreshold ? 1 : 0;
        sumOfSquares_ += static_cast<double>(magnitude) * magnitude;
    }
    levels_.samples += count;
    levels_.rms = std::sqrt(sumOfSquares_ / static_cast<double>(levels_.samples));
}

AudioLevels AudioTap::levels() const {
    std::lock_guard lock(mutex_);
    return levels_;
}

void AudioTap::reset() {
    std::lock_guard lock(mutex_);
    levels_ = {};
    sumOfSquares_ = 0;
}

} // namespace testsupport
