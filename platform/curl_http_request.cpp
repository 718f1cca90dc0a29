#include "platform/curl_http_request.h"

#include "platform/text_decoding.h"

#include <memory>

namespace platform {

CurlHttpRequest::CurlHttpRequest(TransferLimits limits) : limits_(limits) {}

CurlHttpRequest::~CurlHttpRequest() {
    Stop();
}

void CurlHttpRequest::Stop() {
    exchange_.reset();
}

void CurlHttpRequest::Open(const QString &method, const QString &url, bool async) {
    Stop();
    method_ = method.trimmed().toUpper().toLatin1();
    url_ = url;
    async_ = async;
    readyState_ = kOpened;
    status_ = 0;
    responseText_.clear();
}

TransferRequest CurlHttpRequest::Request() const {
    TransferRequest request;
    request.method = method_;
    request.url = url_;
    request.limits = limits_;
    return request;
}

CurlHttpRequest::Outcome CurlHttpRequest::Run(const TransferRequest &request,
                                              const std::atomic<bool> *cancel) {
    const TransferResult result = Transfer(request, cancel);
    if (!result.responded || result.bodyTruncated)
        return {};
    return {true, result.status, DecodeText(result.body, CharsetOfContentType(result.contentType))};
}

void CurlHttpRequest::Take(Outcome outcome) {
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
        Take(Run(Request(), nullptr));
        return readyState_ == kDone;
    }
    auto outcome = std::make_shared<Outcome>();
    exchange_ = std::make_unique<BackgroundTask>(
        [outcome, request = Request()](const BackgroundTask &task) {
            *outcome = Run(request, &task.CancelFlag());
        },
        [this, outcome] {
            exchange_.reset();
            Take(std::move(*outcome));
            // A copy, since done may destroy the request and with it done_.
            const std::function<void()> done = done_;
            if (done)
                done();
        });
    return true;
}

} // namespace platform
