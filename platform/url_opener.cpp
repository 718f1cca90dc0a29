#include "platform/url_opener.h"

#include <QDesktopServices>

namespace platform {

QUrl WebAddress(const QString &address) {
    // Tolerant parsing percent-encodes spaces, quotes and the like, so the whole
    // address stays one URL.
    const QUrl url(address.trimmed(), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty()) {
        return {};
    }
    return url;
}

bool DesktopUrlOpener::Open(const QString &address) {
    const QUrl url = WebAddress(address);
    return url.isValid() && QDesktopServices::openUrl(url);
}

} // namespace platform
