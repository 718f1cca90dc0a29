#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>

namespace platform {

// Limits every exchange obeys, so that no server can hold or flood the program.
// A time limit of 0 is no limit.
struct TransferLimits {
    long connectTimeoutMs = 5000;
    long totalTimeoutMs = 15000;
    // Ends a transfer that received no byte for this long.
    long stallTimeoutMs = 0;
    std::size_t maxBodyBytes = 4 * 1024 * 1024;
    long maxRedirects = 5;
};

struct TransferRequest {
    QByteArray method = "GET";
    QString url;
    QByteArray body;        // sent for POST
    QByteArray contentType; // of the body
    QString referer;
    TransferLimits limits;
    // When set, called once the final response's headers are in (after
    // redirects). Returning false ends the transfer there: the result then
    // counts as responded, with an empty body. Lets a caller look at a
    // stream's type without downloading it.
    std::function<bool(int status, const QByteArray &contentType)> continueAfterHeaders;
};

struct TransferResult {
    bool responded = false; // an HTTP response (any status) arrived complete
    int status = 0;
    QString effectiveUrl;    // after redirects
    QByteArray contentType;  // Content-Type header of the final response
    // At most limits.maxBodyBytes. A longer body is cut there and the transfer
    // stopped; the result still counts as responded, with bodyTruncated set, and
    // each caller decides whether a cut body is acceptable.
    QByteArray body;
    bool bodyTruncated = false;
    QString error;           // why no response arrived
};

// True for the schemes the program fetches: http and https.
bool IsHttpUrl(const QString &url);

// One blocking HTTP exchange through libcurl: http and https only, TLS
// verified, bounded by the limits. Safe to call from any thread. When cancel is
// given and becomes true the transfer stops within a fraction of a second.
TransferResult Transfer(const TransferRequest &request,
                        const std::atomic<bool> *cancel = nullptr);

} // namespace platform
