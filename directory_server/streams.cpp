#include "streams.h"

#include "icy_metadata.h"

#include <array>
#include <cmath>

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
// A listening session ends after this long; players reconnect.
constexpr std::chrono::hours kMaxSession{24};
constexpr std::size_t kIcyInterval = 8192;

// Seconds of a loop of whole frames, so that the loop's length in frames is known.
double LoopSeconds(int frames) {
    return frames * double(kSamplesPerFrame) / kSampleRate;
}

struct Style {
    int loopFrames;
    double decaySeconds; // 0: steady tone
};
constexpr std::array kStyles = {Style{38, 0.0}, Style{38, 0.25}, Style{77, 0.8}};

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
    tone::ToneStream stream;
    std::unique_ptr<IcyInterleaver> icy; // when the client asked for metadata
    Clock::time_point start = Clock::now();
    Clock::time_point nextSend = start;
    std::int64_t framesSent = 0;
};

StreamHub::StreamHub(std::map<std::string, StreamChannel> channels, int maxListeners)
    : channels_(std::move(channels)), maxListeners_(maxListeners), epoch_(Clock::now()) {}

tone::ToneStream StreamHub::streamFor(const std::string &key) {
    std::lock_guard lock(loopsMutex_);
    auto found = loops_.find(key);
    if (found == loops_.end()) {
        found = loops_.emplace(key, tone::ToneStream(SoundOf(channels_.at(key).sound))).first;
    }
    return found->second;
}

void StreamHub::serve(const std::string &key, const httplib::Request &request,
                      httplib::Response &response) {
    const auto channel = channels_.find(key);
    if (channel == channels_.end()) {
        response.status = 404;
        return;
    }
    if (listeners_.fetch_add(1) >= maxListeners_ || !waitUntil(Clock::now())) {
        listeners_.fetch_sub(1);
        response.status = 503;
        return;
    }
    auto listener = std::make_shared<Listener>(Listener{streamFor(key), nullptr});
    // Join the broadcast where it is now: skip into the loop by the time since
    // the server started, less the lead sent at once.
    const int loopFrames = kStyles[(channel->second.sound / kNotes) % kStyles.size()].loopFrames;
    const auto loop = listener->stream.frameDuration() * loopFrames;
    const auto sinceEpoch = duration_cast<microseconds>(Clock::now() - epoch_ - kLead);
    const auto phase = (sinceEpoch % loop + loop) % loop;
    listener->stream.next(duration_cast<milliseconds>(phase));
    if (request.get_header_value("Icy-MetaData") == "1") {
        listener->icy = std::make_unique<IcyInterleaver>(kIcyInterval, channel->second.title);
        response.set_header("icy-metaint", std::to_string(kIcyInterval));
    }
    response.status = 200; // a live stream has no ranges: a Range header gets the whole stream
    response.set_header("icy-name", channel->second.title);
    response.set_header("icy-br", "64");
    response.set_header("Cache-Control", "no-cache, no-store");
    response.set_content_provider(
        "audio/mpeg",
        [this, listener](std::size_t, httplib::DataSink &sink) { return pump(*listener, sink); },
        [this](bool) { listeners_.fetch_sub(1); });
}

bool StreamHub::pump(Listener &listener, httplib::DataSink &sink) {
    if (!waitUntil(listener.nextSend) || Clock::now() - listener.start > kMaxSession) {
        sink.done();
        return true;
    }
    const auto due = Clock::now() - listener.start + kLead;
    const auto sent = listener.stream.frameDuration() * listener.framesSent;
    if (due > sent) {
        const QByteArray audio = listener.stream.next(duration_cast<milliseconds>(due - sent));
        listener.framesSent += tone::Mp3FrameLengths(audio).size();
        const std::string_view bytes(audio.constData(), audio.size());
        const std::string out = listener.icy ? listener.icy->wrap(bytes) : std::string(bytes);
        if (!sink.write(out.data(), out.size())) {
            return false;
        }
    }
    listener.nextSend = Clock::now() + kTick;
    return true;
}

bool StreamHub::waitUntil(Clock::time_point deadline) {
    std::unique_lock lock(stopMutex_);
    return !stopChanged_.wait_until(lock, deadline, [this] { return stopping_; });
}

void StreamHub::stop() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopChanged_.notify_all();
}

} // namespace directory
