// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/loopback_platform.h"

namespace testsupport {

namespace {

platform::RealPlatform::PlayerFactory PlayerFor(AudioTap *tap) {
    if (!tap) {
        return [] { return std::make_unique<FakeMediaPlayer>(); };
    }
    // A live stream that went away is given up sooner than in the program, so
    // that tests of what follows need not wait a minute.
    return [tap] {
        return std::make_unique<platform::VlcMediaPlayer>(QStringList{}, tap->hook(),
                                                          std::chrono::seconds(4));
    };
}

} // namespace

LoopbackPlatform::LoopbackPlatform(platform::Endpoints endpoints, AudioTap *tap)
    : real_(std::move(endpoints), PlayerFor(tap)) {}

std::unique_ptr<platform::MediaPlayer> LoopbackPlatform::createMediaPlayer() {
    return real_.createMediaPlayer();
}

std::unique_ptr<platform::WebBrowser> LoopbackPlatform::createWebBrowser() {
    return real_.createWebBrowser();
}

std::unique_ptr<platform::HttpRequest> LoopbackPlatform::createHttpRequest() {
    return real_.createHttpRequest();
}

platform::Endpoints LoopbackPlatform::onServer(const QString &root) {
    return {root, root + "/", root + "/maiz.asp", root + "/fallback.asx"};
}

} // namespace testsupport
