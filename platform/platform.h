// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/endpoints.h"
#include "platform/http_request.h"
#include "platform/media_player.h"
#include "platform/message_boxes.h"
#include "platform/url_opener.h"
#include "platform/web_browser.h"

#include <memory>

namespace platform {

// Everything a window needs from outside the program. Windows receive it in
// their constructor; main() builds the real one, tests build fakes or the
// real one pointed at loopback servers.
class Platform {
public:
    virtual ~Platform() = default;

    virtual std::unique_ptr<MediaPlayer> createMediaPlayer() = 0;
    virtual std::unique_ptr<WebBrowser> createWebBrowser() = 0;
    // One request per exchange.
    virtual std::unique_ptr<HttpRequest> createHttpRequest() = 0;
    virtual MessageBoxes &messageBoxes() = 0;
    virtual UrlOpener &urlOpener() = 0;
    virtual const Endpoints &endpoints() const = 0;
};

} // namespace platform
