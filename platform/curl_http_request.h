// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/background_task.h"
#include "platform/http_request.h"
#include "platform/http_transfer.h"

#include <QByteArray>
#include <memory>

namespace platform {

// The HTTP request over libcurl. Bodies longer than the limit's cap are refused
// whole rather than handed on cut. An asynchronous exchange runs on a thread of
// its own.
class CurlHttpRequest final : public HttpRequest {
public:
    // The limits are the program's (5 s to connect, 15 s in all, 4 MiB, 5
    // redirects); tests pass shorter ones.
    explicit CurlHttpRequest(TransferLimits limits = {});
    // Stops an outstanding exchange and waits for its thread, which ends
    // within a fraction of a second.
    ~CurlHttpRequest() override;

    void Open(const QString &method, const QString &url, bool async = false) override;
    bool send() override;
    void onDone(std::function<void()> done) override { done_ = std::move(done); }
    int ReadyState() const override { return readyState_; }
    QString responseText() const override { return responseText_; }
    int status() const override { return status_; }

private:
    // The outcome of an exchange: the status and text of a complete response.
    struct Outcome {
        bool responded = false;
        int status = 0;
        QString text;
    };
    static Outcome run(const TransferRequest &request, const std::atomic<bool> *cancel);
    // Ends an outstanding exchange without its outcome.
    void stop();
    TransferRequest transferRequest() const;
    void take(Outcome outcome);

    TransferLimits limits_;
    QByteArray method_;
    QString url_;
    bool async_ = false;
    int readyState_ = 0;
    int status_ = 0;
    QString responseText_;
    std::function<void()> done_;
    std::unique_ptr<BackgroundTask> exchange_; // while an asynchronous exchange is outstanding
};

} // namespace platform
