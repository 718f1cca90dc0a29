#pragma once

// The pieces between a station's connection and the decoder: the ICY metadata
// taken out of the bytes, and the buffer the decoder reads them from.

#include <QByteArray>
#include <QString>
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
// GB18030, trimmed.
QString DecodeIcyTitle(const QByteArray &raw);

// The libVLC demuxer for a stream's Content-Type, so that the decoder does not
// probe the bytes first; empty for a type it should probe.
QByteArray DemuxerForContentType(const QByteArray &contentType);

// Bytes on their way from the network thread to the decoder's thread. The
// decoder blocks in read() until bytes come, the stream is finished, or the
// feed is closed.
class Feed {
public:
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

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QByteArray bytes_;
    qsizetype readFrom_ = 0;
    std::uint64_t position_ = 0;
    bool finished_ = false;
    bool closed_ = false;
};

} // namespace platform
