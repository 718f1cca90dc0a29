// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/address_space.h"
#include "platform/url_checks.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace platform {

// Limits every exchange obeys, so that no server can hold or flood the program.
// A time limit of 0 is no limit.
struct TransferLimits {
    long connectTimeoutMs = 5000;
    long totalTimeoutMs = 15000;
    std::size_t maxBodyBytes = 4 * 1024 * 1024;
    long maxRedirects = 5;
    // Above zero: a transfer that receives nothing for this long fails, time
    // spent holding (see TransferRequest::pace) not counted. Zero: no limit.
    long stallTimeoutMs = 0;
};

// What the pace hook asks of a running transfer.
enum class TransferPace {
    Go,   // read on
    Hold, // read nothing for now (the caller's buffer is full)
    Stop, // end the transfer now, as a cancel does
};

struct TransferResult;

// Keeps one libcurl handle, and the connection it holds open, from one
// exchange to the next (keep-alive), for a worker that makes many exchanges
// with the same server in a row. Used by one thread at a time.
struct TransferSession {
    std::shared_ptr<void> handles; // the HTTP module's own, made at the first exchange
};

struct TransferRequest {
    QByteArray method = "GET";
    QString url;
    QByteArray body;        // sent for POST
    QByteArray contentType; // of the body
    QString referer;
    QList<QByteArray> headers; // further request header lines ("Name: value")
    TransferLimits limits;
    // The space of the server whose answer named this URL (a playlist's, for
    // its entries): the transfer connects to no address more private than
    // that, nor, along its redirects, more private than the server that
    // redirected. Unset for a URL of the user's or the program's own.
    std::optional<AddressSpace> from;
    // When set, called once the final response's headers are in (after
    // redirects), with the result so far (status, type, headers, address).
    // Returning false ends the transfer there: the result then counts as
    // responded, with an empty body. Lets a caller look at a stream's type
    // without downloading it.
    std::function<bool(const TransferResult &head)> continueAfterHeaders;
    // When set, the final response's body goes here piece by piece instead of
    // into the result, and maxBodyBytes does not apply. Returning false ends
    // the transfer, which still counts as responded.
    std::function<bool(const char *data, std::size_t length)> bodySink;
    // When set, asked at every turn of the transfer loop (at least ten times a
    // second) whether to read on, hold or stop.
    std::function<TransferPace()> pace;
    // When set, the exchange goes over the session's handle and connection.
    TransferSession *session = nullptr;
};

struct TransferResult {
    bool responded = false; // an HTTP response (any status) arrived complete
    int status = 0;
    QString effectiveUrl;   // after redirects
    QByteArray contentType; // Content-Type header of the final response
    // Every header of the final response, names in lower case, in order.
    QList<std::pair<QByteArray, QByteArray>> headers;
    // At most limits.maxBodyBytes. A longer body is cut there and the transfer
    // stopped; the result still counts as responded, with bodyTruncated set, and
    // each caller decides whether a cut body is acceptable.
    QByteArray body;
    bool bodyTruncated = false;
    // Where the server of the final response is (see TransferRequest::from).
    AddressSpace space = AddressSpace::Public;

    // The value of the first header of that name (lower case), or empty.
    QByteArray header(QByteArrayView name) const;
};

// One blocking HTTP exchange through libcurl: http and https only, TLS
// verified, bounded by the limits. Safe to call from any thread. When cancel is
// given and becomes true the transfer stops within a fraction of a second.
// libcurl and the libraries it brings (TLS, Kerberos, LDAP, SSH, ...) live in
// a module of their own, loaded at the first exchange, on the thread that
// makes it: the window shows without waiting for them. Without the module
// every exchange fails as one that got no response.
TransferResult Transfer(const TransferRequest &request, const std::atomic<bool> *cancel = nullptr);

// Makes exchanges wait until the program's first window is on screen (see
// WhenWindowsShown), a second at most, before the module is loaded, so that
// the window's start does not share the processor with that; an exchange
// cancelled while it waits ends at once. For the program's main(), before the
// window is made; elsewhere the first exchange loads the module at once.
void LoadHttpModuleAfterWindowsShow();

using TransferFunction = TransferResult (*)(const TransferRequest &request,
                                            const std::atomic<bool> *cancel);

} // namespace platform

// The module's file name, and its one entry: its exchange.
inline constexpr char kHttpModuleFile[] = "quorvel-radio-http.so";
extern "C" Q_DECL_EXPORT platform::TransferFunction quorvel_http_transfer();
