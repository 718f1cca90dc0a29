// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/vlc_media_player.h"

#include "platform/background_task.h"
#include "platform/hls_stream.h"
#include "platform/http_request.h"
#include "platform/http_transfer.h"
#include "platform/log_categories.h"
#include "platform/playlist.h"
#include "platform/stream_feed.h"
#include "platform/stream_format.h"

#include <QObject>
#include <QRandomGenerator>
#include <QUrl>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <vector>
#include <vlc/vlc.h>

namespace platform {

namespace {

// Options every instance gets: audio only, quiet, nothing fetched or shown
// beyond the stream itself.
const QStringList kBaseArguments = {
    QStringLiteral("--quiet"),
    QStringLiteral("--no-video"),
    QStringLiteral("--no-spu"),
    QStringLiteral("--no-osd"),
    QStringLiteral("--no-stats"),
    QStringLiteral("--no-lua"),
    QStringLiteral("--no-metadata-network-access"),
    // Playing a little slower keeps the pitch (see Cushion).
    QStringLiteral("--audio-time-stretch"),
};

// How long a playing stream may go without its clock moving before it counts
// as buffering.
constexpr qint64 kStallAfterMs = 2000;
// How long after the decoder's clock last moved a reconnecting play still
// sounds from what it holds.
constexpr qint64 kSoundingForMs = 500;
// How long a finite stream that has ended reads as ended before it reads as
// stopped: longer than the window's status poll.
constexpr qint64 kEndedShownMs = 1500;
// A connection that receives nothing for this long is given up.
constexpr long kConnectionStallMs = 10000;
// From the request until the first sound (and from a reconnection's request
// until it plays again), whatever trickles in meanwhile.
constexpr qint64 kFirstAudioWithinMs = 10000;
// The network reads no further ahead of the decoder than this, or than twice
// the cushion when that is more.
constexpr std::size_t kFeedAheadBytes = 512 * 1024;
// The first bytes of a body that decide whether it is a playlist or audio.
constexpr qsizetype kSniffBytes = 512;
// How often a worker looks at the decoder while it waits on it.
constexpr std::chrono::milliseconds kWatchInterval{20};
// How long bytes that came before a connection dropped may take to sound.
constexpr qint64 kDropSoundsWithinMs = 2000;
// A stream without a length and without ICY headers that closes by itself
// before this much audio is a finite clip, not a live stream that dropped.
constexpr qint64 kLiveAfterAudioMs = 60000;
// A station that has sounded this long without a drop starts its back-off anew.
constexpr qint64 kCalmAfterMs = 30000;
// Waits before each new connection to a live stream that went away, jittered
// by a fifth either way; after the last, every kBackOffCeiling.
constexpr std::array<std::chrono::milliseconds, 5> kBackOff = {
    std::chrono::milliseconds(500), std::chrono::milliseconds(1000),
    std::chrono::milliseconds(2000), std::chrono::milliseconds(4000),
    std::chrono::milliseconds(8000)};
constexpr std::chrono::milliseconds kBackOffCeiling{15000};
// Waits before a URL that failed is opened again when it is set again:
// doubling from the first, jittered, up to the last.
constexpr qint64 kRetryFirstMs = 1000;
constexpr qint64 kRetryCeilingMs = 60000;

qint64 NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 Jittered(qint64 ms) {
    const double jitter = 0.8 + 0.4 * QRandomGenerator::global()->generateDouble();
    return static_cast<qint64>(static_cast<double>(ms) * jitter);
}

std::chrono::milliseconds BackOff(std::size_t attempt) {
    const std::chrono::milliseconds base =
        attempt < kBackOff.size() ? kBackOff[attempt] : kBackOffCeiling;
    return std::chrono::milliseconds(Jittered(base.count()));
}

// Whether a response carries any ICY header: a radio server's stream.
bool HasIcyHeaders(const TransferResult &head) {
    return std::ranges::any_of(head.headers,
                               [](const auto &header) { return header.first.startsWith("icy-"); });
}

// A URL to connect to, and the space of the server that named it (see
// TransferRequest::from).
struct Entry {
    QString url;
    std::optional<AddressSpace> from;
};

// A playlist's entries, and the space of the server that sent it.
struct PlaylistEntries {
    QStringList urls;
    AddressSpace space = AddressSpace::Public;
};

// Why a station could not be played, as the log tells it.
enum class FailReason {
    NotHttp,         // the address is not http or https
    NoResponse,      // no answer: unreachable, or an address the play may not reach
    HttpStatus,      // an answer with a status that is no success
    NotAStream,      // an answer without sound in it
    NoPlayableEntry, // a playlist that left no entry to try
    DecoderFailure,  // libVLC could not start, or gave the stream up
    ClosedEarly,     // the connection ended before any sound
    NoSound,         // no sound within the time a play has
    NotRestored,     // a live stream went away and did not come back in time
};

struct Failure {
    FailReason reason = FailReason::NoResponse;
    int status = 0; // of HttpStatus
};

QString DescribeFailure(const Failure &failure) {
    switch (failure.reason) {
    case FailReason::NotHttp:
        return QStringLiteral("not an http or https address");
    case FailReason::NoResponse:
        return QStringLiteral("unreachable or refused address: no response");
    case FailReason::HttpStatus:
        return QStringLiteral("HTTP status %1").arg(failure.status);
    case FailReason::NotAStream:
        return QStringLiteral("not a stream: nothing in it sounds");
    case FailReason::NoPlayableEntry:
        return QStringLiteral("playlist without a playable entry");
    case FailReason::DecoderFailure:
        return QStringLiteral("decoder failure");
    case FailReason::ClosedEarly:
        return QStringLiteral("the connection ended before any sound");
    case FailReason::NoSound:
        return QStringLiteral("no sound within %1 s").arg(kFirstAudioWithinMs / 1000);
    case FailReason::NotRestored:
        return QStringLiteral("the stream went away and did not come back in time");
    }
    return {};
}

// An address as the log shows it: scheme, host and path, never credentials.
QString LoggedUrl(const QString &url) {
    return QUrl(url)
        .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePort | QUrl::RemoveQuery |
                  QUrl::RemoveFragment)
        .toString();
}

// The one log line of a play that came to nothing: the station, why, and the
// entry that reason is about when a playlist led to it.
void LogFailedPlay(const QString &station, const QString &entry, const Failure &failure) {
    if (!lcPlayer().isInfoEnabled())
        return;
    QString line =
        QStringLiteral("cannot play \"%1\": %2").arg(LoggedUrl(station), DescribeFailure(failure));
    if (!entry.isEmpty() && entry != station)
        line += QStringLiteral(" (entry \"%1\")").arg(LoggedUrl(entry));
    qCInfo(lcPlayer).noquote() << line;
}

// One play of a URL, from setURL (or play) to the next stop, as its worker
// sees it: which play it is, the task that stops it, and why its last
// connection failed.
struct Play {
    quint64 id = 0;
    const BackgroundTask &task;
    qint64 firstAudioBy = 0; // the play fails when it has not sounded by then
    Failure failure;

    bool cancelled() const { return task.isCancelled(); }
};

// libVLC's input thread reads the feed the media was made with.
int OpenFeed(void *opaque, void **data, uint64_t *size) {
    *data = opaque;
    *size = UINT64_MAX; // a stream: no length, no seeking
    return 0;
}

ssize_t ReadFeed(void *opaque, unsigned char *buffer, size_t length) {
    return static_cast<Feed *>(opaque)->read(buffer, length);
}

// libVLC paces its reading by the stream's own clock only for a source that
// says it can seek, and otherwise follows the pace the bytes arrive at, which a
// server sending faster than real time turns into dropped audio. So the feed
// "seeks", but only to where it is.
int SeekFeed(void *opaque, uint64_t offset) {
    return offset == static_cast<Feed *>(opaque)->position() ? 0 : -1;
}

void CloseFeed(void *) {}

// The cushion of sound queued ahead of the decoder. A play starts as soon as
// libVLC can (no cushion), then plays a little slower, with the pitch kept,
// until the cushion is there; a server's burst on connect fills it at once. An
// underrun (after which the feed holds the decoder back until a refill is
// queued) raises the cushion wanted and the read-ahead with it, and a long calm
// lowers it again, slowly.
class Cushion {
public:
    static constexpr double kBuildingRate = 0.97;

    // The bitrate a station announces, when it is one audio can have.
    explicit Cushion(int bitrateKbps) : bytesPerSecond_(kAssumedBytesPerSecond) {
        const qint64 announced = qint64{bitrateKbps} * 125;
        if (announced >= kLeastBytesPerSecond && announced <= kMostBytesPerSecond)
            bytesPerSecond_ = announced;
    }

    // Called every watch interval while the decoder plays; the rate to play at.
    double tend(const Feed &feed, qint64 playedMs, qint64 nowMs) {
        learnByteRate(feed.position(), playedMs);
        if (const int underruns = feed.underruns(); underruns != underruns_) {
            underruns_ = underruns;
            wantedMs_ = std::min(kMostMs, wantedMs_ + kStepMs);
            calmSinceMs_ = nowMs;
        } else if (nowMs - calmSinceMs_ > kCalmMs && wantedMs_ > kLeastMs) {
            wantedMs_ = std::max(kLeastMs, wantedMs_ - kStepMs / 2);
            calmSinceMs_ = nowMs;
        }
        const std::size_t held = feed.size();
        if (held >= bytesFor(wantedMs_))
            building_ = false;
        else if (held < bytesFor(wantedMs_ - kHysteresisMs))
            building_ = true;
        return building_ ? kBuildingRate : 1.0;
    }
    // What the feed holds back for after an underrun.
    std::size_t refillBytes() const { return bytesFor(kRefillMs); }
    // How far ahead the network may read: further as the cushion wanted grows.
    std::size_t aheadBytes() const { return std::max(kFeedAheadBytes, 2 * bytesFor(wantedMs_)); }
    // Audio in that many bytes, by the stream's byte rate.
    qint64 durationMs(std::size_t bytes) const {
        return static_cast<qint64>(bytes) * 1000 / bytesPerSecond_;
    }

private:
    static constexpr qint64 kAssumedBytesPerSecond = 16000; // 128 kbit/s
    // 8 to 640 kbit/s: what a station's byte rate is taken to lie within, so
    // that no server can make the read-ahead huge.
    static constexpr qint64 kLeastBytesPerSecond = 1000;
    static constexpr qint64 kMostBytesPerSecond = 80000;
    static constexpr qint64 kLeastMs = 2000;
    static constexpr qint64 kMostMs = 8000;
    static constexpr qint64 kStepMs = 1000;
    static constexpr qint64 kRefillMs = 500;
    static constexpr qint64 kHysteresisMs = 500;
    static constexpr qint64 kCalmMs = 60000;
    static constexpr qint64 kRateWindowMs = 5000;

    std::size_t bytesFor(qint64 ms) const {
        return static_cast<std::size_t>(std::max<qint64>(0, ms) * bytesPerSecond_ / 1000);
    }
    // The stream's bytes per second of audio, from what the decoder took over a
    // stretch of its clock.
    void learnByteRate(std::uint64_t position, qint64 playedMs) {
        if (playedMs <= 0)
            return;
        if (windowStartMs_ < 0 || playedMs < windowStartMs_) {
            windowStartMs_ = playedMs;
            windowStartPosition_ = position;
        } else if (playedMs - windowStartMs_ >= kRateWindowMs) {
            const auto rate = static_cast<qint64>(position - windowStartPosition_) * 1000 /
                              (playedMs - windowStartMs_);
            bytesPerSecond_ = std::clamp(rate, kLeastBytesPerSecond, kMostBytesPerSecond);
            windowStartMs_ = playedMs;
            windowStartPosition_ = position;
        }
    }

    qint64 bytesPerSecond_;
    qint64 wantedMs_ = kLeastMs;
    qint64 calmSinceMs_ = 0;
    int underruns_ = 0;
    bool building_ = true;
    qint64 windowStartMs_ = -1;
    std::uint64_t windowStartPosition_ = 0;
};

// Waits that grow for a URL set again after it failed.
qint64 RetryWaitMs(int failures) {
    qint64 wait = kRetryFirstMs;
    for (int i = 1; i < failures && wait < kRetryCeilingMs; ++i)
        wait *= 2;
    return Jittered(std::min(wait, kRetryCeilingMs));
}

} // namespace

// Owns the libVLC objects and the state the windows read. The public methods
// run on the UI thread and never call libVLC: each play's worker thread
// connects, reads, starts, stops and tends libVLC (rate and volume included) on
// its own, and posts only the station's title to the UI thread (through
// context_) and, through its task, that it has ended; libVLC's callbacks touch
// only atomics.
//
// Starting libVLC (its plugins, its player and the sound server's connection)
// takes longer than showing the window, so it is not done before the window
// shows: a thread of its own starts it when the UI thread's event loop waits
// and no window waits for its first paint any more, and a play that comes
// sooner starts it itself or waits for it, while its connection already reads.
class VlcMediaPlayer::Engine {
public:
    Engine(const QStringList &arguments, const Configure &configure,
           std::chrono::milliseconds reconnectFor);
    ~Engine();

    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    void start(const QString &url);
    void stop();
    int playState() const;
    void setVolume(int volume);
    int volume() const { return volume_; }
    QString title() const { return title_; }
    // When the current play failed without having made any sound; nothing
    // while the player is in another state.
    std::optional<qint64> failedAtMs() const;

private:
    // What drives the state the windows read.
    enum class Phase : quint64 {
        Idle,         // no URL yet
        Connecting,   // looking for an entry that plays
        Playing,      // libVLC decodes a connection's bytes
        Reconnecting, // a live stream went away: what is held plays on while it is connected again
        Ending,       // a finite stream has been read whole; libVLC plays it out
        Failed,       // nothing playable came of the URL
        Stopped,      // stopped by the caller
    };
    static quint64 Packed(quint64 id, Phase phase) { return id << 8 | static_cast<quint64>(phase); }

    // The decoding of one play: the feed libVLC reads (one across the
    // reconnections of a live stream) and its cushion.
    struct Session {
        std::shared_ptr<Feed> feed;
        std::unique_ptr<Cushion> cushion;
        double rate = 1.0;
        bool finished = false; // all of a finite stream is in the feed: no cushion to build
        qint64 lastDropMs = 0; // when the last connection went away, or the play began
        // A file with a length that was cut: the byte its next connection
        // asks to go on from; 0 for a live stream.
        qint64 resumeAt = 0;
        qint64 hlsNext = -1; // an HLS playlist's next segment (see HlsPlayer::next)
    };

    // On the preparing thread or a play's worker thread.
    bool prepare();

    // On a play's worker thread.
    void run(Play &play, const QString &url);
    class Connection;
    ConnectionEnd connect(Play &play, const Entry &entry, PlaylistEntries &entries,
                          Session &session);
    ConnectionEnd reconnect(Play &play, const Entry &entry, Session &session);
    bool begin(const Play &play, Session &session, const QByteArray &demuxer, int bitrateKbps);
    void release(const Session &session);
    bool setPhase(const Play &play, Phase phase);
    void tend(const Play &play, Session &session);
    bool watch(const Play &play, Session &session, std::chrono::milliseconds duration);
    void playOut(const Play &play, Session &session);
    void awaitSound(const Play &play, Session &session, qint64 untilMs);
    void announceTitle(const Play &play, const QString &title);
    void applyVolume();

    // On libVLC's threads.
    static void onEvent(const libvlc_event_t *event, void *opaque);

    // On the UI thread.
    void post(std::function<void()> call);
    Phase phase() const { return static_cast<Phase>(state_.load() & 0xff); }
    int decoderState() const;
    // An audio track whose clock moved, or that was played to its end (a short
    // one can end before libVLC reports any time).
    bool madeSound() const { return mediaHasAudio_ && (mediaPlayed_ || mediaEnded_); }

    QObject context_; // receives the calls posted to the UI thread; goes last
    const QStringList arguments_;
    const Configure configure_;
    const std::chrono::milliseconds reconnectFor_;

    // Made once by prepare(); read by others only once ready_ is set.
    std::once_flag prepared_;
    std::atomic<bool> ready_{false};
    libvlc_instance_t *instance_ = nullptr;
    libvlc_media_player_t *player_ = nullptr;

    // The UI thread's own.
    // A play as the UI thread keeps it: its worker, until the worker has returned.
    struct PlayTask {
        quint64 id = 0;
        std::unique_ptr<BackgroundTask> task;
    };
    std::list<std::unique_ptr<PlayTask>> plays_; // running or not yet joined
    PlayTask *current_ = nullptr;
    quint64 lastPlayId_ = 0;
    QString title_;
    std::unique_ptr<BackgroundTask> preparation_; // starts libVLC

    // The current play and its phase in one word, so that a worker whose play
    // was stopped or replaced can change nothing any more.
    std::atomic<quint64> state_{Packed(0, Phase::Idle)};
    std::atomic<qint64> failedAtMs_{0};
    std::atomic<bool> playSounded_{false}; // the current play has made sound

    // Workers make libVLC's stop, set-media and play under control_, so that the
    // media of a play that was replaced is never started.
    std::mutex control_;
    std::shared_ptr<Feed> feedInPlayer_; // the feed of libVLC's current media

    // Set on libVLC's threads, about the current media.
    std::atomic<bool> mediaHasAudio_{false}; // an audio track was found
    std::atomic<bool> mediaPlayed_{false};   // its clock moved past the start
    std::atomic<bool> mediaFailed_{false};
    std::atomic<bool> mediaEnded_{false};
    std::atomic<qint64> lastProgressMs_{0};
    std::atomic<qint64> endedAtMs_{0};
    std::atomic<qint64> playedMs_{0}; // the decoder's clock

    // The volume the user set last, and whether libVLC may not have it yet.
    std::mutex volumeLock_;
    std::atomic<bool> volumePending_{false};
    std::atomic<int> volume_{100};
};

VlcMediaPlayer::Engine::Engine(const QStringList &arguments, const Configure &configure,
                               std::chrono::milliseconds reconnectFor)
    : arguments_(arguments), configure_(configure), reconnectFor_(reconnectFor) {
    // libVLC is started on a thread of its own once the window is on screen.
    WhenWindowsShown(&context_, [this] {
        preparation_ = std::make_unique<BackgroundTask>(
            [this](const BackgroundTask &) { prepare(); }, [this] { preparation_.reset(); });
    });
}

VlcMediaPlayer::Engine::~Engine() {
    preparation_.reset();
    stop();
    plays_.clear(); // every play is cancelled by now: their workers stop libVLC and end
    if (player_)
        libvlc_media_player_release(player_);
    if (instance_)
        libvlc_release(instance_);
}

bool VlcMediaPlayer::Engine::prepare() {
    std::call_once(prepared_, [this] {
        std::vector<QByteArray> storage;
        for (const QString &argument : kBaseArguments + arguments_)
            storage.push_back(argument.toUtf8());
        std::vector<const char *> argv;
        for (const QByteArray &argument : storage)
            argv.push_back(argument.constData());
        instance_ = libvlc_new(static_cast<int>(argv.size()), argv.data());
        if (!instance_)
            return;
        player_ = libvlc_media_player_new(instance_);
        if (!player_)
            return;
        if (configure_)
            configure_(player_);
        libvlc_event_manager_t *events = libvlc_media_player_event_manager(player_);
        for (const libvlc_event_e type :
             {libvlc_MediaPlayerPlaying, libvlc_MediaPlayerTimeChanged, libvlc_MediaPlayerESAdded,
              libvlc_MediaPlayerEncounteredError, libvlc_MediaPlayerEndReached})
            libvlc_event_attach(events, type, &Engine::onEvent, this);
        ready_ = true;
    });
    return ready_;
}

// Runs on libVLC's threads: only atomics and posts.
void VlcMediaPlayer::Engine::onEvent(const libvlc_event_t *event, void *opaque) {
    auto *engine = static_cast<Engine *>(opaque);
    switch (event->type) {
    case libvlc_MediaPlayerESAdded:
        if (event->u.media_player_es_changed.i_type == libvlc_track_audio)
            engine->mediaHasAudio_ = true;
        break;
    case libvlc_MediaPlayerTimeChanged:
        engine->playedMs_ = event->u.media_player_time_changed.new_time;
        if (event->u.media_player_time_changed.new_time > 0)
            engine->mediaPlayed_ = true;
        [[fallthrough]];
    case libvlc_MediaPlayerPlaying:
        engine->lastProgressMs_ = NowMs();
        break;
    case libvlc_MediaPlayerEncounteredError:
        engine->mediaFailed_ = true;
        break;
    case libvlc_MediaPlayerEndReached:
        engine->endedAtMs_ = NowMs();
        engine->mediaEnded_ = true;
        break;
    default:
        break;
    }
}

void VlcMediaPlayer::Engine::post(std::function<void()> call) {
    QMetaObject::invokeMethod(&context_, std::move(call), Qt::QueuedConnection);
}

void VlcMediaPlayer::Engine::start(const QString &url) {
    stop();
    const QString trimmed = url.trimmed();
    if (!IsHttpUrl(trimmed)) {
        // Only http and https are read: any other address fails like a
        // stream that cannot be reached.
        failedAtMs_ = NowMs();
        state_ = Packed(0, Phase::Failed);
        LogFailedPlay(trimmed, {}, {FailReason::NotHttp});
        return;
    }
    auto play = std::make_unique<PlayTask>();
    PlayTask *entry = play.get();
    entry->id = ++lastPlayId_;
    current_ = entry;
    playSounded_ = false;
    state_ = Packed(entry->id, Phase::Connecting);
    entry->task = std::make_unique<BackgroundTask>(
        [this, id = entry->id, trimmed](const BackgroundTask &task) {
            Play worker{id, task, NowMs() + kFirstAudioWithinMs, {}};
            run(worker, trimmed);
        },
        [this, entry] {
            if (current_ == entry)
                current_ = nullptr;
            std::erase_if(plays_, [entry](const auto &held) { return held.get() == entry; });
        });
    plays_.push_back(std::move(play));
}

// Returns at once: the play's worker sees the cancel and stops libVLC itself.
void VlcMediaPlayer::Engine::stop() {
    if (current_)
        current_->task->cancel();
    current_ = nullptr;
    title_.clear();
    if (phase() != Phase::Idle)
        state_ = Packed(0, Phase::Stopped);
}

std::optional<qint64> VlcMediaPlayer::Engine::failedAtMs() const {
    if (phase() != Phase::Failed || playSounded_)
        return std::nullopt;
    return failedAtMs_.load();
}

// The entries of the URL in order, playlists read in place, until one plays;
// then, for a live stream, its reconnections. libVLC is left stopped unless
// another play has taken it over.
void VlcMediaPlayer::Engine::run(Play &play, const QString &url) {
    Session session;
    StationEntries station(url);
    ConnectionEnd end = ConnectionEnd::Failed;
    QString tried; // the entry connected to last
    while (const std::optional<QString> next = station.next()) {
        const Entry entry{*next, station.from()};
        tried = entry.url;
        PlaylistEntries entries;
        end = connect(play, entry, entries, session);
        if (end == ConnectionEnd::Dropped) {
            end = reconnect(play, entry, session);
            break;
        }
        if (end == ConnectionEnd::Playlist) {
            station.readPlaylist(entries.urls, entries.space);
            continue;
        }
        if (end != ConnectionEnd::Failed || NowMs() > play.firstAudioBy ||
            !setPhase(play, Phase::Connecting))
            break;
        release(session); // the next entry starts a decoder of its own
        session = Session{};
    }
    if (end == ConnectionEnd::Ended)
        playOut(play, session);
    if ((end == ConnectionEnd::Failed || end == ConnectionEnd::Playlist) &&
        setPhase(play, Phase::Failed)) {
        failedAtMs_ = NowMs();
        LogFailedPlay(url, tried,
                      end == ConnectionEnd::Playlist ? Failure{FailReason::NoPlayableEntry}
                                                     : play.failure);
    }
    release(session);
}

// A live stream that went away: what the decoder holds plays on while the same
// entry is connected again after a back-off, into the same feed, until it
// plays again or the time is up. The back-off starts anew only after the
// station has sounded for a while without a drop.
ConnectionEnd VlcMediaPlayer::Engine::reconnect(Play &play, const Entry &entry, Session &session) {
    qint64 since = NowMs();
    std::size_t attempt = 0;
    while (setPhase(play, Phase::Reconnecting)) {
        const qint64 left = since + reconnectFor_.count() - NowMs();
        if (left <= 0 ||
            !watch(play, session, std::min(BackOff(attempt++), std::chrono::milliseconds(left))) ||
            NowMs() - since >= reconnectFor_.count())
            break;
        const qint64 connectedAt = NowMs();
        PlaylistEntries ignored;
        const ConnectionEnd end = connect(play, entry, ignored, session);
        if (end == ConnectionEnd::Cancelled || end == ConnectionEnd::Ended)
            return end;
        if (end == ConnectionEnd::Dropped) { // it played again: a new time allowance
            since = NowMs();
            if (session.lastDropMs - connectedAt >= kCalmAfterMs)
                attempt = 0;
        }
    }
    if (play.cancelled())
        return ConnectionEnd::Cancelled;
    play.failure = {FailReason::NotRestored};
    return ConnectionEnd::Failed;
}

// One connection of a play (see connect), from its request to how it came
// out: what its bytes have shown so far, and the steps the transfer's hooks
// take as they arrive. Its first bytes decide whether it is a playlist (read
// whole, within the limits, entries returned) or audio (fed to libVLC as it
// arrives, into the play's feed when a connection before it already made
// sound).
class VlcMediaPlayer::Engine::Connection {
public:
    Connection(Engine &engine, Play &play, const Entry &entry, Session &session);

    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    ConnectionEnd run(PlaylistEntries &entries);

private:
    enum class Mode { Undecided, Audio, Playlist };

    TransferRequest request();
    bool takeHeaders(const TransferResult &result);
    bool takeBody(const char *data, std::size_t length);
    TransferPace pace();
    bool decide();
    void feedAudio(const char *data, std::size_t length);
    bool beginHls(const QByteArray &demuxer);
    std::optional<ConnectionEnd> readPlaylist(const TransferResult &result,
                                              PlaylistEntries &entries);
    ConnectionEnd ended(const TransferResult &result);
    ConnectionEnd playWhole();
    // The decoder reads from this connection.
    bool feeding() const { return mode_ == Mode::Audio || followingHls_; }
    bool restored() const;
    ConnectionEnd fail(Failure failure);
    Failure unanswered(const TransferResult &result) const;
    Failure silence() const;

    Engine &engine_;
    Play &play_;
    const Entry &entry_;
    Session &session_;
    const bool resumed_;    // a reconnection into a playing feed
    const qint64 resumeAt_; // the byte a cut file's range asks to go on from
    const qint64 soundBy_;  // the connection gives up when it has not sounded by then
    Mode mode_ = Mode::Undecided;
    IcyReader icy_{0};
    TransferResult head_;
    QString effectiveUrl_;
    bool begun_;
    bool gaveUp_ = false;
    std::size_t audioBytes_ = 0;
    qint64 bodyFrom_ = 0;  // where in the file this connection's body goes on
    qint64 bodyBytes_ = 0; // of this connection's body, from there
    qint64 skipBytes_ = 0; // what a server that ignored the range sends again
    QByteArray body_;
    QByteArray audio_;
    QByteArray lastTitle_;      // stations repeat the title in every block
    bool followingHls_ = false; // the decoder reads what an HLS follower writes
    bool hlsEnded_ = false;     // and all of the playlist's audio is in the feed
};

VlcMediaPlayer::Engine::Connection::Connection(Engine &engine, Play &play, const Entry &entry,
                                               Session &session)
    : engine_(engine), play_(play), entry_(entry), session_(session),
      resumed_(session.feed != nullptr), resumeAt_(resumed_ ? session.resumeAt : 0),
      soundBy_(resumed_ ? NowMs() + kFirstAudioWithinMs : play.firstAudioBy),
      effectiveUrl_(entry.url), begun_(resumed_) {}

ConnectionEnd VlcMediaPlayer::Engine::Connection::run(PlaylistEntries &entries) {
    const TransferRequest request = this->request();
    const TransferResult result = Transfer(request, &play_.task.cancelFlag());
    if (play_.cancelled())
        return ConnectionEnd::Cancelled;
    if (mode_ == Mode::Undecided && result.responded && !body_.isEmpty())
        decide();
    if (mode_ == Mode::Playlist) {
        if (const std::optional<ConnectionEnd> end = readPlaylist(result, entries))
            return *end;
    } else if (mode_ != Mode::Audio || !begun_) {
        return fail(mode_ == Mode::Audio ? Failure{FailReason::DecoderFailure}
                                         : unanswered(result));
    }
    return ended(result);
}

TransferRequest VlcMediaPlayer::Engine::Connection::request() {
    TransferRequest request;
    request.url = entry_.url;
    request.from = entry_.from;
    request.headers = {"Icy-MetaData: 1"};
    if (resumeAt_ > 0)
        request.headers.append("Range: bytes=" + QByteArray::number(resumeAt_) + "-");
    request.limits.totalTimeoutMs = 0; // a live stream has no end
    request.limits.stallTimeoutMs = kConnectionStallMs;
    request.continueAfterHeaders = [this](const TransferResult &result) {
        return takeHeaders(result);
    };
    request.bodySink = [this](const char *data, std::size_t length) {
        return takeBody(data, length);
    };
    request.pace = [this] { return pace(); };
    return request;
}

bool VlcMediaPlayer::Engine::Connection::takeHeaders(const TransferResult &result) {
    if (!IsSuccess(result.status))
        return false;
    head_ = result;
    effectiveUrl_ = result.effectiveUrl;
    bodyFrom_ = resumeAt_;
    if (result.status != 206)
        skipBytes_ = resumeAt_;
    icy_ = IcyReader(result.header("icy-metaint").toInt());
    return true;
}

bool VlcMediaPlayer::Engine::Connection::takeBody(const char *data, std::size_t length) {
    const auto skipped =
        static_cast<std::size_t>(std::min<qint64>(skipBytes_, static_cast<qint64>(length)));
    skipBytes_ -= static_cast<qint64>(skipped);
    data += skipped;
    length -= skipped;
    bodyBytes_ += static_cast<qint64>(length);
    audio_.clear();
    icy_.read(data, length, audio_);
    if (std::optional<QByteArray> title = icy_.takeTitle(); title && *title != lastTitle_) {
        lastTitle_ = *title;
        engine_.announceTitle(play_, DecodeIcyTitle(lastTitle_));
    }
    if (mode_ == Mode::Audio) {
        feedAudio(audio_.constData(), static_cast<std::size_t>(audio_.size()));
        return true;
    }
    body_.append(audio_);
    if (mode_ == Mode::Playlist)
        return body_.size() <= kMaxFetchedPlaylistBytes;
    return body_.size() < kSniffBytes || decide();
}

TransferPace VlcMediaPlayer::Engine::Connection::pace() {
    if (feeding()) {
        engine_.tend(play_, session_);
        if (resumed_ && engine_.phase() == Phase::Reconnecting && restored())
            engine_.setPhase(play_, Phase::Playing);
    }
    const bool sounding = resumed_ ? restored() : engine_.playSounded_.load();
    if ((begun_ && engine_.mediaFailed_) || (!sounding && NowMs() > soundBy_)) {
        gaveUp_ = true;
        return TransferPace::Stop;
    }
    return feeding() && session_.feed->size() > session_.cushion->aheadBytes() ? TransferPace::Hold
                                                                               : TransferPace::Go;
}

// The first bytes are in: a playlist to read on, or audio for the decoder.
// False when the transfer is to stop.
bool VlcMediaPlayer::Engine::Connection::decide() {
    if (IsPlaylistResponse(head_.contentType, effectiveUrl_, body_.left(kSniffBytes))) {
        mode_ = Mode::Playlist;
        return body_.size() <= kMaxFetchedPlaylistBytes;
    }
    mode_ = Mode::Audio;
    if (!resumed_) {
        QByteArray demuxer = DemuxerForContentType(head_.contentType);
        if (demuxer.isEmpty())
            demuxer = DemuxerForBytes(body_);
        begun_ = engine_.begin(play_, session_, demuxer, head_.header("icy-br").toInt());
    }
    if (begun_)
        feedAudio(body_.constData(), static_cast<std::size_t>(body_.size()));
    body_.clear();
    return begun_;
}

void VlcMediaPlayer::Engine::Connection::feedAudio(const char *data, std::size_t length) {
    session_.feed->push(data, length);
    audioBytes_ += length;
}

// The HLS follower hands the feed to the decoder, unless it already reads it.
bool VlcMediaPlayer::Engine::Connection::beginHls(const QByteArray &demuxer) {
    if (!begun_)
        begun_ = engine_.begin(play_, session_, demuxer, 0);
    followingHls_ = begun_;
    return begun_;
}

// A playlist's body: the entries to try, or an HLS playlist followed into the
// feed. Nothing when the HLS follower's audio is to play out like any
// stream's.
std::optional<ConnectionEnd>
VlcMediaPlayer::Engine::Connection::readPlaylist(const TransferResult &result,
                                                 PlaylistEntries &entries) {
    const bool cut = body_.size() > kMaxFetchedPlaylistBytes;
    body_.truncate(kMaxFetchedPlaylistBytes);
    if (!IsHlsPlaylist(head_.contentType, body_)) {
        if (resumed_)
            return fail({FailReason::NotAStream});
        entries.urls = ParsePlaylist(body_, effectiveUrl_);
        entries.space = result.space;
        return ConnectionEnd::Playlist;
    }
    // HLS: the follower writes the segments' audio to the feed, which then
    // plays out like any stream's.
    const HlsEnd end = FollowHls(
        cut ? QByteArray() : body_, effectiveUrl_,
        {play_.task, [this](const char *data, std::size_t length) { feedAudio(data, length); },
         [this](const QByteArray &demuxer) { return beginHls(demuxer); }, [this] { return pace(); },
         result.space, session_.hlsNext});
    if (play_.cancelled())
        return ConnectionEnd::Cancelled;
    if (end == HlsEnd::Unplayable)
        return fail({gaveUp_ ? FailReason::NoSound : FailReason::NoPlayableEntry});
    hlsEnded_ = end == HlsEnd::Finished;
    return std::nullopt;
}

// The decoder has had what the connection brought: a whole body plays out;
// anything else that ends is a drop, connected again when it had sounded.
ConnectionEnd VlcMediaPlayer::Engine::Connection::ended(const TransferResult &result) {
    const bool hasLength = !head_.header("content-length").isEmpty();
    const bool fromRadioServer = HasIcyHeaders(head_);
    // A body that came whole and by itself: with its length, or short and not
    // from a radio server.
    const bool finite =
        hlsEnded_ || (mode_ == Mode::Audio && result.responded && !gaveUp_ &&
                      (hasLength || (!fromRadioServer && session_.cushion->durationMs(audioBytes_) <
                                                             kLiveAfterAudioMs)));
    if (finite)
        return playWhole();
    if (!resumed_) // what came before the drop may still make sound
        engine_.awaitSound(play_, session_,
                           std::min(play_.firstAudioBy, NowMs() + kDropSoundsWithinMs));
    if (play_.cancelled())
        return ConnectionEnd::Cancelled;
    const bool sounded = resumed_ ? restored() : engine_.playSounded_.load();
    if (sounded)
        session_.lastDropMs = NowMs();
    if (mode_ == Mode::Audio && hasLength && !fromRadioServer)
        session_.resumeAt = bodyFrom_ + bodyBytes_;
    return sounded && !engine_.mediaFailed_ ? ConnectionEnd::Dropped : fail(silence());
}

// All of a finite stream is in the feed: it plays out once it sounds.
ConnectionEnd VlcMediaPlayer::Engine::Connection::playWhole() {
    session_.feed->finish();
    session_.finished = true;
    engine_.awaitSound(play_, session_, play_.firstAudioBy);
    if (play_.cancelled())
        return ConnectionEnd::Cancelled;
    return engine_.playSounded_ && engine_.setPhase(play_, Phase::Ending) ? ConnectionEnd::Ended
                                                                          : fail(silence());
}

// A reconnection plays again once it has brought a second of audio.
bool VlcMediaPlayer::Engine::Connection::restored() const {
    return audioBytes_ > 0 && session_.cushion->durationMs(audioBytes_) >= 1000;
}

ConnectionEnd VlcMediaPlayer::Engine::Connection::fail(Failure failure) {
    play_.failure = failure;
    return ConnectionEnd::Failed;
}

// Why a connection brought nothing to decide on.
Failure VlcMediaPlayer::Engine::Connection::unanswered(const TransferResult &result) const {
    if (result.status != 0 && !IsSuccess(result.status))
        return {FailReason::HttpStatus, result.status};
    if (gaveUp_)
        return {FailReason::NoSound};
    if (!result.responded)
        return {head_.status != 0 ? FailReason::ClosedEarly : FailReason::NoResponse};
    return {FailReason::NotAStream};
}

// Why what the decoder was handed made no sound.
Failure VlcMediaPlayer::Engine::Connection::silence() const {
    if (engine_.mediaFailed_)
        return {FailReason::DecoderFailure};
    if (engine_.mediaEnded_)
        return {FailReason::NotAStream};
    if (gaveUp_ || NowMs() >= soundBy_)
        return {FailReason::NoSound};
    return {FailReason::ClosedEarly};
}

// One connection to the entry; see Connection.
ConnectionEnd VlcMediaPlayer::Engine::connect(Play &play, const Entry &entry,
                                              PlaylistEntries &entries, Session &session) {
    return Connection(*this, play, entry, session).run(entries);
}

// Waits until libVLC has made sound of the play, given up on it, or the time
// for it is up.
void VlcMediaPlayer::Engine::awaitSound(const Play &play, Session &session, qint64 untilMs) {
    while (!playSounded_ && !mediaFailed_ && !mediaEnded_ && NowMs() < untilMs &&
           watch(play, session, kWatchInterval)) {
    }
}

// A finite stream read whole: waits while libVLC plays it to its end.
void VlcMediaPlayer::Engine::playOut(const Play &play, Session &session) {
    while (!mediaEnded_ && !mediaFailed_ && watch(play, session, kWatchInterval)) {
    }
}

// Waits for the duration, tending the decoder meanwhile; false when the play
// was cancelled.
bool VlcMediaPlayer::Engine::watch(const Play &play, Session &session,
                                   std::chrono::milliseconds duration) {
    const qint64 until = NowMs() + duration.count();
    for (qint64 now = NowMs(); now < until; now = NowMs()) {
        tend(play, session);
        if (!play.task.sleepFor(std::min(kWatchInterval, std::chrono::milliseconds(until - now))))
            return false;
    }
    return !play.cancelled();
}

// What a worker does for the decoder between its other steps: the volume the
// user set last, the rate the cushion asks for, and whether the play sounds.
void VlcMediaPlayer::Engine::tend(const Play &play, Session &session) {
    if (!session.feed)
        return;
    if (volumePending_)
        applyVolume();
    if (madeSound() && (state_.load() >> 8) == play.id)
        playSounded_ = true;
    if (!playSounded_)
        return;
    session.feed->setRefill(session.cushion->refillBytes());
    const double rate =
        session.finished ? 1.0 : session.cushion->tend(*session.feed, playedMs_, NowMs());
    if (rate != session.rate) {
        session.rate = rate;
        libvlc_media_player_set_rate(player_, static_cast<float>(rate));
    }
}

// Hands a play's feed to libVLC, with the demuxer its type names.
bool VlcMediaPlayer::Engine::begin(const Play &play, Session &session, const QByteArray &demuxer,
                                   int bitrateKbps) {
    if (!prepare())
        return false;
    const std::lock_guard lock(control_);
    if (play.cancelled())
        return false;
    if (feedInPlayer_)
        feedInPlayer_->close();
    libvlc_media_player_stop(player_);
    session.feed = std::make_shared<Feed>();
    session.cushion = std::make_unique<Cushion>(bitrateKbps);
    libvlc_media_t *media = libvlc_media_new_callbacks(instance_, &OpenFeed, &ReadFeed, &SeekFeed,
                                                       &CloseFeed, session.feed.get());
    if (!media)
        return false;
    if (!demuxer.isEmpty())
        libvlc_media_add_option(media, (":demux=" + demuxer).constData());
    libvlc_media_player_set_media(player_, media);
    libvlc_media_release(media);
    feedInPlayer_ = session.feed; // the old feed's reader has stopped with the old media
    mediaHasAudio_ = false;
    mediaPlayed_ = false;
    mediaFailed_ = false;
    mediaEnded_ = false;
    playedMs_ = 0;
    lastProgressMs_ = NowMs();
    volumePending_ = true;
    libvlc_media_player_set_rate(player_, static_cast<float>(session.rate));
    setPhase(play, Phase::Playing);
    libvlc_media_player_play(player_);
    return true;
}

// The play's decoder stops, unless another play has taken libVLC over.
void VlcMediaPlayer::Engine::release(const Session &session) {
    if (!session.feed)
        return;
    session.feed->close();
    const std::lock_guard lock(control_);
    if (feedInPlayer_ != session.feed)
        return;
    libvlc_media_player_stop(player_);
    feedInPlayer_.reset();
}

bool VlcMediaPlayer::Engine::setPhase(const Play &play, Phase phase) {
    quint64 current = state_.load();
    while ((current >> 8) == play.id && !play.cancelled()) {
        if (state_.compare_exchange_weak(current, Packed(play.id, phase)))
            return true;
    }
    return false;
}

void VlcMediaPlayer::Engine::announceTitle(const Play &play, const QString &title) {
    post([this, id = play.id, title] {
        if (current_ && current_->id == id)
            title_ = title;
    });
}

// libVLC keeps no volume before its audio output exists, and the output comes
// up a little after playback starts: the worker feeding libVLC applies the
// user's volume until libVLC takes it. The last value set is applied last,
// whichever thread set it.
void VlcMediaPlayer::Engine::applyVolume() {
    const std::lock_guard lock(volumeLock_);
    volumePending_ = false;
    if (libvlc_audio_set_volume(player_, volume_) != 0)
        volumePending_ = true;
}

// Only noted here: the worker of the play applies it within a watch interval.
void VlcMediaPlayer::Engine::setVolume(int volume) {
    volume_ = std::clamp(volume, 0, 100);
    volumePending_ = true;
}

int VlcMediaPlayer::Engine::playState() const {
    switch (phase()) {
    case Phase::Idle:
        return PlayState::Undefined;
    case Phase::Connecting:
        return PlayState::Transitioning;
    case Phase::Failed:
        return PlayState::Ready;
    case Phase::Stopped:
        return PlayState::Stopped;
    case Phase::Reconnecting:
        // What the decoder still holds plays on.
        return madeSound() && NowMs() - lastProgressMs_ < kSoundingForMs ? PlayState::Playing
                                                                         : PlayState::Transitioning;
    case Phase::Ending:
        if (mediaEnded_)
            return NowMs() - endedAtMs_ < kEndedShownMs ? PlayState::MediaEnded
                                                        : PlayState::Stopped;
        break;
    case Phase::Playing:
        break;
    }
    return decoderState();
}

int VlcMediaPlayer::Engine::decoderState() const {
    if (!madeSound())
        return PlayState::Transitioning;
    return NowMs() - lastProgressMs_ > kStallAfterMs ? PlayState::Buffering : PlayState::Playing;
}

VlcMediaPlayer::VlcMediaPlayer(const QStringList &vlcArguments, const Configure &configure,
                               std::chrono::milliseconds reconnectFor)
    : engine_(std::make_unique<Engine>(vlcArguments, configure, reconnectFor)) {}

VlcMediaPlayer::~VlcMediaPlayer() = default;

// The same URL set again after it failed (as the window's status monitor does
// with its fallback on every tick) is opened again only after a back-off.
void VlcMediaPlayer::setURL(const QString &url) {
    const std::optional<qint64> failedAt = url == url_ ? engine_->failedAtMs() : std::nullopt;
    if (!failedAt) {
        failures_ = 0;
    } else if (*failedAt != retryAfterFailureAt_) {
        retryAfterFailureAt_ = *failedAt;
        retryAtMs_ = *failedAt + RetryWaitMs(++failures_);
    }
    if (failedAt && NowMs() < retryAtMs_)
        return;
    url_ = url;
    engine_->start(url);
}

int VlcMediaPlayer::playState() const {
    return engine_->playState();
}

void VlcMediaPlayer::stop() {
    engine_->stop();
}

// Plays the current URL again, unless it is already playing or on its way.
void VlcMediaPlayer::play() {
    const int state = playState();
    if (state == PlayState::Undefined || state == PlayState::Playing ||
        state == PlayState::Buffering || state == PlayState::Transitioning)
        return;
    engine_->start(url_);
}

void VlcMediaPlayer::setVolume(int volume) {
    engine_->setVolume(volume);
}

int VlcMediaPlayer::volume() const {
    return engine_->volume();
}

QString VlcMediaPlayer::nowPlayingTitle() const {
    return engine_->title();
}

} // namespace platform
