// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/stream_feed.h"

#include "platform/text_decoding.h"

#include <QList>
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace platform {

namespace {

constexpr QByteArrayView kTitleStart = "StreamTitle='";
constexpr QByteArrayView kTitleEnd = "';";

struct Demuxer {
    QByteArrayView type;
    QByteArrayView name;
};

constexpr std::array<Demuxer, 17> kDemuxers = {{
    {"audio/mpeg", "mpga"},
    {"audio/mp3", "mpga"},
    {"audio/mpeg3", "mpga"},
    {"audio/x-mpeg", "mpga"},
    {"audio/x-mp3", "mpga"},
    {"audio/mpg", "mpga"},
    {"audio/aac", "aac"},
    {"audio/aacp", "aac"},
    {"audio/x-aac", "aac"},
    {"audio/x-aacp", "aac"},
    {"audio/ogg", "ogg"},
    {"application/ogg", "ogg"},
    {"audio/x-ogg", "ogg"},
    {"audio/wav", "wav"},
    {"audio/x-wav", "wav"},
    {"audio/wave", "wav"},
    {"audio/vnd.wave", "wav"},
}};

// Compacts the buffer once the part already read outweighs the rest.
constexpr qsizetype kCompactAfter = 64 * 1024;

// Characters a station's title may not carry to the desktop: control characters
// (which a terminal or a log would act on) and the marks and overrides that
// reorder the text around them.
bool IsUnsafeInTitle(QChar character) {
    const char16_t code = character.unicode();
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

} // namespace

IcyReader::IcyReader(qsizetype interval) : interval_(interval), untilBlock_(interval) {}

void IcyReader::read(const char *data, std::size_t length, QByteArray &audio) {
    const char *end = data + length;
    while (data < end) {
        const qsizetype left = end - data;
        if (interval_ <= 0) {
            audio.append(data, left);
            return;
        }
        if (blockLeft_ > 0) {
            const qsizetype taken = std::min(left, blockLeft_);
            block_.append(data, taken);
            data += taken;
            blockLeft_ -= taken;
            if (blockLeft_ == 0)
                endBlock();
        } else if (untilBlock_ == 0) {
            // The length byte of a block.
            blockLeft_ = static_cast<unsigned char>(*data++) * 16;
            if (blockLeft_ == 0)
                endBlock();
        } else {
            const qsizetype taken = std::min(left, untilBlock_);
            audio.append(data, taken);
            data += taken;
            untilBlock_ -= taken;
        }
    }
}

void IcyReader::endBlock() {
    if (std::optional<QByteArray> title = IcyStreamTitle(block_))
        title_ = std::move(title);
    block_.clear();
    blockLeft_ = -1;
    untilBlock_ = interval_;
}

std::optional<QByteArray> IcyReader::takeTitle() {
    return std::exchange(title_, std::nullopt);
}

std::optional<QByteArray> IcyStreamTitle(const QByteArray &block) {
    const qsizetype start = block.indexOf(kTitleStart);
    if (start < 0)
        return std::nullopt;
    const qsizetype from = start + kTitleStart.size();
    qsizetype end = block.indexOf(kTitleEnd, from);
    if (end < 0) {
        end = block.lastIndexOf('\'');
        if (end < from)
            end = block.size();
    }
    return block.mid(from, end - from);
}

QString DecodeIcyTitle(const QByteArray &raw) {
    QByteArray bytes = raw;
    bytes.replace('\0', QByteArray());
    QString title = DecodeText(bytes, QUtf8StringView(bytes).isValidUtf8() ? "utf-8" : "gb18030");
    title.removeIf(&IsUnsafeInTitle);
    return title.trimmed();
}

QByteArray DemuxerForContentType(const QByteArray &contentType) {
    const QByteArray type = contentType.split(';').front().trimmed().toLower();
    const auto found = std::ranges::find(kDemuxers, QByteArrayView(type), &Demuxer::type);
    return found == kDemuxers.end() ? QByteArray() : found->name.toByteArray();
}

void Feed::push(const char *data, std::size_t length) {
    {
        const std::lock_guard lock(mutex_);
        if (closed_)
            return;
        if (readFrom_ > kCompactAfter && readFrom_ > bytes_.size() / 2) {
            bytes_.remove(0, readFrom_);
            readFrom_ = 0;
        }
        bytes_.append(data, static_cast<qsizetype>(length));
    }
    changed_.notify_all();
}

void Feed::finish() {
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

void Feed::close() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        bytes_.clear();
        readFrom_ = 0;
    }
    changed_.notify_all();
}

std::size_t Feed::size() const {
    const std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(bytes_.size() - readFrom_);
}

// Whether a read may take bytes now: some are held, and no refill is under way
// or it has queued enough.
bool Feed::readable() const {
    const auto held = static_cast<std::size_t>(bytes_.size() - readFrom_);
    return held > 0 && (!refilling_ || held >= refill_);
}

ssize_t Feed::read(unsigned char *buffer, std::size_t length) {
    std::unique_lock lock(mutex_);
    const auto underrunAt = std::chrono::steady_clock::now() + kUnderrunAfter;
    while (!closed_ && !finished_ && !readable()) {
        if (refilling_ || refill_ == 0) {
            changed_.wait(lock);
        } else if (changed_.wait_until(lock, underrunAt) == std::cv_status::timeout &&
                   !readable()) {
            refilling_ = true;
            ++underruns_;
        }
    }
    refilling_ = false;
    if (closed_)
        return 0;
    const std::size_t held = static_cast<std::size_t>(bytes_.size() - readFrom_);
    const std::size_t taken = std::min(length, held);
    std::memcpy(buffer, bytes_.constData() + readFrom_, taken);
    readFrom_ += static_cast<qsizetype>(taken);
    position_ += taken;
    return static_cast<ssize_t>(taken);
}

std::uint64_t Feed::position() const {
    const std::lock_guard lock(mutex_);
    return position_;
}

void Feed::setRefill(std::size_t bytes) {
    {
        const std::lock_guard lock(mutex_);
        if (refill_ == bytes)
            return; // unchanged: the reader waits on as it did
        refill_ = bytes;
    }
    changed_.notify_all();
}

int Feed::underruns() const {
    const std::lock_guard lock(mutex_);
    return underruns_;
}

} // namespace platform
