#include "platform/curl_http_request.h"

#include "platform/text_decoding.h"

#include <QCoreApplication>

namespace platform {

namespace {

// The ready states a request passes through after unsent (0).
constexpr int kOpened = 1;
constexpr int kDone = 4;

} // namespace

struct CurlHttpRequest::Exchange {
    std::atomic<bool> cancel{false};
    // Read and cleared on the UI thread only: null once the request is gone.
    CurlHttpRequest *request = nullptr;
};

CurlHttpRequest::CurlHttpRequest(TransferLimits limits) : limits_(limits) {}

CurlHttpRequest::~CurlHttpRequest() {
    Stop();
}

void CurlHttpRequest::Stop() {
    if (exchange_) {
        exchange_->cancel = true;
        exchange_->request = nullptr;
        exchange_.reset();
    }
    if (thread_.joinable())
        thread_.join();
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
    auto exchange = std::make_shared<Exchange>();
    exchange->request = this;
    exchange_ = exchange;
    thread_ = std::thread([exchange, request = Request()] {
        Outcome outcome = Run(request, &exchange->cancel);
        // The thread's last act: the UI thread joins it when the call arrives.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [exchange, outcome = std::move(outcome)]() mutable {
                CurlHttpRequest *owner = exchange->request;
                if (!owner)
                    return;
                owner->thread_.join();
                owner->exchange_.reset();
                owner->Take(std::move(outcome));
                // A copy, since done may destroy the request and with it done_.
                const std::function<void()> done = owner->done_;
                if (done)
                    done();
            },
            Qt::QueuedConnection);
    });
    return true;
}

} // namespace platform
