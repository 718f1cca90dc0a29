#include "platform/curl_http_request.h"

#include "platform/text_decoding.h"

namespace platform {

namespace {

// The ready states a request passes through after unsent (0).
constexpr int kOpened = 1;
constexpr int kDone = 4;

} // namespace

CurlHttpRequest::CurlHttpRequest(TransferLimits limits) : limits_(limits) {}

void CurlHttpRequest::Open(const QString &method, const QString &url, bool /*async*/) {
    method_ = method.trimmed().toUpper().toLatin1();
    url_ = url;
    readyState_ = kOpened;
    status_ = 0;
    responseText_.clear();
}

bool CurlHttpRequest::send() {
    if (readyState_ != kOpened)
        return false;
    TransferRequest request;
    request.method = method_;
    request.url = url_;
    request.limits = limits_;
    const TransferResult result = Transfer(request);
    if (!result.responded || result.bodyTruncated)
        return false;
    status_ = result.status;
    responseText_ = DecodeText(result.body, CharsetOfContentType(result.contentType));
    readyState_ = kDone;
    return true;
}

} // namespace platform
