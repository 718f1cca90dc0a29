// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Following an HTTP Live Streaming playlist: its segments fetched in order
// over one kept-alive connection, decrypted, their audio written to the feed
// the decoder reads.

#include "platform/hls_playlist.h"
#include "platform/http_transfer.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <functional>
#include <optional>

namespace platform {

class BackgroundTask;

// A segment may be no larger than this.
inline constexpr std::size_t kMaxHlsSegmentBytes = 16 * 1024 * 1024;

// The audio of one segment as its bytes arrive: decrypted when a key is given
// (AES-128-CBC, PKCS#7 padding), the ID3 tags that open packed audio (their
// timestamps) taken off.
class SegmentAudio {
public:
    struct Key {
        QByteArray key; // 16 bytes
        QByteArray iv;  // 16 bytes
    };
    explicit SegmentAudio(const std::optional<Key> &key = std::nullopt);
    ~SegmentAudio();

    SegmentAudio(const SegmentAudio &) = delete;
    SegmentAudio &operator=(const SegmentAudio &) = delete;

    // Appends the audio of the piece to audio.
    void read(const char *data, std::size_t length, QByteArray &audio);
    // The segment is whole: appends what was held back. False when its
    // encryption is broken (a length or padding no encryption gives).
    bool finish(QByteArray &audio);

private:
    void untag(QByteArray bytes, QByteArray &audio);

    struct Cipher;
    std::unique_ptr<Cipher> cipher_;
    QByteArray encrypted_; // not yet decrypted: the last block waits for the end
    QByteArray head_;      // the segment's start, until its tags are known
    qsizetype skip_ = 0;   // bytes of a tag still to skip
    bool pastTags_ = false;
};

// How following a playlist came out.
enum class HlsEnd {
    Unplayable,  // nothing was handed to the decoder
    Finished,    // the playlist ended and all its audio is in the feed
    Interrupted, // stopped: cancelled, the decoder stopped, or the playlist
                 // no longer advanced for three target durations
};

// What the player gives the follower, on the play's worker thread.
struct HlsPlayer {
    const BackgroundTask &task; // cancels the play; the follower waits through it
    // Writes audio to the feed the decoder reads.
    std::function<void(const char *data, std::size_t length)> write;
    // Hands the feed to the decoder with the demuxer named; false when it
    // cannot take it.
    std::function<bool(const QByteArray &demuxer)> begin;
    // Whether to read on, hold (the decoder has enough ahead) or stop.
    std::function<TransferPace()> pace;
    // The space of the server that gave the playlist: no playlist, key or
    // segment it names may lie in a more private one.
    AddressSpace from;
    // The media sequence number of the segment to play next, kept across the
    // play's connections: a playlist followed again after a drop goes on from
    // there while the playlist still holds it, instead of playing again what
    // was heard. Negative: from the live edge.
    qint64 &next;
};

// Follows the playlist whose body was read from url: a master playlist's
// chosen rendition, then the media playlist, from three target durations
// before its live edge (its start once it has ended), reloaded every target
// duration (half of one after an unchanged reload). The demuxer is named from
// the first segment's bytes; a later discontinuity to another format ends
// the play as a drop. SAMPLE-AES, unknown methods and keys that are not 16
// bytes end it too (Unplayable before any sound).
HlsEnd FollowHls(const QByteArray &body, const QString &url, const HlsPlayer &player);

} // namespace platform
