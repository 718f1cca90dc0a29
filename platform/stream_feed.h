// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The pieces between a station's connection and the decoder: the ICY metadata
// taken out of the bytes, and the buffer the decoder reads them from.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <sys/types.h>

namespace platform {

// Takes the ICY metadata out of a station's bytes: after every `interval`
// bytes of audio comes one length byte (in units of 16 bytes) and that many
// bytes of "StreamTitle='…';…" padded with NULs.
class IcyReader {
public:
    // An interval of zero or less: the stream carries no metadata.
    explicit IcyReader(qsizetype interval);

    // Appends the audio bytes of the piece to audio.
    void read(const char *data, std::size_t length, QByteArray &audio);
    // The raw bytes of the newest title announced since the last call, if any.
    std::optional<QByteArray> takeTitle();

private:
    void endBlock();

    qsizetype interval_;
    qsizetype untilBlock_;
    qsizetype blockLeft_ = -1; // bytes of the metadata block still to come; -1 outside one
    QByteArray block_;
    std::optional<QByteArray> title_;
};

// The StreamTitle value of a metadata block, as raw bytes; nothing when the
// block names no title.
std::optional<QByteArray> IcyStreamTitle(const QByteArray &block);

// A station title from its raw bytes: UTF-8 when they are valid UTF-8, else
// GB18030 (never another charset), without control characters or bidirectional
// marks, overrides and isolates, trimmed.
QString DecodeIcyTitle(const QByteArray &raw);

// The libVLC demuxer for a stream's Content-Type, so that the decoder does not
// probe the bytes first; empty for a type it should probe.
QByteArray DemuxerForContentType(const QByteArray &contentType);

// How one connection to a station (or one run of whatever follows a stream
// into a play's feed) came out.
enum class ConnectionEnd {
    Cancelled, // the play was stopped or replaced
    Failed,    // no sound came of it
    Playlist,  // a playlist: its entries are to be tried
    Ended,     // a finite stream was read to its end and plays out
    Dropped,   // a live stream made sound, then went away: connect again into the same feed
};

// Bytes on their way from the network thread to the decoder's thread: the
// jitter buffer between them. The decoder blocks in read() until bytes come,
// the stream is finished, or the feed is closed. Once a refill amount is set,
// a decoder that has waited with nothing to read for longer than its own
// buffer lasts (the sound breaks: an underrun) is held back until that much is
// queued again, so that the sound comes back with a cushion instead of
// breaking again at the next late byte. A connection that replaces a dropped
// one pushes on into the same feed.
class Feed {
public:
    // How long the decoder may wait on an empty feed before it counts as an
    // underrun: about what libVLC holds decoded ahead.
    static constexpr std::chrono::milliseconds kUnderrunAfter{300};

    void push(const char *data, std::size_t length);
    // No more bytes will come: reads return what is left, then the end.
    void finish();
    // The decoder is to stop: reads return the end at once, now and later.
    void close();
    // Bytes held and not yet read.
    std::size_t size() const;
    // Up to length bytes into buffer; 0 at the end of the stream.
    ssize_t read(unsigned char *buffer, std::size_t length);
    // Bytes read so far: the only position a seek may go to.
    std::uint64_t position() const;
    // The bytes to queue before reads go on after an underrun; 0 (at first):
    // no holding back.
    void setRefill(std::size_t bytes);
    // Underruns so far.
    int underruns() const;

private:
    bool readable() const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QByteArray bytes_;
    qsizetype readFrom_ = 0;
    std::uint64_t position_ = 0;
    std::size_t refill_ = 0;
    int underruns_ = 0;
    bool refilling_ = false;
    bool finished_ = false;
    bool closed_ = false;
};

} // namespace platform
