// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/url_checks.h"

#include <QLatin1StringView>
#include <algorithm>
#include <array>

namespace platform {

namespace {

constexpr std::array<QLatin1StringView, 7> kNetworkSchemes = {
    QLatin1StringView("http"), QLatin1StringView("https"), QLatin1StringView("mms"),
    QLatin1StringView("mmsh"), QLatin1StringView("mmst"),  QLatin1StringView("rtsp"),
    QLatin1StringView("rtmp")};

bool IsWebScheme(const QString &scheme) {
    return scheme == u"http" || scheme == u"https";
}

} // namespace

bool IsHttpUrl(const QString &url) {
    const QUrl parsed(url);
    return parsed.isValid() && IsWebScheme(parsed.scheme().toLower()) && !parsed.host().isEmpty();
}

bool IsNetworkStreamUrl(const QString &url) {
    const QUrl parsed(url.trimmed());
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && !parsed.host().isEmpty() &&
           std::ranges::find(kNetworkSchemes, scheme) != kNetworkSchemes.end();
}

QUrl WebAddress(const QString &address) {
    const QUrl url(address.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || !IsWebScheme(url.scheme().toLower()) || url.host().isEmpty())
        return {};
    return url;
}

} // namespace platform
