#pragma once

#include <QString>

namespace platform {

// A synchronous HTTP text request, one per exchange. send() blocks the calling
// thread, but never longer than the request time-outs.
class HttpRequest {
public:
    virtual ~HttpRequest() = default;

    // Only synchronous requests exist; async is accepted for the familiar call shape.
    virtual void Open(const QString &method, const QString &url, bool async = false) = 0;
    // True when an HTTP response (of any status) arrived, false when none did
    // (refused, unreachable, timed out, not an http/https URL, not opened).
    virtual bool send() = 0;
    // 4 once a complete response arrived, otherwise below 4.
    virtual int ReadyState() const = 0;
    // The decoded body; empty unless ReadyState() is 4.
    virtual QString responseText() const = 0;
    // The HTTP status of the response, 0 when none arrived.
    virtual int status() const = 0;
};

} // namespace platform
