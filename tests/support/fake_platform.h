// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Recording fakes of every platform service, for tests of the windows' own
// logic. Each fake does what a test scripts and remembers what it was asked.

#include "platform/platform.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace testsupport {

class FakeMediaPlayer final : public platform::MediaPlayer {
public:
    void setURL(const QString &url) override;
    int playState() const override { return state; }
    void stop() override;
    void play() override;
    void setVolume(int volume) override;
    int volume() const override { return volume_; }
    QString nowPlayingTitle() const override { return title; }

    int state = platform::PlayState::Undefined; // tests set what the player reports
    QString title;                              // and the title it announces
    QStringList urlsSet;                        // every URL assigned, in order
    QList<int> volumesSet;
    int stopCalls = 0;
    int playCalls = 0;

private:
    int volume_ = 50;
};

// A page the fake browser delivers for a URL.
struct FakePage {
    QString bodyText;
    int status = 200;
};

class FakeWebBrowser final : public platform::WebBrowser {
    Q_OBJECT
public:
    // Starts a load: it completes on the next event-loop turn with the page
    // scripted for the URL (or a failed load when there is none), unless
    // holdLoads is set, in which case completePending() finishes it. Like the
    // real browser, it holds "about:blank" at once.
    void Navigate2(const QString &url) override;
    QString LocationURL() const override { return location_; }
    QByteArray BodyTextUtf8() const override { return body_.toUtf8(); }
    int httpStatus() const override { return status_; }
    bool setElementValue(const QString &id, const QString &value) override;
    bool clickElement(const QString &id) override;

    // Finishes the newest held load now and emits DocumentComplete.
    void completePending();

    QMap<QString, FakePage> pages; // by URL; "about:blank" needs no entry
    bool holdLoads = false;
    QStringList navigations; // every URL navigated to, in order

    // Form elements of the page now held: id -> value; a submit's id maps to
    // the page that its click loads.
    QMap<QString, QString> elementValues;
    QMap<QString, QString> submitTargets;
    QStringList clicks;
    QMap<QString, QString> submittedValues; // the element values at the last submission

private:
    void finish(const QString &url);

    QString pending_;
    QString location_;
    QString body_;
    int status_ = 0;
};

// One scripted answer of the fake HTTP request. An empty optional means no
// response arrived (send fails).
using FakeHttpResponder = std::function<std::optional<FakePage>(const QString &url)>;

// Hands the end of an asynchronous exchange to the event loop or to a test.
using FakeHttpDelivery = std::function<void(std::function<void()> answer)>;

class FakeHttpRequest final : public platform::HttpRequest {
public:
    FakeHttpRequest(FakeHttpResponder responder, QStringList &log, FakeHttpDelivery delivery)
        : responder_(std::move(responder)), log_(log), delivery_(std::move(delivery)) {}
    ~FakeHttpRequest() override { *alive_ = false; }
    void Open(const QString &method, const QString &url, bool async) override;
    // Logs the URL as the request leaves; an asynchronous one is answered
    // when the delivery says.
    bool send() override;
    void onDone(std::function<void()> done) override { done_ = std::move(done); }
    int ReadyState() const override { return readyState_; }
    QString responseText() const override { return readyState_ == kDone ? response_.bodyText : ""; }
    int status() const override { return readyState_ == kDone ? response_.status : 0; }

private:
    void answer();

    FakeHttpResponder responder_;
    QStringList &log_;
    FakeHttpDelivery delivery_;
    QString url_;
    bool async_ = false;
    int readyState_ = 0;
    FakePage response_;
    std::function<void()> done_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

struct ShownBox {
    QString text;
    QString title;
    platform::BoxButtons buttons;
    platform::BoxIcon icon;
};

class FakeMessageBoxes final : public platform::MessageBoxes {
public:
    platform::BoxChoice show(QWidget *parent, const QString &text, platform::BoxButtons buttons,
                             platform::BoxIcon icon, const QString &title) override;
    QList<ShownBox> shown;
    platform::BoxChoice answer = platform::BoxChoice::Ok;
};

// Opens what the real opener would open (http and https addresses only) and
// records both the attempts and the addresses opened.
class FakeUrlOpener final : public platform::UrlOpener {
public:
    bool open(const QString &address) override;
    QStringList attempted;
    QStringList opened;
};

class FakePlatform final : public platform::Platform {
public:
    explicit FakePlatform(platform::Endpoints endpoints = testEndpoints());

    std::unique_ptr<platform::MediaPlayer> createMediaPlayer() override;
    std::unique_ptr<platform::WebBrowser> createWebBrowser() override;
    std::unique_ptr<platform::HttpRequest> createHttpRequest() override;
    platform::MessageBoxes &messageBoxes() override { return boxes; }
    platform::UrlOpener &urlOpener() override { return opener; }
    const platform::Endpoints &endpoints() const override { return endpoints_; }

    // Endpoints on hosts that exist nowhere, for tests that must not reach a network.
    static platform::Endpoints testEndpoints();

    // The newest player and browsers created (owned by the windows).
    FakeMediaPlayer *player = nullptr;
    QList<QPointer<FakeWebBrowser>> browsers;
    // Answers of every HTTP request created from now on; by default none arrives.
    FakeHttpResponder httpResponder = [](const QString &) { return std::nullopt; };
    QStringList httpLog; // URLs sent, in order
    // Asynchronous requests are answered on the next event-loop turn, or, while
    // this is set, only by answerHeldHttpRequests().
    bool holdHttpAnswers = false;
    void answerHeldHttpRequests();

    FakeMessageBoxes boxes;
    FakeUrlOpener opener;

private:
    platform::Endpoints endpoints_;
    QList<std::function<void()>> heldHttpAnswers_;
};

} // namespace testsupport
