#pragma once

// The program's logging categories. Each is quiet below warnings by default:
// its qCInfo lines show with QT_LOGGING_RULES="quorvel.*=true" (or one
// category's name in place of the star).

#include <QLoggingCategory>

namespace platform {

// The media player: why a station could not be played.
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)
// The station directory: its page, its lines and the cache.
Q_DECLARE_LOGGING_CATEGORY(lcDirectory)
// The message board.
Q_DECLARE_LOGGING_CATEGORY(lcBoard)

} // namespace platform
