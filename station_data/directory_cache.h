// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The lines of a directory text as the cache file is read back: a line ends at
// a CR, an LF directly after the CR belongs to that break, a lone LF stays part
// of the line, and the last line may end at the end of the text.
QStringList SplitDirectoryLines(const QString &text);

// Passes the directory text (UTF-8) through the short-lived cache file "zeb.tmp":
// writes it followed by CR LF in the first of the folders where the file can be created,
// reads it back line by line and deletes it before returning. A leftover
// regular file or symbolic link of that name is removed first (a link is never
// followed). When no folder takes the file, the text is split in memory by the
// same rule, so the directory still loads.
QStringList PassThroughCacheFile(const QStringList &folders, QByteArray bytes);
