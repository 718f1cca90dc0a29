// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/real_platform.h"

#include "platform/curl_http_request.h"
#include "platform/html_browser.h"
#include "platform/vlc_media_player.h"

namespace platform {

RealPlatform::RealPlatform(Endpoints endpoints, PlayerFactory playerFactory)
    : endpoints_(std::move(endpoints)), playerFactory_(std::move(playerFactory)) {}

std::unique_ptr<MediaPlayer> RealPlatform::createMediaPlayer() {
    if (playerFactory_) {
        return playerFactory_();
    }
    return std::make_unique<VlcMediaPlayer>(QStringList{});
}

std::unique_ptr<WebBrowser> RealPlatform::createWebBrowser() {
    return std::make_unique<HtmlBrowser>();
}

std::unique_ptr<HttpRequest> RealPlatform::createHttpRequest() {
    return std::make_unique<CurlHttpRequest>();
}

} // namespace platform
