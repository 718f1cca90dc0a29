// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/real_platform.h"
#include "tests/support/audio_tap.h"
#include "tests/support/fake_platform.h"

namespace testsupport {

// The real browser, requests and (with a tap) media player, pointed at
// loopback servers, with recording message boxes (unless a test asks for the
// real ones) and URL opener so that nothing modal or outside the test starts.
class LoopbackPlatform final : public platform::Platform {
public:
    // Without a tap the player is a recording fake; with one it is the real
    // libVLC player, its audio going to the tap (which must outlive it).
    explicit LoopbackPlatform(platform::Endpoints endpoints, AudioTap *tap = nullptr);

    std::unique_ptr<platform::MediaPlayer> createMediaPlayer() override;
    std::unique_ptr<platform::WebBrowser> createWebBrowser() override;
    std::unique_ptr<platform::HttpRequest> createHttpRequest() override;
    platform::MessageBoxes &messageBoxes() override {
        return realMessageBoxes ? real_.messageBoxes() : boxes;
    }
    platform::UrlOpener &urlOpener() override { return opener; }
    const platform::Endpoints &endpoints() const override { return real_.endpoints(); }

    // All four endpoints on one server: its root, "/", "/maiz.asp" and "/fallback.asx".
    static platform::Endpoints onServer(const QString &root);

    FakeMessageBoxes boxes;
    FakeUrlOpener opener;
    bool realMessageBoxes = false; // the test closes each box itself

private:
    platform::RealPlatform real_;
};

} // namespace testsupport
