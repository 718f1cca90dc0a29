// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/url_opener.h"

#include <QDesktopServices>

namespace platform {

bool DesktopUrlOpener::open(const QString &address) {
    const QUrl url = WebAddress(address);
    return url.isValid() && QDesktopServices::openUrl(url);
}

} // namespace platform
