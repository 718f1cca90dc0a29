#include "platform/http_transfer.h"

#include <QUrl>
#include <algorithm>
#include <chrono>
#include <curl/curl.h>
#include <memory>

namespace platform {

namespace {

// How long the transfer loop waits for network activity before it looks at the
// cancel flag again.
constexpr int kCancelCheckIntervalMs = 100;
constexpr char kUserAgent[] = "Mozilla/5.0 (X11; Linux x86_64)";

void InitialiseCurlOnce() {
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    static_cast<void>(initialised);
}

using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using MultiHandle = std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// The state the libcurl callbacks of one transfer share.
class Exchange {
public:
    Exchange(const TransferRequest &request, CURL *easy)
        : request_(request), easy_(easy), lastActivity_(Clock::now()) {}

    TransferResult &result() { return result_; }
    bool stoppedAfterHeaders() const { return stoppedAfterHeaders_; }

    // One header line of any response in the chain (redirects and 1xx included).
    bool OnHeaderLine(const QByteArray &line) {
        lastActivity_ = Clock::now();
        if (line.startsWith("HTTP/")) {
            result_.contentType.clear();
        } else if (line.isEmpty()) {
            return OnHeadersComplete();
        } else if (line.left(13).toLower() == "content-type:") {
            result_.contentType = line.mid(13).trimmed();
        }
        return true;
    }

    // A piece of the final response's body (libcurl skips the bodies of the
    // redirects it follows).
    bool OnBody(const char *data, std::size_t length) {
        lastActivity_ = Clock::now();
        return Judge(ResponseCode()) && Append(data, length);
    }

    // Called now and then while the transfer runs, with the bytes sent so far;
    // false once no byte has moved for longer than the stall limit.
    bool OnProgress(curl_off_t uploaded) {
        if (uploaded != uploaded_) {
            uploaded_ = uploaded;
            lastActivity_ = Clock::now();
        }
        const long stallMs = request_.limits.stallTimeoutMs;
        return stallMs <= 0 || Clock::now() - lastActivity_ < std::chrono::milliseconds(stallMs);
    }

    // Asks the caller's continueAfterHeaders, once; true to go on.
    bool Judge(int status) {
        if (judged_ || !request_.continueAfterHeaders)
            return true;
        judged_ = true;
        stoppedAfterHeaders_ = !request_.continueAfterHeaders(status, result_.contentType);
        return !stoppedAfterHeaders_;
    }

    int ResponseCode() const {
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        return static_cast<int>(code);
    }

private:
    // Interim (1xx) and redirect responses are not the final one: a 3xx that ends
    // the chain is judged at its first body byte or when the transfer ends.
    bool OnHeadersComplete() {
        const int status = ResponseCode();
        if (status < 200 || (status >= 300 && status < 400))
            return true;
        return Judge(status);
    }

    // Keeps at most maxBodyBytes, and never lets the buffer's capacity pass them.
    bool Append(const char *data, std::size_t length) {
        QByteArray &body = result_.body;
        const std::size_t cap = request_.limits.maxBodyBytes;
        const std::size_t held = static_cast<std::size_t>(body.size());
        const std::size_t taken = std::min(length, cap - std::min(cap, held));
        if (held + taken > static_cast<std::size_t>(body.capacity()))
            body.reserve(static_cast<qsizetype>(std::min(cap, std::max(2 * held, held + taken))));
        body.append(data, static_cast<qsizetype>(taken));
        if (taken == length)
            return true;
        result_.bodyTruncated = true;
        return false;
    }

    using Clock = std::chrono::steady_clock;

    const TransferRequest &request_;
    CURL *easy_;
    Clock::time_point lastActivity_; // when the last byte came or went
    curl_off_t uploaded_ = 0;
    TransferResult result_;
    bool judged_ = false;
    bool stoppedAfterHeaders_ = false;
};

std::size_t HeaderCallback(char *data, std::size_t size, std::size_t count, void *user) {
    const std::size_t length = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(length)).trimmed();
    return static_cast<Exchange *>(user)->OnHeaderLine(line) ? length : 0;
}

std::size_t BodyCallback(char *data, std::size_t size, std::size_t count, void *user) {
    const std::size_t length = size * count;
    return static_cast<Exchange *>(user)->OnBody(data, length) ? length : 0;
}

int ProgressCallback(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    return static_cast<Exchange *>(user)->OnProgress(uploaded) ? 0 : 1;
}

// Sets the method and body; false for a method the program never sends.
bool SetMethod(CURL *easy, const TransferRequest &request) {
    if (request.method == "GET")
        return true;
    if (request.method == "POST") {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.constData());
        return true;
    }
    return false;
}

HeaderList RequestHeaders(const TransferRequest &request) {
    // No "Expect: 100-continue" round trip before a larger POST body.
    curl_slist *list = curl_slist_append(nullptr, "Expect:");
    if (list && !request.contentType.isEmpty())
        list = curl_slist_append(list, ("Content-Type: " + request.contentType).constData());
    return HeaderList(list, &curl_slist_free_all);
}

void SetLimitsAndSafety(CURL *easy, const TransferLimits &limits) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
}

void SetRequest(CURL *easy, const TransferRequest &request, curl_slist *headers) {
    curl_easy_setopt(easy, CURLOPT_URL, QUrl(request.url).toEncoded().constData());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    if (!request.referer.isEmpty())
        curl_easy_setopt(easy, CURLOPT_REFERER, request.referer.toUtf8().constData());
}

void SetCallbacks(CURL *easy, Exchange &exchange, char *errorBuffer) {
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HeaderCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &BodyCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &ProgressCallback);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
}

// Runs the transfer on a private multi handle so that a cancel is noticed within
// kCancelCheckIntervalMs even while the connection is silent.
CURLcode Perform(CURL *easy, const std::atomic<bool> *cancel) {
    MultiHandle multi(curl_multi_init(), &curl_multi_cleanup);
    if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    int running = 1;
    while (running > 0 && !(cancel && cancel->load())) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            break;
        if (running > 0)
            curl_multi_poll(multi.get(), nullptr, 0, kCancelCheckIntervalMs, nullptr);
    }
    CURLcode code = CURLE_ABORTED_BY_CALLBACK;
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE)
            code = message->data.result;
    }
    curl_multi_remove_handle(multi.get(), easy);
    return code;
}

void Finish(CURL *easy, CURLcode code, Exchange &exchange, const char *errorBuffer) {
    TransferResult &result = exchange.result();
    const bool stoppedOnPurpose = result.bodyTruncated || exchange.stoppedAfterHeaders();
    result.responded = code == CURLE_OK || (code == CURLE_WRITE_ERROR && stoppedOnPurpose);
    if (!result.responded) {
        result = TransferResult{};
        result.error = QString::fromUtf8(*errorBuffer ? errorBuffer : curl_easy_strerror(code));
        return;
    }
    result.status = exchange.ResponseCode();
    char *effectiveUrl = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    result.effectiveUrl = QString::fromUtf8(effectiveUrl);
    // A response without a body has not been judged yet; its body is empty either way.
    exchange.Judge(result.status);
}

} // namespace

bool IsHttpUrl(const QString &url) {
    const QUrl parsed(url);
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && (scheme == u"http" || scheme == u"https") &&
           !parsed.host().isEmpty();
}

TransferResult Transfer(const TransferRequest &request, const std::atomic<bool> *cancel) {
    if (!IsHttpUrl(request.url)) {
        TransferResult refused;
        refused.error = QStringLiteral("not an http or https address: ") + request.url;
        return refused;
    }
    InitialiseCurlOnce();
    char errorBuffer[CURL_ERROR_SIZE] = {}; // outlives the handle that writes to it
    EasyHandle easy(curl_easy_init(), &curl_easy_cleanup);
    HeaderList headers = RequestHeaders(request);
    Exchange exchange(request, easy.get());
    if (!easy || !headers || !SetMethod(easy.get(), request)) {
        exchange.result().error =
            QStringLiteral("cannot send a %1 request").arg(QString::fromLatin1(request.method));
        return exchange.result();
    }
    SetLimitsAndSafety(easy.get(), request.limits);
    SetRequest(easy.get(), request, headers.get());
    SetCallbacks(easy.get(), exchange, errorBuffer);
    Finish(easy.get(), Perform(easy.get(), cancel), exchange, errorBuffer);
    return exchange.result();
}

} // namespace platform
