// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// The program's log lines, one for each failure a user would report. They are
// quiet by default (written at info level); QT_LOGGING_RULES="quorvel.*=true"
// turns them on.
namespace platform {

// A station that cannot be played, and why.
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)
// The directory page that failed to load.
Q_DECLARE_LOGGING_CATEGORY(lcDirectory)
// A message the board did not take.
Q_DECLARE_LOGGING_CATEGORY(lcBoard)

} // namespace platform
