// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/hls_stream.h"

#include "platform/background_task.h"
#include "platform/http_request.h"
#include "platform/stream_feed.h"
#include "platform/stream_format.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <nettle/aes.h>
#include <nettle/cbc.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype kAesBlock = AES_BLOCK_SIZE;
constexpr qsizetype kId3Header = 10;
// Enough of a segment's start to tell its format by two of its frames or
// transport packets.
constexpr qsizetype kFormatBytes = 2048;
// A segment's connection that receives nothing for this long is given up.
constexpr long kSegmentStallMs = 10000;
// How often a follower that waits looks whether the play goes on.
constexpr std::chrono::milliseconds kWaitStep{50};

// The size an ID3v2 tag header gives: the tag's body, then a footer when the
// header says so.
qsizetype Id3TagLength(const QByteArray &header) {
    const auto byte = [&header](int at) { return static_cast<unsigned char>(header[at]) & 0x7F; };
    const qsizetype footer = (static_cast<unsigned char>(header[5]) & 0x10) ? kId3Header : 0;
    return kId3Header + footer + (byte(6) << 21 | byte(7) << 14 | byte(8) << 7 | byte(9));
}

// The IV a key tag without one implies: the segment's sequence number, big-endian.
QByteArray SequenceIv(qint64 sequence) {
    QByteArray iv(kAesBlock, '\0');
    for (int at = kAesBlock - 1; at >= 0 && sequence > 0; --at, sequence >>= 8)
        iv[at] = static_cast<char>(sequence & 0xFF);
    return iv;
}

// The first length bytes of encrypted (whole blocks) decrypted in CBC mode;
// the IV moves on to the next block.
QByteArray DecryptBlocks(const aes128_ctx &context, std::uint8_t *iv, const QByteArray &encrypted,
                         qsizetype length) {
    QByteArray plain(length, Qt::Uninitialized);
    cbc_decrypt(&context, reinterpret_cast<nettle_cipher_func *>(&aes128_decrypt), kAesBlock, iv,
                static_cast<std::size_t>(length), reinterpret_cast<std::uint8_t *>(plain.data()),
                reinterpret_cast<const std::uint8_t *>(encrypted.constData()));
    return plain;
}

// Follows one playlist for one play; see FollowHls.
class Follower {
public:
    explicit Follower(const HlsPlayer &player) : player_(player) {}

    HlsEnd follow(const QByteArray &body, const QString &url);

private:
    enum class Step { Next, Stop };

    std::optional<HlsPlaylist> load(const QString &url);
    Step play(const HlsSegment &segment);
    std::optional<SegmentAudio::Key> keyFor(const HlsSegment &segment);
    bool deliver(const QByteArray &audio, bool segmentEnded);
    bool roomInFeed();
    bool waitUntil(Clock::time_point until);
    bool cancelled() const { return player_.task.isCancelled(); }
    HlsEnd interrupted() const { return demuxer_ ? HlsEnd::Interrupted : HlsEnd::Unplayable; }

    const HlsPlayer &player_;
    TransferSession session_;           // every exchange of the play: one kept-alive connection
    std::optional<QByteArray> demuxer_; // once the decoder reads the feed
    bool telling_ = false;              // a segment's start is held until its format is told
    QByteArray head_;
    QString keyUrl_;
    QByteArray key_;
};

HlsEnd Follower::follow(const QByteArray &body, const QString &url) {
    HlsPlaylist playlist = ParseHlsPlaylist(body, url);
    QString mediaUrl = url;
    if (playlist.kind == HlsPlaylist::Kind::Master) {
        mediaUrl = playlist.variantUrl;
        std::optional<HlsPlaylist> media = load(mediaUrl);
        if (!media)
            return HlsEnd::Unplayable;
        playlist = std::move(*media);
    }
    if (playlist.kind != HlsPlaylist::Kind::Media)
        return HlsEnd::Unplayable;
    const auto sequenceOf = [](const HlsPlaylist &list, std::size_t index) {
        return list.segments.empty() ? 0 : list.segments[index].sequence;
    };
    qint64 &next = player_.next;
    qint64 newest = sequenceOf(playlist, playlist.segments.size() - 1);
    if (next < sequenceOf(playlist, 0) || next > newest + 1)
        next = sequenceOf(playlist, HlsStartIndex(playlist));
    Clock::time_point loadedAt = Clock::now();
    Clock::time_point advancedAt = loadedAt;
    bool changed = true;
    for (;;) {
        for (const HlsSegment &segment : playlist.segments) {
            if (segment.sequence < next)
                continue;
            if (play(segment) == Step::Stop)
                return interrupted();
            next = segment.sequence + 1;
        }
        if (playlist.ended)
            return demuxer_ ? HlsEnd::Finished : HlsEnd::Unplayable;
        const std::chrono::duration<double> target(playlist.targetDuration);
        if (!waitUntil(loadedAt +
                       std::chrono::duration_cast<Clock::duration>(changed ? target : target / 2)))
            return interrupted();
        std::optional<HlsPlaylist> reloaded = load(mediaUrl);
        loadedAt = Clock::now();
        changed = false;
        if (reloaded && reloaded->kind == HlsPlaylist::Kind::Media) {
            const qint64 last = sequenceOf(*reloaded, reloaded->segments.size() - 1);
            changed = last > newest || reloaded->ended;
            if (last < next - 1) { // the server numbers its segments anew
                next = sequenceOf(*reloaded, HlsStartIndex(*reloaded));
                changed = true;
            }
            newest = last;
            playlist = std::move(*reloaded);
        }
        if (changed)
            advancedAt = loadedAt;
        else if (loadedAt - advancedAt >= 3 * target)
            return interrupted();
    }
}

std::optional<HlsPlaylist> Follower::load(const QString &url) {
    TransferRequest request;
    request.url = url;
    request.session = &session_;
    request.from = player_.from;
    request.limits.maxBodyBytes = kMaxFetchedPlaylistBytes;
    const TransferResult result = Transfer(request, &player_.task.cancelFlag());
    if (!result.responded || !IsSuccess(result.status) || result.bodyTruncated)
        return std::nullopt;
    return ParseHlsPlaylist(result.body, result.effectiveUrl);
}

Follower::Step Follower::play(const HlsSegment &segment) {
    if (segment.url.isEmpty())
        return Step::Next; // an address the player never fetches
    std::optional<SegmentAudio::Key> key;
    if (segment.key.method != HlsKey::Method::None) {
        key = keyFor(segment);
        if (!key)
            return Step::Stop;
    }
    if (!roomInFeed())
        return Step::Stop;
    SegmentAudio audio(key);
    telling_ = telling_ || !demuxer_ || segment.discontinuity;
    std::size_t received = 0;
    bool delivered = true;
    QByteArray out;
    TransferRequest request;
    request.url = segment.url;
    request.session = &session_;
    request.from = player_.from;
    request.limits.totalTimeoutMs = 0; // held while the decoder has enough
    request.limits.stallTimeoutMs = kSegmentStallMs;
    request.continueAfterHeaders = [](const TransferResult &head) {
        return IsSuccess(head.status);
    };
    request.bodySink = [&](const char *data, std::size_t length) {
        received += length;
        if (received > kMaxHlsSegmentBytes)
            return false;
        out.clear();
        audio.read(data, length, out);
        delivered = deliver(out, false);
        return delivered;
    };
    request.pace = player_.pace;
    const TransferResult result = Transfer(request, &player_.task.cancelFlag());
    if (!delivered || cancelled() || player_.pace() == TransferPace::Stop)
        return Step::Stop;
    if (!result.responded || !IsSuccess(result.status) || received > kMaxHlsSegmentBytes)
        return Step::Next; // a lost segment is a gap, not the end
    out.clear();
    const bool whole = audio.finish(out);
    return !whole || deliver(out, true) ? Step::Next : Step::Stop;
}

std::optional<SegmentAudio::Key> Follower::keyFor(const HlsSegment &segment) {
    if (segment.key.method != HlsKey::Method::Aes128)
        return std::nullopt;
    if (segment.key.url != keyUrl_) {
        TransferRequest request;
        request.url = segment.key.url;
        request.session = &session_;
        request.from = player_.from;
        request.limits.maxBodyBytes = kAesBlock + 1; // enough to see a longer key
        const TransferResult result = Transfer(request, &player_.task.cancelFlag());
        if (!result.responded || !IsSuccess(result.status) || result.body.size() != kAesBlock)
            return std::nullopt;
        keyUrl_ = segment.key.url;
        key_ = result.body;
    }
    return SegmentAudio::Key{key_, segment.key.iv.value_or(SequenceIv(segment.sequence))};
}

// Writes a segment's audio to the feed; the start of the first segment, and
// of one after a discontinuity, is held until its format is told. False when
// the decoder cannot take it or the format changed.
bool Follower::deliver(const QByteArray &audio, bool segmentEnded) {
    if (!telling_) {
        player_.write(audio.constData(), static_cast<std::size_t>(audio.size()));
        return true;
    }
    head_.append(audio);
    if (head_.size() < kFormatBytes && !(segmentEnded && !head_.isEmpty()))
        return true;
    telling_ = false;
    const QByteArray demuxer = DemuxerForBytes(head_);
    if (!demuxer_) {
        if (!player_.begin(demuxer))
            return false;
        demuxer_ = demuxer;
    } else if (!demuxer.isEmpty() && demuxer != *demuxer_) {
        return false; // another decoder would be needed
    }
    player_.write(head_.constData(), static_cast<std::size_t>(head_.size()));
    head_.clear();
    return true;
}

// Waits while the decoder has enough ahead; false when the play is to end.
bool Follower::roomInFeed() {
    for (;;) {
        const TransferPace pace = player_.pace();
        if (pace == TransferPace::Go)
            return !cancelled();
        if (pace == TransferPace::Stop || !player_.task.sleepFor(kWaitStep))
            return false;
    }
}

bool Follower::waitUntil(Clock::time_point until) {
    for (Clock::time_point now = Clock::now(); now < until; now = Clock::now()) {
        if (player_.pace() == TransferPace::Stop)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        if (!player_.task.sleepFor(std::min(kWaitStep, left + std::chrono::milliseconds(1))))
            return false;
    }
    return !cancelled();
}

} // namespace

struct SegmentAudio::Cipher {
    aes128_ctx context;
    std::array<std::uint8_t, AES_BLOCK_SIZE> iv;
};

SegmentAudio::SegmentAudio(const std::optional<Key> &key) {
    if (!key)
        return;
    cipher_ = std::make_unique<Cipher>();
    aes128_set_decrypt_key(&cipher_->context,
                           reinterpret_cast<const std::uint8_t *>(key->key.constData()));
    std::copy_n(key->iv.constData(), kAesBlock, cipher_->iv.begin());
}

SegmentAudio::~SegmentAudio() = default;

void SegmentAudio::read(const char *data, std::size_t length, QByteArray &audio) {
    if (!cipher_) {
        untag(QByteArray::fromRawData(data, static_cast<qsizetype>(length)), audio);
        return;
    }
    encrypted_.append(data, static_cast<qsizetype>(length));
    // The last whole block may carry the padding: it waits for the end.
    const qsizetype ready = (encrypted_.size() - 1) / kAesBlock * kAesBlock;
    if (ready <= 0)
        return;
    const QByteArray plain = DecryptBlocks(cipher_->context, cipher_->iv.data(), encrypted_, ready);
    encrypted_.remove(0, ready);
    untag(plain, audio);
}

bool SegmentAudio::finish(QByteArray &audio) {
    if (cipher_) {
        if (encrypted_.size() != kAesBlock)
            return false;
        QByteArray plain =
            DecryptBlocks(cipher_->context, cipher_->iv.data(), encrypted_, kAesBlock);
        encrypted_.clear();
        const int padding = static_cast<unsigned char>(plain.back());
        if (padding < 1 || padding > kAesBlock ||
            !std::all_of(plain.cend() - padding, plain.cend(),
                         [padding](char c) { return static_cast<unsigned char>(c) == padding; }))
            return false;
        plain.chop(padding);
        untag(plain, audio);
    }
    audio.append(head_);
    head_.clear();
    return true;
}

void SegmentAudio::untag(QByteArray bytes, QByteArray &audio) {
    if (pastTags_) {
        audio.append(bytes);
        return;
    }
    head_.append(bytes);
    while (!pastTags_) {
        const qsizetype skipped = std::min(skip_, head_.size());
        head_.remove(0, skipped);
        skip_ -= skipped;
        if (skip_ > 0 || head_.size() < kId3Header)
            return;
        if (!head_.startsWith("ID3")) {
            pastTags_ = true;
            break;
        }
        skip_ = Id3TagLength(head_);
    }
    audio.append(head_);
    head_.clear();
}

HlsEnd FollowHls(const QByteArray &body, const QString &url, const HlsPlayer &player) {
    return Follower(player).follow(body, url);
}

} // namespace platform
