// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/url_checks.h"

#include <QString>

namespace platform {

// Opens web addresses in the user's browser.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // Opens the address when it is an http or https URL; false (and nothing
    // started) for anything else.
    virtual bool open(const QString &address) = 0;
};

// Hands the address to the desktop's URL handler as one argument; no shell
// is involved.
class DesktopUrlOpener final : public UrlOpener {
public:
    bool open(const QString &address) override;
};

} // namespace platform
