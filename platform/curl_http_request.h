#pragma once

#include "platform/http_request.h"
#include "platform/http_transfer.h"

#include <QByteArray>

namespace platform {

// The HTTP request over libcurl. Bodies longer than the limit's cap are refused
// whole rather than handed on cut.
class CurlHttpRequest final : public HttpRequest {
public:
    // The limits are the program's (5 s to connect, 15 s in all, 4 MiB, 5
    // redirects); tests pass shorter ones.
    explicit CurlHttpRequest(TransferLimits limits = {});

    void Open(const QString &method, const QString &url, bool async = false) override;
    bool send() override;
    int ReadyState() const override { return readyState_; }
    QString responseText() const override { return responseText_; }
    int status() const override { return status_; }

private:
    TransferLimits limits_;
    QByteArray method_;
    QString url_;
    int readyState_ = 0;
    int status_ = 0;
    QString responseText_;
};

} // namespace platform
