// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/endpoints.h"

namespace platform {

Endpoints BuiltInEndpoints() {
    return Endpoints{QStringLiteral(QUORVEL_DIRECTORY_SERVER), QStringLiteral(QUORVEL_HOME_PAGE),
                     QStringLiteral(QUORVEL_MESSAGE_BOARD_PAGE),
                     QStringLiteral(QUORVEL_FALLBACK_STREAM)};
}

} // namespace platform
