// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/tone/tone.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <lame.h>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

namespace tone {

namespace {

constexpr int kSamplesPerFrame = 1152; // MPEG-1 Layer III
constexpr int kChannels = 2;
constexpr double kMaxLoopSeconds = 60.0;
// The loop is cut from the middle of three encoded periods, so that the
// encoder's start-up delay and the closing padding fall outside it.
constexpr int kEncodedPeriods = 3;

constexpr std::array<int, 15> kBitratesKbps = {0,   32,  40,  48,  56,  64,  80, 96,
                                               112, 128, 160, 192, 224, 256, 320};
constexpr std::array<int, 3> kSampleRates = {44100, 48000, 32000};

bool IsValid(const ToneSettings &s) {
    const auto bitrates = std::span(kBitratesKbps).subspan(1);
    return std::ranges::find(bitrates, s.bitrateKbps) != bitrates.end() &&
           std::ranges::find(kSampleRates, s.sampleRate) != kSampleRates.end() &&
           s.frequencyHz > 0 && s.frequencyHz < s.sampleRate / 2.0 && s.loopSeconds > 0 &&
           s.loopSeconds <= kMaxLoopSeconds && s.level >= 0 && s.level <= 1 && s.decaySeconds >= 0;
}

// Interleaved stereo samples of kEncodedPeriods identical periods.
std::vector<short> Synthesize(const ToneSettings &s, int periodSamples) {
    const double cycles = std::max(1.0, std::round(s.frequencyHz * periodSamples / s.sampleRate));
    std::vector<short> samples(static_cast<std::size_t>(periodSamples) * kEncodedPeriods *
                               kChannels);
    for (int n = 0; n < periodSamples; ++n) {
        const double phase = 2 * std::numbers::pi * cycles * n / periodSamples;
        const double envelope =
            s.decaySeconds > 0 ? std::exp(-n / (s.decaySeconds * s.sampleRate)) : 1.0;
        const auto value =
            static_cast<short>(std::lround(32767 * s.level * envelope * std::sin(phase)));
        for (int period = 0; period < kEncodedPeriods; ++period) {
            const std::size_t at = (static_cast<std::size_t>(period) * periodSamples + n) * 2;
            samples[at] = value;
            samples[at + 1] = value;
        }
    }
    return samples;
}

struct LameDeleter {
    void operator()(lame_global_flags *flags) const { lame_close(flags); }
};

std::string Encode(const ToneSettings &s, const std::vector<short> &samples) {
    std::unique_ptr<lame_global_flags, LameDeleter> lame(lame_init());
    if (!lame)
        return {};
    lame_set_in_samplerate(lame.get(), s.sampleRate);
    lame_set_out_samplerate(lame.get(), s.sampleRate);
    lame_set_num_channels(lame.get(), kChannels);
    lame_set_mode(lame.get(), JOINT_STEREO);
    lame_set_brate(lame.get(), s.bitrateKbps);
    lame_set_VBR(lame.get(), vbr_off);
    lame_set_bWriteVbrTag(lame.get(), 0);
    // Frames that lean on their predecessor's bits would break where the loop
    // starts over.
    lame_set_disable_reservoir(lame.get(), 1);
    if (lame_init_params(lame.get()) < 0)
        return {};

    const int pairs = static_cast<int>(samples.size() / kChannels);
    std::string out(static_cast<std::size_t>(1.25 * pairs + 7200 * 2), '\0');
    auto *buffer = reinterpret_cast<unsigned char *>(out.data());
    const int encoded =
        lame_encode_buffer_interleaved(lame.get(), const_cast<short *>(samples.data()), pairs,
                                       buffer, static_cast<int>(out.size()));
    if (encoded < 0)
        return {};
    const int flushed =
        lame_encode_flush(lame.get(), buffer + encoded, static_cast<int>(out.size()) - encoded);
    if (flushed < 0)
        return {};
    out.resize(static_cast<std::size_t>(encoded + flushed));
    return out;
}

int FrameLength(const unsigned char *header) {
    // Sync word, MPEG-1, Layer III.
    if (header[0] != 0xFF || (header[1] & 0xFE) != 0xFA)
        return 0;
    const int bitrateIndex = header[2] >> 4;
    const int rateIndex = (header[2] >> 2) & 3;
    if (bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    const int padding = (header[2] >> 1) & 1;
    return 144000 * kBitratesKbps[bitrateIndex] / kSampleRates[rateIndex] + padding;
}

} // namespace

std::vector<int> Mp3FrameLengths(std::string_view data) {
    std::vector<int> lengths;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.data());
    std::size_t at = 0;
    while (at + 4 <= data.size()) {
        const int length = FrameLength(bytes + at);
        if (length == 0 || at + length > data.size())
            break;
        lengths.push_back(length);
        at += length;
    }
    return lengths;
}

std::string EncodeToneLoop(const ToneSettings &settings) {
    if (!IsValid(settings))
        return {};
    const int periodFrames =
        std::max(1, static_cast<int>(std::lround(settings.loopSeconds * settings.sampleRate /
                                                 kSamplesPerFrame)));
    const std::string encoded =
        Encode(settings, Synthesize(settings, periodFrames * kSamplesPerFrame));
    const std::vector<int> lengths = Mp3FrameLengths(encoded);
    if (lengths.size() < 2 * static_cast<std::size_t>(periodFrames))
        return {};
    std::size_t start = 0;
    for (int i = 0; i < periodFrames; ++i)
        start += lengths[i];
    std::size_t size = 0;
    for (int i = periodFrames; i < 2 * periodFrames; ++i)
        size += lengths[i];
    return encoded.substr(start, size);
}

ToneStream::ToneStream(const ToneSettings &settings) : loop_(EncodeToneLoop(settings)) {
    if (loop_.empty())
        return;
    std::size_t offset = 0;
    for (const int length : Mp3FrameLengths(loop_)) {
        frameOffsets_.push_back(offset);
        offset += length;
    }
    frameOffsets_.push_back(offset);
    frameDuration_ =
        std::chrono::microseconds(1'000'000LL * kSamplesPerFrame / settings.sampleRate);
}

std::string ToneStream::next(std::chrono::milliseconds duration) {
    if (!isValid())
        return {};
    const auto count = static_cast<std::size_t>(
        std::max<std::int64_t>(1, (std::chrono::duration_cast<std::chrono::microseconds>(duration) +
                                   frameDuration_ - std::chrono::microseconds(1)) /
                                      frameDuration_));
    std::string out = frames(nextFrame_, count);
    nextFrame_ = (nextFrame_ + count) % (frameOffsets_.size() - 1);
    return out;
}

std::string ToneStream::frames(std::size_t first, std::size_t count) const {
    if (!isValid())
        return {};
    const std::size_t loopFrames = frameOffsets_.size() - 1;
    std::string out;
    for (std::size_t at = first % loopFrames, left = count; left > 0;) {
        const std::size_t take = std::min(left, loopFrames - at);
        out.append(loop_, frameOffsets_[at], frameOffsets_[at + take] - frameOffsets_[at]);
        at = (at + take) % loopFrames;
        left -= take;
    }
    return out;
}

std::string PackedAudioSegment(std::string_view audio, std::uint64_t timestamp) {
    // An ID3v2.4 tag holding one PRIV frame: its owner, then the 33-bit
    // timestamp in eight bytes, big-endian.
    static constexpr std::string_view kOwner("com.apple.streaming.transportStreamTimestamp\0", 45);
    constexpr std::size_t kFrameBody = kOwner.size() + 8;
    const auto synchsafe = [](std::size_t size) {
        std::string bytes(4, '\0');
        for (int at = 3; at >= 0; --at, size >>= 7)
            bytes[static_cast<std::size_t>(at)] = static_cast<char>(size & 0x7F);
        return bytes;
    };
    std::string segment = "ID3\x04";
    segment += std::string(2, '\0'); // revision, flags
    segment += synchsafe(10 + kFrameBody);
    segment += "PRIV" + synchsafe(kFrameBody) + std::string(2, '\0');
    segment += kOwner;
    for (int shift = 56; shift >= 0; shift -= 8)
        segment += static_cast<char>(((timestamp & 0x1FFFFFFFFULL) >> shift) & 0xFF);
    segment += audio;
    return segment;
}

} // namespace tone
