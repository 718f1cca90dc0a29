// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// The servers the program talks to. Fixed when the program is built; tests
// construct their own to point the windows at loopback servers.
struct Endpoints {
    QString directoryServer; // directory page, announcements, play reports (no trailing slash)
    QString homePage;        // update check; announcements until the directory answers
    QString messageBoardPage;
    QString fallbackStream;
};

// The values the program was built with.
Endpoints BuiltInEndpoints();

} // namespace platform
