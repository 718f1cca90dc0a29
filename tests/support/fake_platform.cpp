// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/fake_platform.h"

#include <QTimer>

namespace testsupport {

void FakeMediaPlayer::setURL(const QString &url) {
    urlsSet.append(url);
}

void FakeMediaPlayer::stop() {
    ++stopCalls;
    state = platform::PlayState::Stopped;
}

void FakeMediaPlayer::play() {
    ++playCalls;
}

void FakeMediaPlayer::setVolume(int volume) {
    volume_ = volume;
    volumesSet.append(volume);
}

void FakeWebBrowser::Navigate2(const QString &url) {
    navigations.append(url);
    pending_ = url;
    if (url == QLatin1String("about:blank")) {
        finish(url);
    }
    if (!holdLoads) {
        QTimer::singleShot(0, this, [this, url] {
            if (pending_ == url) {
                completePending();
            }
        });
    }
}

void FakeWebBrowser::completePending() {
    finish(pending_);
    pending_.clear();
    emit DocumentComplete();
}

void FakeWebBrowser::finish(const QString &url) {
    location_ = url;
    elementValues.clear();
    submitTargets.clear();
    if (url == QLatin1String("about:blank")) {
        body_.clear();
        status_ = 0;
    } else if (const auto page = pages.constFind(url); page != pages.constEnd()) {
        body_ = page->bodyText;
        status_ = page->status;
    } else {
        body_ = QStringLiteral("无法显示此页");
        status_ = 0;
    }
}

bool FakeWebBrowser::setElementValue(const QString &id, const QString &value) {
    if (!elementValues.contains(id)) {
        return false;
    }
    elementValues[id] = value;
    return true;
}

bool FakeWebBrowser::clickElement(const QString &id) {
    clicks.append(id);
    const auto target = submitTargets.constFind(id);
    if (target == submitTargets.constEnd()) {
        return false;
    }
    submittedValues = elementValues;
    Navigate2(*target);
    return true;
}

void FakeHttpRequest::Open(const QString &, const QString &url, bool async) {
    url_ = url;
    async_ = async;
    readyState_ = kOpened;
}

bool FakeHttpRequest::send() {
    log_.append(url_);
    if (!async_) {
        answer();
        return readyState_ == kDone;
    }
    delivery_([this, alive = alive_] {
        if (!*alive) {
            return;
        }
        answer();
        const std::function<void()> done = done_; // done may destroy the request
        if (done) {
            done();
        }
    });
    return true;
}

void FakeHttpRequest::answer() {
    if (const std::optional<FakePage> answer = responder_(url_)) {
        response_ = *answer;
        readyState_ = kDone;
    }
}

platform::BoxChoice FakeMessageBoxes::show(QWidget *, const QString &text,
                                           platform::BoxButtons buttons, platform::BoxIcon icon,
                                           const QString &title) {
    shown.append(ShownBox{text, title, buttons, icon});
    return buttons == platform::BoxButtons::Ok ? platform::BoxChoice::Ok : answer;
}

bool FakeUrlOpener::open(const QString &address) {
    attempted.append(address);
    const QUrl url = platform::WebAddress(address);
    if (!url.isValid()) {
        return false;
    }
    opened.append(url.toString(QUrl::FullyEncoded));
    return true;
}

FakePlatform::FakePlatform(platform::Endpoints endpoints) : endpoints_(std::move(endpoints)) {}

platform::Endpoints FakePlatform::testEndpoints() {
    return platform::Endpoints{QStringLiteral("http://directory.invalid"),
                               QStringLiteral("http://home.invalid/"),
                               QStringLiteral("http://board.invalid/maiz.asp"),
                               QStringLiteral("http://fallback.invalid/fallback.asx")};
}

std::unique_ptr<platform::MediaPlayer> FakePlatform::createMediaPlayer() {
    auto created = std::make_unique<FakeMediaPlayer>();
    player = created.get();
    return created;
}

std::unique_ptr<platform::WebBrowser> FakePlatform::createWebBrowser() {
    auto created = std::make_unique<FakeWebBrowser>();
    browsers.append(created.get());
    return created;
}

std::unique_ptr<platform::HttpRequest> FakePlatform::createHttpRequest() {
    return std::make_unique<FakeHttpRequest>(httpResponder, httpLog,
                                             [this](std::function<void()> answer) {
                                                 if (holdHttpAnswers) {
                                                     heldHttpAnswers_.append(std::move(answer));
                                                 } else {
                                                     QTimer::singleShot(0, std::move(answer));
                                                 }
                                             });
}

void FakePlatform::answerHeldHttpRequests() {
    const QList<std::function<void()>> answers = std::exchange(heldHttpAnswers_, {});
    for (const std::function<void()> &answer : answers) {
        answer();
    }
}

} // namespace testsupport
