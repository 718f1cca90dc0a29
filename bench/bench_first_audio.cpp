// SPDX-License-Identifier: GPL-3.0-or-later

// Time from the request to the first non-silent sample out of libVLC's audio
// output, for our media player against a bare libVLC player that reads the URL
// itself (with its default network caching, and with 200 ms), on the same
// loopback streams in the same run, and on a live HLS station (AAC in MPEG-TS),
// which bare libVLC reads with its own HLS module. Also counts the breaks in the
// sound on a stream that arrives in uneven bursts and on a congested link, and
// the connections each play made.

#include "bench/wait_for.h"
#include "directory_server/tone/tone.h"
#include "platform/vlc_media_player.h"
#include "tests/support/hls_station.h"
#include "tests/support/loopback_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <utility>
#include <vector>
#include <vlc/vlc.h>

using namespace std::chrono_literals;

namespace {

constexpr int kRuns = 3;
constexpr qint64 kGiveUpMs = 10000;
constexpr qint64 kListenMs = 8000;
// A silence longer than this is a break in the sound.
constexpr qint64 kBreakMs = 80;
// No audio for this long after a stop: the player is silent.
constexpr qint64 kQuietMs = 300;
// The congested link: how long it is listened to, the breaks it counts, and
// from when on a break counts as late (the cushion has had time to build).
constexpr qint64 kCongestedListenMs = 60000;
constexpr qint64 kShortBreakMs = 50;
constexpr qint64 kLongBreakMs = 200;
constexpr qint64 kLateAfterMs = 10000;
constexpr quint32 kCongestionSeed = 21;

// How a stream is sent: a first burst of bytes, then real time, with pauses.
struct Pacing {
    int burstBytes = 0;
    bool uneven = false;    // what is due is held back a random while, then sent at once
    bool congested = false; // stalls of 200-900 ms every 2-6 s, then what is due at once
};

// When a congested link holds everything back, the same for every connection.
class Congestion {
public:
    Congestion() : random_(kCongestionSeed) { plan(0ms); }
    bool stalled(std::chrono::microseconds elapsed) {
        if (elapsed >= stallEnd_)
            plan(stallEnd_);
        return elapsed >= stallStart_;
    }

private:
    void plan(std::chrono::microseconds from) {
        stallStart_ = from + std::chrono::milliseconds(2000 + random_.bounded(4000));
        stallEnd_ = stallStart_ + std::chrono::milliseconds(200 + random_.bounded(700));
    }
    QRandomGenerator random_;
    std::chrono::microseconds stallStart_{0};
    std::chrono::microseconds stallEnd_{0};
};

// A live tone at 128 kbit/s, joined in the middle of a frame: the burst first,
// then what falls due in real time (uneven: held back up to 0.4 s at a time).
void ServeTone(testsupport::LoopbackServer &server, const std::string &path, Pacing pacing) {
    server.get(path, [pacing](const httplib::Request &, httplib::Response &response) {
        auto stream = std::make_shared<tone::ToneStream>(tone::ToneSettings{});
        auto pending = std::make_shared<std::string>(stream->next(100ms).substr(200));
        while (pending->size() < static_cast<std::size_t>(pacing.burstBytes))
            pending->append(stream->next(100ms));
        auto sent = std::make_shared<std::chrono::microseconds>(0);
        auto hold = std::make_shared<std::chrono::microseconds>(0);
        auto random = std::make_shared<QRandomGenerator>(7);
        auto congestion = std::make_shared<Congestion>();
        const auto start = std::chrono::steady_clock::now();
        response.set_content_provider("audio/mpeg", [=](size_t, httplib::DataSink &sink) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start);
            if (elapsed > (pacing.congested ? 75s : 30s))
                return false;
            if (!pending->empty()) {
                const std::string out = std::exchange(*pending, {});
                return sink.write(out.data(), out.size());
            }
            if (elapsed < *sent + *hold || (pacing.congested && congestion->stalled(elapsed))) {
                std::this_thread::sleep_for(5ms); // pacing, not waiting for an event
                return true;
            }
            const std::string frames = stream->next(
                std::chrono::duration_cast<std::chrono::milliseconds>(elapsed - *sent) + 20ms);
            *sent += stream->frameDuration() * tone::Mp3FrameLengths(frames).size();
            *hold = std::chrono::milliseconds(pacing.uneven ? random->bounded(400) : 0);
            return sink.write(frames.data(), frames.size());
        });
    });
}

// Receives a player's audio: when the first non-silent sample came, and the
// breaks after that. The output hands over its samples in blocks of its own
// timing, each with the time it is due at: a block due later than the end of
// the one before follows a silence.
struct Ear {
    static constexpr int kRate = 44100;

    QElapsedTimer clock;
    std::atomic<qint64> firstSoundMs{-1};
    std::atomic<qint64> lastCallMs{-1};
    std::atomic<int> breaks{0};       // silences over kBreakMs
    std::atomic<int> shortBreaks{0};  // silences over kShortBreakMs
    std::atomic<int> longBreaks{0};   // over kLongBreakMs
    std::atomic<int> lateBreaks{0};   // over kShortBreakMs, kLateAfterMs after the first sound
    std::atomic<qint64> silenceMs{0}; // in the silences over kShortBreakMs
    int64_t dueUs = 0;                // when the last block's audio ends; the callback's own

    void start() {
        firstSoundMs = -1;
        lastCallMs = -1;
        breaks = 0;
        shortBreaks = 0;
        longBreaks = 0;
        lateBreaks = 0;
        silenceMs = 0;
        clock.start();
    }

    void listen(qint64 now, unsigned count, int64_t pts) {
        const qint64 silence = (pts - dueUs) / 1000;
        dueUs = pts + int64_t{count} * 1000000 / kRate;
        breaks += silence > kBreakMs ? 1 : 0;
        if (silence <= kShortBreakMs)
            return;
        ++shortBreaks;
        longBreaks += silence > kLongBreakMs ? 1 : 0;
        lateBreaks += now - firstSoundMs > kLateAfterMs ? 1 : 0;
        silenceMs += silence;
    }

    static void onPlay(void *opaque, const void *samples, unsigned count, int64_t pts) {
        auto *ear = static_cast<Ear *>(opaque);
        const qint64 now = ear->clock.elapsed();
        if (ear->firstSoundMs >= 0)
            ear->listen(now, count, pts);
        ear->lastCallMs = now;
        const auto *sample = static_cast<const qint16 *>(samples);
        if (ear->firstSoundMs < 0 &&
            std::any_of(sample, sample + count * 2, [](qint16 s) { return std::abs(s) > 64; })) {
            ear->firstSoundMs = now;
            ear->dueUs = pts + int64_t{count} * 1000000 / kRate;
        }
    }

    void hook(libvlc_media_player_t *player) {
        libvlc_audio_set_callbacks(player, &Ear::onPlay, nullptr, nullptr, nullptr, nullptr, this);
        libvlc_audio_set_format(player, "S16N", kRate, 2);
    }
};

// One way of playing a URL, measured.
class Contender {
public:
    virtual ~Contender() = default;
    virtual void play(const QString &url) = 0;
    virtual void stop() = 0;
    // A stop may silence the output a little later: the next play is measured
    // only once nothing comes out any more.
    void awaitSilence() {
        WaitFor([this] { return ear.clock.elapsed() - ear.lastCallMs > kQuietMs; }, kGiveUpMs);
    }
    Ear ear;
};

class Ours final : public Contender {
public:
    Ours() : player_(QStringList{}, [this](libvlc_media_player_t *player) { ear.hook(player); }) {}
    void play(const QString &url) override { player_.setURL(url); }
    void stop() override { player_.stop(); }

private:
    platform::VlcMediaPlayer player_;
};

class Bare final : public Contender {
public:
    explicit Bare(int cachingMs) : cachingMs_(cachingMs) {
        const char *arguments[] = {"--quiet", "--no-video", "--no-lua"};
        instance_ = libvlc_new(3, arguments);
        player_ = libvlc_media_player_new(instance_);
        ear.hook(player_);
    }
    ~Bare() override {
        libvlc_media_player_stop(player_);
        libvlc_media_player_release(player_);
        libvlc_release(instance_);
    }
    void play(const QString &url) override {
        libvlc_media_t *media = libvlc_media_new_location(instance_, url.toUtf8().constData());
        if (cachingMs_ > 0)
            libvlc_media_add_option(
                media,
                QByteArray(":network-caching=" + QByteArray::number(cachingMs_)).constData());
        libvlc_media_player_set_media(player_, media);
        libvlc_media_release(media);
        libvlc_media_player_play(player_);
    }
    void stop() override { libvlc_media_player_stop(player_); }

private:
    int cachingMs_;
    libvlc_instance_t *instance_ = nullptr;
    libvlc_media_player_t *player_ = nullptr;
};

// Median first-audio time over kRuns plays, -1 when it never sounded.
qint64 FirstAudio(Contender &contender, const QString &url) {
    std::vector<qint64> runs;
    for (int run = 0; run < kRuns; ++run) {
        contender.ear.start();
        contender.play(url);
        WaitFor([&] { return contender.ear.firstSoundMs >= 0; }, kGiveUpMs);
        runs.push_back(contender.ear.firstSoundMs);
        contender.stop();
        contender.awaitSilence();
    }
    std::sort(runs.begin(), runs.end());
    return runs[kRuns / 2];
}

// Listens to a stream for listenMs after its first sound; the ear keeps the breaks.
void Listen(Contender &contender, const QString &url, qint64 listenMs) {
    contender.ear.start();
    contender.play(url);
    WaitFor([&] { return contender.ear.firstSoundMs >= 0; }, kGiveUpMs);
    WaitFor([] { return false; }, listenMs);
    contender.stop();
    contender.awaitSilence();
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    testsupport::LoopbackServer server;
    Ours ours;
    Bare bareDefault(0);
    Bare bare200(200);
    struct Row {
        const char *name;
        QString folder; // each player has streams of its own, to count its connections
        Contender *contender;
    };
    const Row rows[] = {{"ours (one connection, named demuxer)", "/ours", &ours},
                        {"bare libVLC, default caching", "/bare", &bareDefault},
                        {"bare libVLC, 200 ms network caching", "/bare200", &bare200}};
    for (const Row &row : rows) {
        const std::string folder = row.folder.toStdString();
        ServeTone(server, folder + "/paced.mp3", {});
        ServeTone(server, folder + "/burst.mp3", {64 * 1024, false});
        ServeTone(server, folder + "/uneven.mp3", {0, true});
        testsupport::ServeHls(server, folder + "/hls",
                              {.format = testsupport::HlsPlan::Format::TsAac});
        ServeTone(server, folder + "/congested.mp3", {0, false, true});
    }
    std::printf("first audio, median of %d plays (ms); breaks: pauses in the sound over %lld ms "
                "in %lld s of an uneven stream; connections: per play, all streams\n",
                kRuns, static_cast<long long>(kBreakMs), static_cast<long long>(kListenMs / 1000));
    std::printf("%-40s %8s %13s %8s %7s %12s\n", "player", "paced", "64 KiB burst", "HLS", "breaks",
                "connections");
    qint64 anchor = 0;
    qint64 hlsAnchor = 0;
    qint64 hlsOurs = 0;
    for (const Row &row : rows) {
        const qint64 paced = FirstAudio(*row.contender, server.url(row.folder + "/paced.mp3"));
        const qint64 burst = FirstAudio(*row.contender, server.url(row.folder + "/burst.mp3"));
        const qint64 hls = FirstAudio(*row.contender, server.url(row.folder + "/hls/index.m3u8"));
        Listen(*row.contender, server.url(row.folder + "/uneven.mp3"), kListenMs);
        const int breaks = row.contender->ear.breaks;
        const int connections = server.requestCount(row.folder.toStdString() + "/paced.mp3") +
                                server.requestCount(row.folder.toStdString() + "/burst.mp3") +
                                server.requestCount(row.folder.toStdString() + "/uneven.mp3");
        if (row.contender == &bareDefault) {
            anchor = paced;
            hlsAnchor = hls;
        }
        if (row.contender == &ours)
            hlsOurs = hls;
        std::printf("%-40s %8lld %13lld %8lld %7d %12.2f\n", row.name,
                    static_cast<long long>(paced), static_cast<long long>(burst),
                    static_cast<long long>(hls), breaks,
                    static_cast<double>(connections) / (2 * kRuns + 1));
    }
    std::printf("HLS first audio, ours against bare libVLC's default: %.2f (target: at most 1)\n",
                static_cast<double>(hlsOurs) / static_cast<double>(std::max<qint64>(1, hlsAnchor)));
    std::printf("first audio on the paced stream, ours against bare libVLC's default: %.2f\n",
                static_cast<double>(FirstAudio(ours, server.url("/ours/paced.mp3"))) /
                    static_cast<double>(std::max<qint64>(1, anchor)));

    std::printf("\ncongested link (seed %u: stalls of 200-900 ms every 2-6 s, then what was held "
                "at once), %lld s after the first sound; target for ours: no break after the "
                "first %lld s\n",
                kCongestionSeed, static_cast<long long>(kCongestedListenMs / 1000),
                static_cast<long long>(kLateAfterMs / 1000));
    std::printf("%-40s %11s %8s %9s %13s %11s\n", "player", "first audio", ">50 ms", ">200 ms",
                "after 10 s", "silence ms");
    for (const Row &row : rows) {
        const Ear &ear = row.contender->ear;
        Listen(*row.contender, server.url(row.folder + "/congested.mp3"), kCongestedListenMs);
        std::printf("%-40s %11lld %8d %9d %13d %11lld\n", row.name,
                    static_cast<long long>(ear.firstSoundMs.load()), ear.shortBreaks.load(),
                    ear.longBreaks.load(), ear.lateBreaks.load(),
                    static_cast<long long>(ear.silenceMs.load()));
    }
    return 0;
}
