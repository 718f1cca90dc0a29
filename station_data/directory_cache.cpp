#include "station_data/directory_cache.h"

#include <QFile>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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

// Writes the text to the open cache file and reads the file back from its
// start. Nothing when a write or the read fails.
std::optional<QString> WriteAndReadBack(int fd, const QString &text) {
    QFile file;
    if (!file.open(fd, QIODevice::ReadWrite, QFileDevice::DontCloseHandle)) {
        return std::nullopt;
    }
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.seek(0)) {
        return std::nullopt;
    }
    const QByteArray readBack = file.readAll();
    if (readBack.size() != bytes.size()) {
        return std::nullopt;
    }
    return QString::fromUtf8(readBack);
}

} // namespace

QStringList SplitDirectoryLines(const QString &text) {
    QStringList lines;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype cr = text.indexOf(u'\r', start);
        if (cr < 0) {
            lines.append(text.mid(start));
            break;
        }
        lines.append(text.mid(start, cr - start));
        start = cr + 1;
        if (start < text.size() && text[start] == u'\n') {
            ++start;
        }
    }
    return lines;
}

QStringList PassThroughCacheFile(const QStringList &folders, const QString &text) {
    for (const QString &folder : folders) {
        const QByteArray path = QFile::encodeName(folder + u'/' + kCacheFileName);
        const int fd = CreateCacheFile(path);
        if (fd < 0) {
            continue;
        }
        const std::optional<QString> readBack = WriteAndReadBack(fd, text);
        ::close(fd);
        ::unlink(path.constData());
        if (readBack) {
            return SplitDirectoryLines(*readBack);
        }
    }
    return SplitDirectoryLines(text);
}
