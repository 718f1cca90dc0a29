// SPDX-License-Identifier: GPL-3.0-or-later
#include "station_data/directory_cache.h"

#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const QString kCacheFileName = QStringLiteral("zeb.tmp");

// Creates the cache file anew, never through a symbolic link: a leftover
// entry that is a file or a link is unlinked (the link itself, not its target)
// and the file is created exclusively. -1 when the folder does not take it.
int CreateCacheFile(const QByteArray &path) {
    struct stat existing {};
    if (::lstat(path.constData(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) {
            return -1;
        }
        ::unlink(path.constData());
    }
    return ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// Pieces of this many bytes pass between memory and the file.
constexpr qsizetype kChunk = 256 * 1024;

// A line of the directory decoded from UTF-8, holding no more memory than its
// text needs: the decoder reserves room for as many characters as there are
// bytes, and a large directory keeps every line for as long as it is shown.
QString DecodedLine(QByteArrayView bytes) {
    const QString decoded = QString::fromUtf8(bytes);
    return QString(decoded.constData(), decoded.size());
}

// Collects the lines of UTF-8 text handed over in pieces. A CR byte never
// occurs inside the encoding of another character, so lines are cut on bytes
// and each is decoded on its own.
class LineReader {
public:
    void read(QByteArrayView bytes) {
        qsizetype at = 0;
        if (lfBelongsToBreak_ && !bytes.isEmpty()) {
            lfBelongsToBreak_ = false;
            if (bytes.front() == '\n') {
                at = 1;
            }
        }
        while (at < bytes.size()) {
            const qsizetype cr = bytes.indexOf('\r', at);
            if (cr < 0) {
                partial_.append(bytes.sliced(at));
                return;
            }
            const QByteArrayView rest = bytes.sliced(at, cr - at);
            if (partial_.isEmpty()) {
                lines_.append(DecodedLine(rest));
            } else {
                partial_.append(rest);
                lines_.append(DecodedLine(partial_));
                partial_.clear();
            }
            at = cr + 1;
            if (at == bytes.size()) {
                lfBelongsToBreak_ = true;
            } else if (bytes[at] == '\n') {
                ++at;
            }
        }
    }

    QStringList lines() && {
        if (!partial_.isEmpty()) {
            lines_.append(DecodedLine(partial_));
        }
        return std::move(lines_);
    }

private:
    QStringList lines_;
    QByteArray partial_;            // the start of a line whose end has not come yet
    bool lfBelongsToBreak_ = false; // the last piece ended with a CR
};

// The lines of a UTF-8 text.
QStringList LinesOfUtf8(QByteArrayView bytes) {
    LineReader reader;
    reader.read(bytes);
    return std::move(reader).lines();
}

// Writes the bytes to the open cache file and reads the file back from its
// start. Nothing when a write or the read fails.
std::optional<QStringList> WriteAndReadBack(int fd, QByteArrayView bytes) {
    QFile file;
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered,
                   QFileDevice::DontCloseHandle)) {
        return std::nullopt;
    }
    for (qsizetype at = 0; at < bytes.size(); at += kChunk) {
        const QByteArrayView piece = bytes.sliced(at, std::min(kChunk, bytes.size() - at));
        if (file.write(piece.data(), piece.size()) != piece.size()) {
            return std::nullopt;
        }
    }
    if (!file.seek(0)) {
        return std::nullopt;
    }
    LineReader reader;
    QByteArray buffer(kChunk, Qt::Uninitialized);
    qint64 read = 0;
    for (qint64 got; (got = file.read(buffer.data(), buffer.size())) > 0;) {
        reader.read(QByteArrayView(buffer.constData(), got));
        read += got;
    }
    if (read != bytes.size()) {
        return std::nullopt;
    }
    return std::move(reader).lines();
}

} // namespace

QStringList SplitDirectoryLines(const QString &text) {
    return LinesOfUtf8(text.toUtf8());
}

QStringList PassThroughCacheFile(const QStringList &folders, QByteArray bytes) {
    bytes += "\r\n";
    for (const QString &folder : folders) {
        const QByteArray path = QFile::encodeName(folder + u'/' + kCacheFileName);
        const int fd = CreateCacheFile(path);
        if (fd < 0) {
            continue;
        }
        std::optional<QStringList> lines = WriteAndReadBack(fd, bytes);
        ::close(fd);
        ::unlink(path.constData());
        if (lines) {
            return std::move(*lines);
        }
    }
    return LinesOfUtf8(bytes);
}
