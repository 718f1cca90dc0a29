// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl_http_request.h"

#include "platform/text_decoding.h"

#include <memory>

namespace platform {

CurlHttpRequest::CurlHttpRequest(TransferLimits limits) : limits_(limits) {}

CurlHttpRequest::~CurlHttpRequest() {
    stop();
}

void CurlHttpRequest::stop() {
    exchange_.reset();
}

void CurlHttpRequest::Open(const QString &method, const QString &url, bool async) {
    stop();
    method_ = method.trimmed().toUpper().toLatin1();
    url_ = url;
    async_ = async;
    readyState_ = kOpened;
    status_ = 0;
    responseText_.clear();
}

TransferRequest CurlHttpRequest::transferRequest() const {
    TransferRequest request;
    request.method = method_;
    request.url = url_;
    request.limits = limits_;
    return request;
}

CurlHttpRequest::Outcome CurlHttpRequest::run(const TransferRequest &request,
                                              const std::atomic<bool> *cancel) {
    const TransferResult result = Transfer(request, cancel);
    if (!result.responded || result.bodyTruncated)
        return {};
    return {true, result.status, DecodeText(result.body, CharsetOfContentType(result.contentType))};
}

void CurlHttpRequest::take(Outcome outcome) {
    if (!outcome.responded)
        return;
    status_ = outcome.status;
    responseText_ = std::move(outcome.text);
    readyState_ = kDone;
}

bool CurlHttpRequest::send() {
    if (readyState_ != kOpened || exchange_)
        return false;
    if (!async_) {
        take(run(transferRequest(), nullptr));
        return readyState_ == kDone;
    }
    auto outcome = std::make_shared<Outcome>();
    exchange_ = std::make_unique<BackgroundTask>(
        [outcome, request = transferRequest()](const BackgroundTask &task) {
            *outcome = run(request, &task.cancelFlag());
        },
        [this, outcome] {
            exchange_.reset();
            take(std::move(*outcome));
            // A copy, since done may destroy the request and with it done_.
            const std::function<void()> done = done_;
            if (done)
                done();
        });
    return true;
}

} // namespace platform
