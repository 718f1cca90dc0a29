// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

namespace platform {

// True for a status that reports success (2xx).
inline bool IsSuccess(int status) {
    return status >= 200 && status < 300;
}

// An HTTP text request, one per exchange. A synchronous send() blocks the
// calling thread, but never longer than the request time-outs; an asynchronous
// one returns at once and tells the UI thread when the exchange has ended.
class HttpRequest {
public:
    // The ready states a request passes through after unsent (0).
    static constexpr int kOpened = 1;
    static constexpr int kDone = 4; // a complete response has arrived

    virtual ~HttpRequest() = default;

    // With async true, send() only starts the exchange.
    virtual void Open(const QString &method, const QString &url, bool async = false) = 0;
    // Synchronous: true when an HTTP response (of any status) arrived, false
    // when none did (refused, unreachable, timed out, not an http/https URL,
    // not opened). Asynchronous: true when the exchange started (false when
    // not opened); its outcome comes through the function set by onDone.
    virtual bool send() = 0;
    // For asynchronous requests sent from the UI thread: done is called there
    // once the exchange has ended, with or without a response (ReadyState()
    // tells which). The request may be destroyed inside done; destroying it
    // earlier stops the exchange, and done is then never called.
    virtual void onDone(std::function<void()> done) = 0;
    // kDone once a complete response arrived, otherwise below it.
    virtual int ReadyState() const = 0;
    // The decoded body; empty unless ReadyState() is kDone.
    virtual QString responseText() const = 0;
    // The HTTP status of the response, 0 when none arrived.
    virtual int status() const = 0;
};

} // namespace platform
