#include "platform/log_categories.h"

namespace platform {

// The media player: plays, drops and reconnections.
Q_LOGGING_CATEGORY(lcPlayer, "quorvel.player", QtWarningMsg)
// The station directory: its pages and the station lines read from them.
Q_LOGGING_CATEGORY(lcDirectory, "quorvel.directory", QtWarningMsg)
// The message board: why a message to the author was not taken.
Q_LOGGING_CATEGORY(lcBoard, "quorvel.board", QtWarningMsg)

} // namespace platform
