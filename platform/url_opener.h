#pragma once

#include <QString>
#include <QUrl>

namespace platform {

// The address as one http or https URL, or an invalid QUrl when it is anything
// else (empty, file:, javascript:, no scheme, no host).
QUrl WebAddress(const QString &address);

// Opens web addresses in the user's browser.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // Opens the address when it is an http or https URL; false (and nothing
    // started) for anything else.
    virtual bool Open(const QString &address) = 0;
};

// Hands the address to the desktop's URL handler as one argument; no shell
// is involved.
class DesktopUrlOpener final : public UrlOpener {
public:
    bool Open(const QString &address) override;
};

} // namespace platform
