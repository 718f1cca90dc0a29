// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/platform.h"

#include <functional>

namespace platform {

// The platform the program runs on: libVLC, libcurl and libxml2, Qt message
// boxes and the desktop's URL handler.
class RealPlatform final : public Platform {
public:
    using PlayerFactory = std::function<std::unique_ptr<MediaPlayer>()>;

    // playerFactory lets tests listen to the decoded audio; by default the
    // player plays through the desktop's sound output.
    explicit RealPlatform(Endpoints endpoints, PlayerFactory playerFactory = {});

    std::unique_ptr<MediaPlayer> createMediaPlayer() override;
    std::unique_ptr<WebBrowser> createWebBrowser() override;
    std::unique_ptr<HttpRequest> createHttpRequest() override;
    MessageBoxes &messageBoxes() override { return boxes_; }
    UrlOpener &urlOpener() override { return opener_; }
    const Endpoints &endpoints() const override { return endpoints_; }

private:
    Endpoints endpoints_;
    PlayerFactory playerFactory_;
    QtMessageBoxes boxes_;
    DesktopUrlOpener opener_;
};

} // namespace platform
