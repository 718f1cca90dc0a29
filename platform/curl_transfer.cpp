// SPDX-License-Identifier: GPL-3.0-or-later

// The HTTP exchange over libcurl, built as a module of its own that the
// program loads at its first exchange (see Transfer).

#include "platform/http_transfer.h"

#include <QUrl>
#include <algorithm>
#include <chrono>
#include <curl/curl.h>
#include <memory>
#include <sys/socket.h>

namespace platform {

namespace {

// How long the transfer loop waits for network activity before it looks at the
// cancel flag again.
constexpr int kCancelCheckIntervalMs = 100;
// The same right after bytes came: each arrival looks at the flag anyway, and a
// live stream sends a piece every tenth of a second or so, which a wait of
// kCancelCheckIntervalMs would race, waking the loop twice per piece.
constexpr int kFlowingCancelCheckIntervalMs = 250;
// How soon a held transfer looks again whether it may read on.
constexpr int kHeldCheckIntervalMs = 10;
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
        : request_(request), easy_(easy), space_(request.from.value_or(AddressSpace::Loopback)) {}

    TransferResult &result() { return result_; }
    bool stoppedAfterHeaders() const { return stoppedAfterHeaders_; }

    // One header line of any response in the chain (redirects and 1xx included).
    // Shoutcast servers answer with an "ICY 200 OK" status line.
    bool onHeaderLine(const QByteArray &line) {
        if (line.startsWith("HTTP/") || line.startsWith("ICY ")) {
            result_.contentType.clear();
            result_.headers.clear();
            noteServerSpace();
        } else if (line.isEmpty()) {
            return onHeadersComplete();
        } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-type")
                result_.contentType = value;
            result_.headers.append({name, value});
        }
        return true;
    }

    // A piece of the final response's body (libcurl skips the bodies of the
    // redirects it follows).
    bool onBody(const char *data, std::size_t length) {
        if (!judge(responseCode()))
            return false;
        if (!request_.bodySink)
            return append(data, length);
        sinkStopped_ = !request_.bodySink(data, length);
        return !sinkStopped_;
    }

    // Asks the caller's continueAfterHeaders, once; true to go on.
    bool judge(int status) {
        if (judged_ || !request_.continueAfterHeaders)
            return true;
        judged_ = true;
        result_.status = status;
        char *effectiveUrl = nullptr;
        curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
        result_.effectiveUrl = QString::fromUtf8(effectiveUrl);
        stoppedAfterHeaders_ = !request_.continueAfterHeaders(result_);
        return !stoppedAfterHeaders_;
    }

    bool stoppedBySink() const { return sinkStopped_; }

    // Whether the transfer may connect to the address: none more private than
    // the server that answered last (or the one that named the URL).
    bool mayConnectTo(const sockaddr *address) const {
        return MayLeadTo(space_, SpaceOfAddress(address));
    }

    int responseCode() const {
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        return static_cast<int>(code);
    }

private:
    // A response begins: its server's space is where the next hop comes from.
    void noteServerSpace() {
        char *ip = nullptr;
        if (curl_easy_getinfo(easy_, CURLINFO_PRIMARY_IP, &ip) != CURLE_OK || !ip)
            return;
        if (const std::optional<AddressSpace> space = SpaceOfAddressText(ip)) {
            space_ = *space;
            result_.space = *space;
        }
    }

    // Interim (1xx) and redirect responses are not the final one: a 3xx that ends
    // the chain is judged at its first body byte or when the transfer ends.
    bool onHeadersComplete() {
        const int status = responseCode();
        if (status < 200 || (status >= 300 && status < 400))
            return true;
        return judge(status);
    }

    // Keeps at most maxBodyBytes, and never lets the buffer's capacity pass them.
    bool append(const char *data, std::size_t length) {
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

    const TransferRequest &request_;
    CURL *easy_;
    TransferResult result_;
    AddressSpace space_;
    bool judged_ = false;
    bool stoppedAfterHeaders_ = false;
    bool sinkStopped_ = false;
};

std::size_t HeaderCallback(char *data, std::size_t size, std::size_t count, void *user) {
    const std::size_t length = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(length)).trimmed();
    return static_cast<Exchange *>(user)->onHeaderLine(line) ? length : 0;
}

// Opens the socket of a connection, unless its address is in a space the
// transfer may not reach: then the connection fails as an unreachable one,
// before anything is sent.
curl_socket_t OpenSocketCallback(void *user, curlsocktype purpose, curl_sockaddr *address) {
    if (purpose == CURLSOCKTYPE_IPCXN &&
        !static_cast<Exchange *>(user)->mayConnectTo(&address->addr))
        return CURL_SOCKET_BAD;
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

std::size_t BodyCallback(char *data, std::size_t size, std::size_t count, void *user) {
    const std::size_t length = size * count;
    return static_cast<Exchange *>(user)->onBody(data, length) ? length : 0;
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
    for (const QByteArray &header : request.headers) {
        if (list)
            list = curl_slist_append(list, header.constData());
    }
    return HeaderList(list, &curl_slist_free_all);
}

void SetLimitsAndSafety(CURL *easy, const TransferLimits &limits) {
    // Shoutcast servers' status line, taken as the 200 it means.
    static curl_slist icyStatus{const_cast<char *>("ICY 200 OK"), nullptr};
    curl_easy_setopt(easy, CURLOPT_HTTP200ALIASES, &icyStatus);
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

void SetCallbacks(CURL *easy, Exchange &exchange) {
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HeaderCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &BodyCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &OpenSocketCallback);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &exchange);
}

// Whether the transfer loop should go on: not cancelled, not stopped by the
// pace hook, not silent past the stall limit. Holds and resumes reading as the
// pace hook asks.
class Turns {
public:
    Turns(CURL *easy, const TransferRequest &request, const std::atomic<bool> *cancel)
        : easy_(easy), request_(request), cancel_(cancel), lastDataAt_(now()) {}

    bool goOn() {
        if (cancel_ && cancel_->load())
            return false;
        if (request_.pace) {
            const TransferPace pace = request_.pace();
            if (pace == TransferPace::Stop)
                return false;
            hold(pace == TransferPace::Hold);
        }
        return true;
    }

    // Called when libcurl may have read something: counts data as activity.
    void noteProgress() {
        curl_off_t received = 0;
        curl_easy_getinfo(easy_, CURLINFO_SIZE_DOWNLOAD_T, &received);
        flowing_ = received != received_;
        if (flowing_ || held_) {
            received_ = received;
            lastDataAt_ = now();
        }
    }

    bool stalled() const {
        const long limit = request_.limits.stallTimeoutMs;
        return limit > 0 && !held_ && now() - lastDataAt_ > std::chrono::milliseconds(limit);
    }

    int waitMs() const {
        if (held_)
            return kHeldCheckIntervalMs;
        return flowing_ ? kFlowingCancelCheckIntervalMs : kCancelCheckIntervalMs;
    }

private:
    using Clock = std::chrono::steady_clock;
    static Clock::time_point now() { return Clock::now(); }

    void hold(bool held) {
        if (held == held_)
            return;
        held_ = held;
        lastDataAt_ = now();
        curl_easy_pause(easy_, held ? CURLPAUSE_RECV : CURLPAUSE_CONT);
    }

    CURL *easy_;
    const TransferRequest &request_;
    const std::atomic<bool> *cancel_;
    Clock::time_point lastDataAt_;
    curl_off_t received_ = 0;
    bool held_ = false;
    bool flowing_ = false; // bytes came in the last turn
};

// Runs the transfer on a multi handle of its own (its session's) so that a
// cancel is noticed within kCancelCheckIntervalMs even while the connection is
// silent. The multi handle keeps the connection for the session's next exchange.
CURLcode Perform(CURL *easy, CURLM *multi, const TransferRequest &request,
                 const std::atomic<bool> *cancel) {
    if (!multi || curl_multi_add_handle(multi, easy) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    Turns turns(easy, request, cancel);
    int running = 1;
    bool stalled = false;
    while (running > 0 && turns.goOn()) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        turns.noteProgress();
        if (turns.stalled()) {
            stalled = true;
            break;
        }
        if (running > 0)
            curl_multi_poll(multi, nullptr, 0, turns.waitMs(), nullptr);
    }
    CURLcode code = stalled ? CURLE_OPERATION_TIMEDOUT : CURLE_ABORTED_BY_CALLBACK;
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE)
            code = message->data.result;
    }
    curl_multi_remove_handle(multi, easy);
    return code;
}

void Finish(CURL *easy, CURLcode code, Exchange &exchange) {
    TransferResult &result = exchange.result();
    const bool stoppedOnPurpose =
        result.bodyTruncated || exchange.stoppedAfterHeaders() || exchange.stoppedBySink();
    result.responded = code == CURLE_OK || (code == CURLE_WRITE_ERROR && stoppedOnPurpose);
    if (!result.responded) {
        result = TransferResult{};
        return;
    }
    result.status = exchange.responseCode();
    char *effectiveUrl = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    result.effectiveUrl = QString::fromUtf8(effectiveUrl);
    // A response without a body has not been judged yet; its body is empty either way.
    exchange.judge(result.status);
}

// The handles of an exchange, kept by a TransferSession between exchanges.
struct Handles {
    EasyHandle easy{curl_easy_init(), &curl_easy_cleanup};
    MultiHandle multi{curl_multi_init(), &curl_multi_cleanup};
};

// The session's handles, made at its first exchange, reset for this one; new
// ones without a session.
std::shared_ptr<Handles> HandlesFor(const TransferRequest &request) {
    if (request.session && request.session->handles) {
        auto handles = std::static_pointer_cast<Handles>(request.session->handles);
        curl_easy_reset(handles->easy.get());
        return handles;
    }
    auto handles = std::make_shared<Handles>();
    if (request.session)
        request.session->handles = handles;
    return handles;
}

TransferResult CurlTransfer(const TransferRequest &request, const std::atomic<bool> *cancel) {
    InitialiseCurlOnce();
    const std::shared_ptr<Handles> handles = HandlesFor(request);
    CURL *easy = handles->easy.get();
    HeaderList headers = RequestHeaders(request);
    Exchange exchange(request, easy);
    if (!easy || !headers || !SetMethod(easy, request)) {
        return exchange.result();
    }
    SetLimitsAndSafety(easy, request.limits);
    SetRequest(easy, request, headers.get());
    SetCallbacks(easy, exchange);
    Finish(easy, Perform(easy, handles->multi.get(), request, cancel), exchange);
    return exchange.result();
}

} // namespace

} // namespace platform

platform::TransferFunction quorvel_http_transfer() {
    return &platform::CurlTransfer;
}
