// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/log_categories.h"

namespace platform {

Q_LOGGING_CATEGORY(lcPlayer, "quorvel.player", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDirectory, "quorvel.directory", QtWarningMsg)
Q_LOGGING_CATEGORY(lcBoard, "quorvel.board", QtWarningMsg)

} // namespace platform
