// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/streams.h"

#include "directory_server/guarded_server.h"
#include "directory_server/icy_metadata.h"
#include "directory_server/metrics.h"
#include "directory_server/sockets.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace directory {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int kSampleRate = 44100;
constexpr int kSamplesPerFrame = 1152; // one MPEG-1 Layer III frame
constexpr int kNotes = 15;
// Audio a new listener gets at once, so that its player starts without waiting.
constexpr milliseconds kLead{2000};
// How often a listener's stream is topped up.
constexpr milliseconds kTick{100};
// A listener that takes nothing for this long is dropped.
constexpr milliseconds kStalled{5000};
// A listening session ends after this long; players reconnect.
constexpr std::chrono::hours kMaxSession{24};
constexpr std::size_t kIcyInterval = 8192;
// The HLS broadcast: segments of 77 frames (2.01 s), the playlist lists the
// newest six, and a segment is still served for a few after it left the list.
constexpr int kHlsSegmentFrames = 77;
constexpr int kHlsTargetSeconds = 2;
constexpr std::int64_t kHlsWindow = 6;
constexpr std::int64_t kHlsGrace = 3;
constexpr std::int64_t kTimestampClock = 90000; // Hz

// Seconds of a loop of whole frames, so that the loop's length in frames is known.
double LoopSeconds(int frames) {
    return frames * double(kSamplesPerFrame) / kSampleRate;
}

struct Style {
    int loopFrames;
    double decaySeconds; // 0: steady tone
};
constexpr std::array kStyles = {Style{38, 0.0}, Style{38, 0.25}, Style{77, 0.8}};

Gauge &ListenerGauge() {
    static Gauge &gauge = ServerMetrics().gauge("quorvel_directory_stream_listeners",
                                                "Listeners of the generated streams.");
    return gauge;
}

} // namespace

tone::ToneSettings SoundOf(int sound) {
    // Pentatonic notes over three octaves from A3.
    static constexpr std::array kSemitones = {0, 2, 4, 7, 9};
    const int note = sound % kNotes;
    const Style style = kStyles[(sound / kNotes) % kStyles.size()];
    tone::ToneSettings settings;
    settings.frequencyHz = 220.0 * std::pow(2.0, (kSemitones[note % 5] + 12 * (note / 5)) / 12.0);
    settings.loopSeconds = LoopSeconds(style.loopFrames);
    settings.decaySeconds = style.decaySeconds;
    settings.bitrateKbps = 64;
    settings.sampleRate = kSampleRate;
    settings.level = 0.4;
    return settings;
}

struct StreamHub::Listener {
    Listener(tone::ToneStream toneStream, std::string client)
        : stream(std::move(toneStream)), address(std::move(client)) {}

    tone::ToneStream stream;
    const std::string address;           // the client's, which holds the place
    std::unique_ptr<IcyInterleaver> icy; // when the client asked for metadata
    Clock::time_point start = Clock::now();
    std::int64_t framesSent = 0;
    int fd = -1; // once adopted
    std::string unsent;
    Clock::time_point lastProgress = start;
};

StreamHub::StreamHub(ChannelOf channelOf, int maxListeners, int maxPerAddress)
    : channelOf_(std::move(channelOf)), maxListeners_(maxListeners), maxPerAddress_(maxPerAddress),
      epoch_(Clock::now()), pump_([this] { pumpAll(); }) {
    ListenerGauge(); // shown from the start, at 0
}

StreamHub::~StreamHub() {
    stop();
    pump_.join();
}

tone::ToneStream StreamHub::streamFor(const std::string &key, int sound) {
    std::lock_guard lock(loopsMutex_);
    auto found = loops_.find(key);
    if (found == loops_.end()) {
        found = loops_.emplace(key, tone::ToneStream(SoundOf(sound))).first;
    }
    return found->second;
}

void StreamHub::serve(const std::string &key, const std::string &client,
                      const httplib::Request &request, httplib::Response &response) {
    const std::optional<StreamChannel> channel = channelOf_(key);
    if (!channel) {
        response.status = 404;
        return;
    }
    bool stopping = false;
    {
        std::lock_guard lock(stopMutex_);
        stopping = stopping_;
    }
    if (stopping || !takePlace(client)) {
        response.status = 503;
        return;
    }
    auto listener = std::make_shared<Listener>(streamFor(key, channel->sound), client);
    // Join the broadcast where it is now: skip into the loop by the time since
    // the server started, less the lead sent at once.
    const int loopFrames = kStyles[(channel->sound / kNotes) % kStyles.size()].loopFrames;
    const auto loop = listener->stream.frameDuration() * loopFrames;
    const auto sinceEpoch = duration_cast<microseconds>(Clock::now() - epoch_ - kLead);
    const auto phase = (sinceEpoch % loop + loop) % loop;
    listener->stream.next(duration_cast<milliseconds>(phase));
    if (request.get_header_value("Icy-MetaData") == "1") {
        listener->icy = std::make_unique<IcyInterleaver>(kIcyInterval, channel->title);
        response.set_header("icy-metaint", std::to_string(kIcyInterval));
    }
    response.status = 200; // a live stream has no ranges: a Range header gets the whole stream
    response.set_header("icy-name", channel->title);
    response.set_header("icy-br", "64");
    response.set_header("Cache-Control", "no-cache, no-store");
    // The stream ends only with the connection.
    response.set_header("Connection", "close");
    // Called once the head is written (never for HEAD): from then on the
    // connection is the pump thread's.
    response.set_content_provider(
        "audio/mpeg",
        [this, listener](std::size_t, httplib::DataSink &sink) {
            listener->fd = GuardedServer::takeConnection();
            adopt(listener);
            sink.done();
            return true;
        },
        [this, listener](bool) {
            if (listener->fd < 0) {
                releasePlace(listener->address);
            }
        });
}

void StreamHub::adopt(const std::shared_ptr<Listener> &listener) {
    if (listener->fd < 0) {
        return; // the releaser gives the place back
    }
    bool adopted = false;
    {
        std::lock_guard lock(stopMutex_);
        if (!stopping_) {
            arriving_.push_back(listener);
            adopted = true;
        }
    }
    if (!adopted) {
        close(listener->fd);
        releasePlace(listener->address);
        return;
    }
    stopChanged_.notify_all();
}

void StreamHub::pumpAll() {
    std::vector<std::shared_ptr<Listener>> playing;
    for (bool stopping = false; !stopping;) {
        {
            std::unique_lock lock(stopMutex_);
            stopChanged_.wait_for(lock, kTick, [this] { return stopping_ || !arriving_.empty(); });
            stopping = stopping_;
            playing.insert(playing.end(), arriving_.begin(), arriving_.end());
            arriving_.clear();
        }
        const Clock::time_point now = Clock::now();
        std::erase_if(playing, [&](const std::shared_ptr<Listener> &listener) {
            if (!stopping && pump(*listener, now)) {
                return false;
            }
            close(listener->fd);
            releasePlace(listener->address);
            return true;
        });
    }
}

bool StreamHub::pump(Listener &listener, Clock::time_point now) {
    if (now - listener.start > kMaxSession) {
        return false;
    }
    const auto due = now - listener.start + kLead;
    const auto sent = listener.stream.frameDuration() * listener.framesSent;
    if (due > sent) {
        const std::string audio = listener.stream.next(duration_cast<milliseconds>(due - sent));
        listener.framesSent += static_cast<std::int64_t>(tone::Mp3FrameLengths(audio).size());
        if (listener.icy) {
            listener.unsent += listener.icy->wrap(audio);
        } else {
            listener.unsent += audio;
        }
    }
    const ssize_t written = SendNow(listener.fd, listener.unsent);
    if (written < 0 && errno != EAGAIN && errno != EINTR) {
        return false; // the client has gone
    }
    if (written > 0) {
        listener.unsent.erase(0, static_cast<std::size_t>(written));
        listener.lastProgress = now;
    }
    return listener.unsent.empty() || now - listener.lastProgress < kStalled;
}

bool StreamHub::takePlace(const std::string &address) {
    const std::lock_guard lock(placesMutex_);
    int &held = listenersOf_[address];
    if (listeners_ >= maxListeners_ || held >= maxPerAddress_) {
        if (held == 0) {
            listenersOf_.erase(address);
        }
        return false;
    }
    ++held;
    ++listeners_;
    ListenerGauge().add(1);
    return true;
}

void StreamHub::releasePlace(const std::string &address) {
    const std::lock_guard lock(placesMutex_);
    const auto found = listenersOf_.find(address);
    if (--found->second == 0) {
        listenersOf_.erase(found);
    }
    --listeners_;
    ListenerGauge().add(-1);
}

void StreamHub::stop() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopChanged_.notify_all();
}

HlsBroadcast::HlsBroadcast(const tone::ToneSettings &sound)
    : stream_(sound), epoch_(Clock::now()) {}

std::int64_t HlsBroadcast::newest() const {
    const auto segment = stream_.frameDuration() * kHlsSegmentFrames;
    // The broadcast begins with a full playlist.
    return (Clock::now() - epoch_) / segment + kHlsWindow - 1;
}

void HlsBroadcast::servePlaylist(httplib::Response &response) const {
    const std::int64_t last = newest();
    const double seconds =
        std::chrono::duration<double>(stream_.frameDuration() * kHlsSegmentFrames).count();
    std::string playlist =
        "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + std::to_string(kHlsTargetSeconds) +
        "\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(last - kHlsWindow + 1) + "\n";
    char duration[32];
    std::snprintf(duration, sizeof duration, "#EXTINF:%.3f,\n", seconds);
    for (std::int64_t sequence = last - kHlsWindow + 1; sequence <= last; ++sequence)
        playlist += duration + std::to_string(sequence) + ".mp3\n";
    response.set_header("Cache-Control", "no-cache");
    response.set_content(playlist, "application/vnd.apple.mpegurl");
}

void HlsBroadcast::serveSegment(std::int64_t sequence, httplib::Response &response) const {
    const std::int64_t last = newest();
    if (sequence > last || sequence < last - kHlsWindow - kHlsGrace) {
        response.status = 404;
        return;
    }
    const auto first = static_cast<std::size_t>(sequence * kHlsSegmentFrames);
    const std::int64_t samples = static_cast<std::int64_t>(first) * kSamplesPerFrame;
    response.set_content(tone::PackedAudioSegment(
                             stream_.frames(first, kHlsSegmentFrames),
                             static_cast<std::uint64_t>(samples * kTimestampClock / kSampleRate)),
                         "audio/mpeg");
}

} // namespace directory
