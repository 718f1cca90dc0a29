#include "platform/vlc_media_player.h"

#include "platform/background_task.h"
#include "platform/hls_stream.h"
#include "platform/http_request.h"
#include "platform/http_transfer.h"
#include "platform/playlist.h"
#include "platform/stream_feed.h"
#include "platform/stream_format.h"

#include <QObject>
#include <QRandomGenerator>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
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
};

// How long a playing stream may go without its clock moving before it counts
// as buffering.
constexpr qint64 kStallAfterMs = 2000;
// How long a finite stream that has ended reads as ended before it reads as
// stopped: longer than the window's status poll.
constexpr qint64 kEndedShownMs = 1500;
// A connection that receives nothing for this long is given up.
constexpr long kConnectionStallMs = 10000;
// A connection whose bytes have not made sound by then is given up.
constexpr qint64 kFirstAudioWithinMs = 10000;
// The network reads no further ahead of the decoder than this.
constexpr std::size_t kFeedAheadBytes = 512 * 1024;
// The first bytes of a body that decide whether it is a playlist or audio.
constexpr qsizetype kSniffBytes = 512;
// How often a worker looks at the decoder while it waits on it.
constexpr std::chrono::milliseconds kWatchInterval{20};
// Waits before each new connection to a live stream that went away, jittered
// by a fifth either way; after the last, every kBackOffCeiling.
constexpr std::array<std::chrono::milliseconds, 5> kBackOff = {
    std::chrono::milliseconds(500), std::chrono::milliseconds(1000),
    std::chrono::milliseconds(2000), std::chrono::milliseconds(4000),
    std::chrono::milliseconds(8000)};
constexpr std::chrono::milliseconds kBackOffCeiling{15000};

qint64 NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::chrono::milliseconds BackOff(std::size_t attempt) {
    const std::chrono::milliseconds base =
        attempt < kBackOff.size() ? kBackOff[attempt] : kBackOffCeiling;
    const double jitter = 0.8 + 0.4 * QRandomGenerator::global()->generateDouble();
    return std::chrono::milliseconds(
        static_cast<qint64>(static_cast<double>(base.count()) * jitter));
}

// How one connection to an entry came out.
enum class Outcome {
    Cancelled, // the play was stopped or replaced
    Failed,    // no sound came of it
    Playlist,  // a playlist: its entries are to be tried
    Ended,     // a finite stream was read to its end and plays out
    Dropped,   // a live stream made sound, then went away
};

// One play of a URL, from setURL (or play) to the next stop, as its worker
// sees it: which play it is, and the task that stops it.
struct Play {
    quint64 id = 0;
    const BackgroundTask &task;

    bool cancelled() const { return task.isCancelled(); }
    // Waits for the duration; false when the play was cancelled meanwhile.
    bool sleep(std::chrono::milliseconds duration) const { return task.sleepFor(duration); }
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

} // namespace

// Owns the libVLC objects and the state the windows read. The public methods
// run on the UI thread; each play's worker thread connects, reads, starts
// libVLC and applies the volume on its own, and posts only the station's title
// to the UI thread (through context_) and, through its task, that it has
// ended; libVLC's callbacks touch only atomics.
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

private:
    // What drives the state the windows read.
    enum class Phase {
        Idle,         // no URL yet
        Connecting,   // looking for an entry that plays
        Playing,      // libVLC decodes a connection's bytes
        Reconnecting, // a live stream went away and is being connected again
        Ending,       // a finite stream has been read whole; libVLC plays it out
        Failed,       // nothing playable came of the URL
        Stopped,      // stopped by the caller
    };

    // On the UI thread.
    // On the preparing thread or a play's worker thread.
    bool prepare();

    // On a play's worker thread.
    void run(const Play &play, const QString &url);
    Outcome connect(const Play &play, const QString &url, QStringList &entries);
    void reconnect(const Play &play, const QString &url);
    bool begin(const Play &play, const std::shared_ptr<Feed> &feed, const QByteArray &demuxer);
    bool setPhase(const Play &play, Phase phase);
    void fail(const Play &play);
    void awaitSound(const Play &play, qint64 untilMs);
    void announceTitle(const Play &play, const QString &title);

    // On libVLC's threads.
    static void onEvent(const libvlc_event_t *event, void *opaque);

    // On the UI thread, or (the volume) on a worker.
    void post(std::function<void()> call);
    void applyVolume();
    void keepVolume() {
        if (volumePending_)
            applyVolume();
    }
    int libvlcState() const;
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

    // Phase changes and libVLC's stop, set-media and play happen under control_,
    // so that a cancelled play can start nothing any more.
    std::mutex control_;
    std::shared_ptr<Feed> feedInPlayer_; // the feed of libVLC's current media
    std::atomic<Phase> phase_{Phase::Idle};

    // Set on libVLC's threads, about the current media.
    std::atomic<bool> mediaHasAudio_{false}; // an audio track was found
    std::atomic<bool> mediaPlayed_{false};   // its clock moved past the start
    std::atomic<bool> mediaFailed_{false};
    std::atomic<bool> mediaEnded_{false};
    std::atomic<qint64> lastProgressMs_{0};
    std::atomic<qint64> endedAtMs_{0};
    std::atomic<bool> volumePending_{false}; // libVLC has not taken volume_ yet
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
    plays_.clear(); // every play is cancelled by now: their workers end at once
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
        phase_ = Phase::Failed;
        return;
    }
    auto play = std::make_unique<PlayTask>();
    PlayTask *entry = play.get();
    entry->id = ++lastPlayId_;
    current_ = entry;
    phase_ = Phase::Connecting;
    entry->task = std::make_unique<BackgroundTask>(
        [this, id = entry->id, trimmed](const BackgroundTask &task) {
            run({id, task}, trimmed);
        },
        [this, entry] {
            if (current_ == entry)
                current_ = nullptr;
            std::erase_if(plays_, [entry](const auto &held) { return held.get() == entry; });
        });
    plays_.push_back(std::move(play));
}

void VlcMediaPlayer::Engine::stop() {
    if (current_)
        current_->task->cancel();
    current_ = nullptr;
    title_.clear();
    const std::lock_guard lock(control_);
    if (feedInPlayer_)
        feedInPlayer_->close();
    if (ready_)
        libvlc_media_player_stop(player_);
    if (phase_ != Phase::Idle)
        phase_ = Phase::Stopped;
}

// The entries of the URL in order, playlists read in place, until one plays.
void VlcMediaPlayer::Engine::run(const Play &play, const QString &url) {
    StationEntries station(url);
    while (const std::optional<QString> entry = station.next()) {
        QStringList entries;
        switch (connect(play, *entry, entries)) {
        case Outcome::Cancelled:
        case Outcome::Ended:
            return;
        case Outcome::Dropped:
            reconnect(play, *entry);
            return;
        case Outcome::Playlist:
            station.readPlaylist(entries);
            break;
        case Outcome::Failed:
            if (!setPhase(play, Phase::Connecting))
                return;
            break;
        }
    }
    fail(play);
}

// A live stream that went away: the same entry again after a back-off, until
// it makes sound or the time is up.
void VlcMediaPlayer::Engine::reconnect(const Play &play, const QString &url) {
    if (!setPhase(play, Phase::Reconnecting))
        return;
    qint64 since = NowMs();
    std::size_t attempt = 0;
    while (NowMs() - since < reconnectFor_.count()) {
        const std::chrono::milliseconds left(since + reconnectFor_.count() - NowMs());
        if (!play.sleep(std::min(BackOff(attempt++), left)))
            return;
        if (NowMs() - since >= reconnectFor_.count())
            break;
        QStringList ignored;
        switch (connect(play, url, ignored)) {
        case Outcome::Cancelled:
        case Outcome::Ended:
            return;
        case Outcome::Dropped: // it played again: a new time allowance
            since = NowMs();
            attempt = 0;
            break;
        case Outcome::Failed:
        case Outcome::Playlist:
            break;
        }
        if (!setPhase(play, Phase::Reconnecting))
            return;
    }
    fail(play);
}

// One connection: its first bytes decide whether it is a playlist (read whole,
// within the limits, entries returned) or audio (fed to libVLC as it arrives).
Outcome VlcMediaPlayer::Engine::connect(const Play &play, const QString &url,
                                        QStringList &entries) {
    enum class Mode { Undecided, Audio, Playlist };
    Mode mode = Mode::Undecided;
    const auto feed = std::make_shared<Feed>();
    IcyReader icy(0);
    QByteArray contentType;
    QString effectiveUrl = url;
    bool live = true;
    bool begun = false;
    QByteArray body;
    QByteArray audio;
    QByteArray lastTitle; // stations repeat the title in every block
    const qint64 connectedAt = NowMs();

    const auto decide = [&] {
        if (IsPlaylistResponse(contentType, effectiveUrl, body.left(kSniffBytes))) {
            mode = Mode::Playlist;
            return body.size() <= kMaxFetchedPlaylistBytes;
        }
        mode = Mode::Audio;
        QByteArray demuxer = DemuxerForContentType(contentType);
        if (demuxer.isEmpty())
            demuxer = DemuxerForBytes(body);
        begun = begin(play, feed, demuxer);
        feed->push(body.constData(), static_cast<std::size_t>(body.size()));
        body.clear();
        return begun;
    };

    TransferRequest request;
    request.url = url;
    request.headers = {"Icy-MetaData: 1"};
    request.limits.totalTimeoutMs = 0; // a live stream has no end
    request.limits.stallTimeoutMs = kConnectionStallMs;
    request.continueAfterHeaders = [&](const TransferResult &head) {
        if (!IsSuccess(head.status))
            return false;
        contentType = head.contentType;
        effectiveUrl = head.effectiveUrl;
        icy = IcyReader(head.header("icy-metaint").toInt());
        // A length without any ICY header marks a finite stream.
        live = head.header("content-length").isEmpty() ||
               std::ranges::any_of(head.headers, [](const auto &header) {
                   return header.first.startsWith("icy-");
               });
        return true;
    };
    request.bodySink = [&](const char *data, std::size_t length) {
        audio.clear();
        icy.read(data, length, audio);
        if (std::optional<QByteArray> title = icy.takeTitle(); title && *title != lastTitle) {
            lastTitle = *title;
            announceTitle(play, DecodeIcyTitle(lastTitle));
        }
        if (mode == Mode::Audio) {
            feed->push(audio.constData(), static_cast<std::size_t>(audio.size()));
            return true;
        }
        body.append(audio);
        if (mode == Mode::Playlist)
            return body.size() <= kMaxFetchedPlaylistBytes;
        return body.size() < kSniffBytes || decide();
    };
    const auto feedPace = [&] {
        keepVolume();
        if (mediaFailed_ || mediaEnded_ ||
            (!madeSound() && NowMs() - connectedAt > kFirstAudioWithinMs))
            return TransferPace::Stop;
        return feed->size() > kFeedAheadBytes ? TransferPace::Hold : TransferPace::Go;
    };
    request.pace = [&] { return mode == Mode::Audio ? feedPace() : TransferPace::Go; };
    const TransferResult result = Transfer(request, &play.task.cancelFlag());
    if (play.cancelled())
        return Outcome::Cancelled;
    if (mode == Mode::Undecided && result.responded && !body.isEmpty())
        decide();
    if (mode == Mode::Playlist) {
        const bool cut = body.size() > kMaxFetchedPlaylistBytes;
        body.truncate(kMaxFetchedPlaylistBytes);
        if (!IsHlsPlaylist(contentType, body)) {
            entries = ParsePlaylist(body, effectiveUrl);
            return Outcome::Playlist;
        }
        // HLS: the follower writes the segments' audio to the feed, which then
        // plays out like any stream's.
        const HlsEnd end = FollowHls(
            cut ? QByteArray() : body, effectiveUrl,
            {play.task, *feed,
             [&](const QByteArray &demuxer) { return begun = begin(play, feed, demuxer); },
             [&] {
                 if (begun)
                     return feedPace();
                 return NowMs() - connectedAt > kFirstAudioWithinMs ? TransferPace::Stop
                                                                    : TransferPace::Go;
             }});
        if (play.cancelled())
            return Outcome::Cancelled;
        live = end != HlsEnd::Finished;
    }
    if (!begun)
        return Outcome::Failed;
    feed->finish();
    awaitSound(play, connectedAt + kFirstAudioWithinMs);
    if (play.cancelled())
        return Outcome::Cancelled;
    if (!madeSound())
        return Outcome::Failed;
    if (live)
        return Outcome::Dropped;
    return setPhase(play, Phase::Ending) ? Outcome::Ended : Outcome::Cancelled;
}

// Waits until libVLC has made sound of the current media or given up on it.
void VlcMediaPlayer::Engine::awaitSound(const Play &play, qint64 untilMs) {
    while (!madeSound() && !mediaFailed_ && !mediaEnded_ && NowMs() < untilMs) {
        keepVolume();
        if (!play.sleep(kWatchInterval))
            return;
    }
}

// Hands a connection's feed to libVLC, with the demuxer its type names.
bool VlcMediaPlayer::Engine::begin(const Play &play, const std::shared_ptr<Feed> &feed,
                                   const QByteArray &demuxer) {
    if (!prepare())
        return false;
    const std::lock_guard lock(control_);
    if (play.cancelled())
        return false;
    if (feedInPlayer_)
        feedInPlayer_->close();
    libvlc_media_player_stop(player_);
    libvlc_media_t *media = libvlc_media_new_callbacks(instance_, &OpenFeed, &ReadFeed, &SeekFeed,
                                                       &CloseFeed, feed.get());
    if (!media)
        return false;
    if (!demuxer.isEmpty())
        libvlc_media_add_option(media, (":demux=" + demuxer).constData());
    libvlc_media_player_set_media(player_, media);
    libvlc_media_release(media);
    feedInPlayer_ = feed; // the old feed's reader has stopped with the old media
    mediaHasAudio_ = false;
    mediaPlayed_ = false;
    mediaFailed_ = false;
    mediaEnded_ = false;
    lastProgressMs_ = NowMs();
    volumePending_ = true;
    phase_ = Phase::Playing;
    libvlc_media_player_play(player_);
    return true;
}

bool VlcMediaPlayer::Engine::setPhase(const Play &play, Phase phase) {
    const std::lock_guard lock(control_);
    if (play.cancelled())
        return false;
    phase_ = phase;
    return true;
}

void VlcMediaPlayer::Engine::fail(const Play &play) {
    const std::lock_guard lock(control_);
    if (play.cancelled())
        return;
    if (feedInPlayer_)
        feedInPlayer_->close();
    if (ready_)
        libvlc_media_player_stop(player_);
    phase_ = Phase::Failed;
}

void VlcMediaPlayer::Engine::announceTitle(const Play &play, const QString &title) {
    post([this, id = play.id, title] {
        if (current_ && current_->id == id)
            title_ = title;
    });
}

// libVLC keeps no volume before its audio output exists, and the output comes
// up a little after playback starts: the worker feeding libVLC applies ours
// until libVLC takes it, so that no sound waits for the UI thread.
void VlcMediaPlayer::Engine::applyVolume() {
    volumePending_ = libvlc_audio_set_volume(player_, volume_) != 0;
}

void VlcMediaPlayer::Engine::setVolume(int volume) {
    volume_ = std::clamp(volume, 0, 100);
    if (ready_)
        applyVolume();
}

int VlcMediaPlayer::Engine::playState() const {
    switch (phase_.load()) {
    case Phase::Idle:
        return PlayState::Undefined;
    case Phase::Connecting:
    case Phase::Reconnecting:
        return PlayState::Transitioning;
    case Phase::Failed:
        return PlayState::Ready;
    case Phase::Stopped:
        return PlayState::Stopped;
    case Phase::Ending:
        if (mediaEnded_)
            return NowMs() - endedAtMs_ < kEndedShownMs ? PlayState::MediaEnded
                                                        : PlayState::Stopped;
        break;
    case Phase::Playing:
        break;
    }
    return libvlcState();
}

int VlcMediaPlayer::Engine::libvlcState() const {
    switch (libvlc_media_player_get_state(player_)) {
    case libvlc_Buffering:
        return PlayState::Buffering;
    case libvlc_Playing:
        if (!madeSound())
            return PlayState::Transitioning;
        return NowMs() - lastProgressMs_ > kStallAfterMs ? PlayState::Buffering
                                                         : PlayState::Playing;
    case libvlc_Paused:
        return PlayState::Paused;
    default:
        // Opening, or between the end of one connection and the worker's
        // next step.
        return PlayState::Transitioning;
    }
}

VlcMediaPlayer::VlcMediaPlayer(const QStringList &vlcArguments, const Configure &configure,
                               std::chrono::milliseconds reconnectFor)
    : engine_(std::make_unique<Engine>(vlcArguments, configure, reconnectFor)) {}

VlcMediaPlayer::~VlcMediaPlayer() = default;

void VlcMediaPlayer::setURL(const QString &url) {
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
