// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Generated test and station audio: a sine tone (or a chime) encoded to MP3
// once, then repeated frame by frame as an endless stream.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tone {

struct ToneSettings {
    double frequencyHz = 440.0; // rounded so that the loop holds whole cycles
    double loopSeconds = 2.0;   // length of the encoded loop (rounded to whole frames)
    int bitrateKbps = 128;      // an MPEG-1 Layer III bitrate, 32 to 320
    int sampleRate = 44100;     // 32000, 44100 or 48000
    double level = 0.5;         // peak amplitude as a share of full scale, 0 to 1
    // Above zero: a chime struck at the start of each loop, fading away with
    // this time constant. Zero: a steady tone.
    double decaySeconds = 0.0;
};

// One loop of the tone as constant-bitrate MP3 frames (stereo, no bit
// reservoir, no header frame). Played back to back the loop has no seam.
// Empty when the settings are out of range.
std::string EncodeToneLoop(const ToneSettings &settings);

// The whole MPEG-1 Layer III frames at the start of data, as lengths in bytes;
// stops at the first byte that does not begin a frame.
std::vector<int> Mp3FrameLengths(std::string_view data);

// An endless MP3 stream that repeats a loop of frames; one per connection.
// Send it as a plain body without a length (connection close), as radio
// servers do: libVLC 3 drops audio where an HTTP chunk ends, so chunked
// transfer encoding makes small pieces sound broken.
class ToneStream {
public:
    explicit ToneStream(const ToneSettings &settings);

    bool isValid() const { return !frameOffsets_.empty(); }
    // The next whole frames, covering at least the given duration of audio
    // (one frame at least). Empty only for an invalid stream.
    std::string next(std::chrono::milliseconds duration);
    // Audio duration of one frame.
    std::chrono::microseconds frameDuration() const { return frameDuration_; }
    // count frames of the loop from frame first (counted on over the loop's
    // end, as if it were repeated for ever), whatever next() has given.
    std::string frames(std::size_t first, std::size_t count) const;

private:
    std::string loop_;
    std::vector<std::size_t> frameOffsets_; // start of each frame in loop_, then loop_.size()
    std::size_t nextFrame_ = 0;
    std::chrono::microseconds frameDuration_{0};
};

// A segment of HLS packed audio: an ID3 tag holding its first sample's
// timestamp (90 kHz clock, as the HLS transport-stream timestamp), then the
// audio frames.
std::string PackedAudioSegment(std::string_view audio, std::uint64_t timestamp);

} // namespace tone
