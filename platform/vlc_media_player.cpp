#include "platform/vlc_media_player.h"

#include "platform/playlist.h"

#include <QObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <thread>
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
constexpr std::chrono::milliseconds kStallAfter{2000};

qint64 NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A resolution running on a thread of its own.
struct Resolver {
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    std::thread thread;
};

} // namespace

// Owns the libVLC objects and the state the windows read. Every method runs on
// the UI thread; libVLC's callbacks touch only the atomics and post the rest to
// the UI thread through context_.
class VlcMediaPlayer::Engine {
public:
    Engine(const QStringList &arguments, const Configure &configure);
    ~Engine();

    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    void start(const QString &url);
    void stop();
    int playState() const;
    void setVolume(int volume);
    int volume() const { return volume_; }

private:
    // What drives the state the windows read.
    enum class Phase {
        Idle,      // no URL yet
        Resolving, // fetching the station URL on a worker thread
        Playing,   // libVLC is working through the entries
        Failed,    // nothing playable came of the URL
        Stopped,   // stopped by the caller
    };

    void attachEvents();
    static void OnEvent(const libvlc_event_t *event, void *opaque);
    void post(void (Engine::*handler)(quint64));
    void post(std::function<void()> call);

    void resolve(const QString &url, quint64 session);
    void onResolved(quint64 session, const QStringList &entries);
    void playEntries(const QStringList &entries);
    void onEntryFailed(quint64 session);
    void onItemSet(quint64 session);
    void onListEnded(quint64 session);
    void onAudioRunning(quint64 session);
    void applyVolume();
    void onRejected(quint64 session);
    void moveToNextEntry();
    void cancelResolvers();
    void reapResolvers();
    int libvlcState() const;
    bool usable() const { return player_ && listPlayer_; }

    QObject context_; // receives the calls posted to the UI thread; goes last
    libvlc_instance_t *instance_ = nullptr;
    libvlc_media_player_t *player_ = nullptr;
    libvlc_media_list_player_t *listPlayer_ = nullptr;
    libvlc_media_list_t *list_ = nullptr;
    std::list<std::unique_ptr<Resolver>> resolvers_;
    Phase phase_ = Phase::Idle;
    int volume_ = 100;

    // Shared with libVLC's threads.
    std::atomic<quint64> session_{0};       // bumped whenever playback is dropped
    std::atomic<bool> itemHasAudio_{false}; // the current item is a real stream
    std::atomic<bool> sessionHadAudio_{false};
    std::atomic<bool> itemFailed_{false}; // the UI thread is moving on to the next entry
    std::atomic<qint64> lastProgressMs_{0};
    std::atomic<bool> volumePending_{false}; // libVLC has not taken volume_ yet
};

VlcMediaPlayer::Engine::Engine(const QStringList &arguments, const Configure &configure) {
    std::vector<QByteArray> storage;
    for (const QString &argument : kBaseArguments + arguments)
        storage.push_back(argument.toUtf8());
    std::vector<const char *> argv;
    for (const QByteArray &argument : storage)
        argv.push_back(argument.constData());
    instance_ = libvlc_new(static_cast<int>(argv.size()), argv.data());
    if (!instance_)
        return;
    player_ = libvlc_media_player_new(instance_);
    listPlayer_ = libvlc_media_list_player_new(instance_);
    if (!player_ || !listPlayer_)
        return;
    libvlc_media_list_player_set_media_player(listPlayer_, player_);
    if (configure)
        configure(player_);
    attachEvents();
}

VlcMediaPlayer::Engine::~Engine() {
    cancelResolvers();
    for (const auto &resolver : resolvers_)
        resolver->thread.join();
    if (listPlayer_) {
        libvlc_media_list_player_stop(listPlayer_);
        libvlc_media_list_player_release(listPlayer_);
    }
    if (player_)
        libvlc_media_player_release(player_);
    if (list_)
        libvlc_media_list_release(list_);
    if (instance_)
        libvlc_release(instance_);
}

void VlcMediaPlayer::Engine::attachEvents() {
    libvlc_event_manager_t *events = libvlc_media_player_event_manager(player_);
    for (const libvlc_event_e type :
         {libvlc_MediaPlayerOpening, libvlc_MediaPlayerPlaying, libvlc_MediaPlayerTimeChanged,
          libvlc_MediaPlayerESAdded, libvlc_MediaPlayerEncounteredError})
        libvlc_event_attach(events, type, &Engine::OnEvent, this);
    libvlc_event_manager_t *listEvents = libvlc_media_list_player_event_manager(listPlayer_);
    for (const libvlc_event_e type :
         {libvlc_MediaListPlayerNextItemSet, libvlc_MediaListPlayerPlayed})
        libvlc_event_attach(listEvents, type, &Engine::OnEvent, this);
}

// Runs on libVLC's threads: only atomics and posts.
void VlcMediaPlayer::Engine::OnEvent(const libvlc_event_t *event, void *opaque) {
    auto *engine = static_cast<Engine *>(opaque);
    switch (event->type) {
    case libvlc_MediaPlayerOpening:
        engine->itemHasAudio_ = false;
        break;
    case libvlc_MediaPlayerESAdded:
        if (event->u.media_player_es_changed.i_type == libvlc_track_audio) {
            engine->itemHasAudio_ = true;
            engine->sessionHadAudio_ = true;
        }
        break;
    case libvlc_MediaPlayerPlaying:
    case libvlc_MediaPlayerTimeChanged:
        engine->lastProgressMs_ = NowMs();
        if (engine->volumePending_)
            engine->post(&Engine::onAudioRunning);
        break;
    case libvlc_MediaPlayerEncounteredError:
        engine->itemFailed_ = true;
        engine->post(&Engine::onEntryFailed);
        break;
    case libvlc_MediaListPlayerNextItemSet:
        engine->post(&Engine::onItemSet);
        break;
    case libvlc_MediaListPlayerPlayed:
        engine->post(&Engine::onListEnded);
        break;
    default:
        break;
    }
}

// Runs handler on the UI thread, unless playback has been dropped by then.
void VlcMediaPlayer::Engine::post(void (Engine::*handler)(quint64)) {
    const quint64 session = session_;
    post([this, handler, session] { (this->*handler)(session); });
}

void VlcMediaPlayer::Engine::post(std::function<void()> call) {
    QMetaObject::invokeMethod(&context_, std::move(call), Qt::QueuedConnection);
}

void VlcMediaPlayer::Engine::start(const QString &url) {
    stop();
    phase_ = Phase::Resolving;
    itemHasAudio_ = false;
    sessionHadAudio_ = false;
    itemFailed_ = false;
    if (!usable() || !IsNetworkStreamUrl(url)) {
        post(&Engine::onRejected);
        return;
    }
    resolve(url.trimmed(), session_);
}

void VlcMediaPlayer::Engine::stop() {
    cancelResolvers();
    if (listPlayer_)
        libvlc_media_list_player_stop(listPlayer_);
    // After the stop no event of the old stream is pending any more, so the
    // new session number marks every later post as current.
    ++session_;
    if (phase_ != Phase::Idle)
        phase_ = Phase::Stopped;
}

void VlcMediaPlayer::Engine::resolve(const QString &url, quint64 session) {
    reapResolvers();
    auto resolver = std::make_unique<Resolver>();
    Resolver *running = resolver.get();
    running->thread = std::thread([this, running, url, session] {
        const QStringList entries = ResolveStream(url, &running->cancel);
        if (!running->cancel)
            post([this, session, entries] { onResolved(session, entries); });
        running->finished = true;
    });
    resolvers_.push_back(std::move(resolver));
}

void VlcMediaPlayer::Engine::cancelResolvers() {
    for (const auto &resolver : resolvers_)
        resolver->cancel = true;
}

// Joins the threads that are done, so that they never pile up.
void VlcMediaPlayer::Engine::reapResolvers() {
    std::erase_if(resolvers_, [](const std::unique_ptr<Resolver> &resolver) {
        if (!resolver->finished)
            return false;
        resolver->thread.join();
        return true;
    });
}

void VlcMediaPlayer::Engine::onResolved(quint64 session, const QStringList &entries) {
    if (session != session_)
        return;
    if (entries.isEmpty()) {
        phase_ = Phase::Failed;
        return;
    }
    playEntries(entries);
}

void VlcMediaPlayer::Engine::playEntries(const QStringList &entries) {
    libvlc_media_list_t *list = libvlc_media_list_new(instance_);
    libvlc_media_list_lock(list);
    for (const QString &entry : entries) {
        libvlc_media_t *media = libvlc_media_new_location(instance_, entry.toUtf8().constData());
        if (!media)
            continue;
        libvlc_media_list_add_media(list, media);
        libvlc_media_release(media);
    }
    libvlc_media_list_unlock(list);
    libvlc_media_list_player_set_media_list(listPlayer_, list);
    if (list_)
        libvlc_media_list_release(list_);
    list_ = list;
    phase_ = Phase::Playing;
    lastProgressMs_ = NowMs();
    volumePending_ = true;
    libvlc_media_list_player_play(listPlayer_);
}

void VlcMediaPlayer::Engine::onEntryFailed(quint64 session) {
    if (session == session_ && phase_ == Phase::Playing)
        moveToNextEntry();
}

// libVLC expands playlists it meets by itself into sub-items; those obey the
// same rule as every other entry.
void VlcMediaPlayer::Engine::onItemSet(quint64 session) {
    if (session != session_ || phase_ != Phase::Playing)
        return;
    libvlc_media_t *media = libvlc_media_player_get_media(player_);
    if (!media)
        return;
    char *mrl = libvlc_media_get_mrl(media);
    const QString location = QString::fromUtf8(mrl);
    libvlc_free(mrl);
    libvlc_media_release(media);
    if (!IsNetworkStreamUrl(location)) {
        itemFailed_ = true;
        moveToNextEntry();
    }
}

void VlcMediaPlayer::Engine::moveToNextEntry() {
    if (libvlc_media_list_player_next(listPlayer_) == 0) {
        itemFailed_ = false;
    } else {
        libvlc_media_list_player_stop(listPlayer_);
        phase_ = Phase::Failed;
    }
}

// The list ran out. When none of it ever played, the station failed.
void VlcMediaPlayer::Engine::onListEnded(quint64 session) {
    if (session == session_ && phase_ == Phase::Playing && !sessionHadAudio_)
        phase_ = Phase::Failed;
}

// libVLC keeps no volume before its audio output exists, and the output comes
// up a little after playback starts: apply ours until libVLC takes it.
void VlcMediaPlayer::Engine::onAudioRunning(quint64 session) {
    if (session == session_ && volumePending_)
        applyVolume();
}

void VlcMediaPlayer::Engine::applyVolume() {
    volumePending_ = libvlc_audio_set_volume(player_, volume_) != 0;
}

void VlcMediaPlayer::Engine::onRejected(quint64 session) {
    if (session == session_)
        phase_ = Phase::Failed;
}

void VlcMediaPlayer::Engine::setVolume(int volume) {
    volume_ = std::clamp(volume, 0, 100);
    if (usable())
        applyVolume();
}

int VlcMediaPlayer::Engine::playState() const {
    switch (phase_) {
    case Phase::Idle:
        return PlayState::Undefined;
    case Phase::Resolving:
        return PlayState::Transitioning;
    case Phase::Failed:
        return PlayState::Ready;
    case Phase::Stopped:
        return PlayState::Stopped;
    case Phase::Playing:
        break;
    }
    return itemFailed_ ? PlayState::Transitioning : libvlcState();
}

int VlcMediaPlayer::Engine::libvlcState() const {
    switch (libvlc_media_player_get_state(player_)) {
    case libvlc_NothingSpecial:
    case libvlc_Opening:
    case libvlc_Error: // the error event follows, and moves on to the next entry
        return PlayState::Transitioning;
    case libvlc_Buffering:
        return PlayState::Buffering;
    case libvlc_Playing:
        // A playlist item "plays" too, without any audio of its own.
        if (!itemHasAudio_)
            return PlayState::Transitioning;
        return NowMs() - lastProgressMs_ > kStallAfter.count() ? PlayState::Buffering
                                                               : PlayState::Playing;
    case libvlc_Paused:
        return PlayState::Paused;
    case libvlc_Stopped:
        return PlayState::Stopped;
    case libvlc_Ended:
        break;
    }
    // An entry that ended without audio is followed by the next one, or by the
    // end of the list, which fails the station.
    return sessionHadAudio_ ? PlayState::MediaEnded : PlayState::Transitioning;
}

VlcMediaPlayer::VlcMediaPlayer(const QStringList &vlcArguments, const Configure &configure)
    : engine_(std::make_unique<Engine>(vlcArguments, configure)) {}

VlcMediaPlayer::~VlcMediaPlayer() = default;

void VlcMediaPlayer::setURL(const QString &url) {
    url_ = url;
    engine_->start(url);
}

QString VlcMediaPlayer::URL() const {
    return url_;
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

} // namespace platform
