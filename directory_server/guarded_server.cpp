#include "guarded_server.h"

#include "text_rules.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace directory {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxRequestsPerConnection = 100;
// A refused client may still be sending. What it sends is read and dropped for
// a while, so that it sees the answer instead of a reset connection.
constexpr std::size_t kDrainBytes = 8 * 1024 * 1024;
constexpr std::chrono::milliseconds kDrainTime{2000};
constexpr int kWriteTimeoutMs = 5000;
constexpr std::size_t kChunkLineMax = 1024;
constexpr std::chrono::milliseconds kSweepInterval{100};
// Connections younger than this are not closed to make room: a burst of
// clients connecting at once need a moment to send their requests.
constexpr std::chrono::milliseconds kGrace{1000};
constexpr std::size_t kReadSize = 16 * 1024;
// How long a worker that has answered waits for the connection's next request
// before giving the connection back to the gate: a client keeping its
// connection alive usually asks again at once, and taking that request here
// saves two hand-overs between threads.
constexpr int kNextRequestWaitMs = 2;

const char *Reason(int status) {
    switch (status) {
    case 408:
        return "Request Timeout";
    case 413:
        return "Payload Too Large";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Bad Request";
    }
}

// "address" and port of a socket address, numerically.
std::pair<std::string, int> NumericAddress(const sockaddr_storage &address, socklen_t length) {
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "0";
    getnameinfo(reinterpret_cast<const sockaddr *>(&address), length, host, sizeof host, service,
                sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
    return {host, std::atoi(service)};
}

// What the head of a request says about its body.
struct Framing {
    int refusal = 0; // a status to refuse the request with, or 0
    bool chunked = false;
    std::size_t length = 0; // of a body with a declared length
    std::size_t limit = 0;  // the route's limit
    // Where the "Expect: 100-continue" line is, to answer it here.
    std::size_t expectAt = std::string_view::npos;
    std::size_t expectLength = 0;
};

// Reads the body framing from a complete head (ending in an empty line). A
// body with both a length and a coding, or any coding but chunked, cannot be
// delimited safely and is refused.
Framing FrameOf(std::string_view head, const GuardedServer::BodyLimit &bodyLimit) {
    Framing framing;
    const std::size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t space = requestLine.find(' ');
    const std::string_view method = requestLine.substr(0, space);
    std::string_view target =
        space == std::string_view::npos ? std::string_view() : requestLine.substr(space + 1);
    target = target.substr(0, target.find(' '));
    framing.limit = bodyLimit(method, target.substr(0, target.find('?')));
    bool hasLength = false;
    bool hasCoding = false;
    for (std::size_t at = lineEnd + 2; at + 2 < head.size();) {
        const std::size_t end = head.find("\r\n", at);
        const std::string_view line = head.substr(at, end - at);
        const std::size_t colon = line.find(':');
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = colon == std::string_view::npos
                                           ? std::string_view()
                                           : TrimmedBlanks(line.substr(colon + 1));
        if (EqualsIgnoringCase(name, "Content-Length")) {
            if (hasLength || value.empty() ||
                value.find_first_not_of("0123456789") != std::string_view::npos) {
                framing.refusal = 400;
                return framing;
            }
            hasLength = true;
            framing.length = value.size() > 12 ? SIZE_MAX : std::stoull(std::string(value));
        } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
            if (hasCoding || !EqualsIgnoringCase(value, "chunked")) {
                framing.refusal = 400;
                return framing;
            }
            hasCoding = true;
            framing.chunked = true;
        } else if (EqualsIgnoringCase(name, "Expect") &&
                   EqualsIgnoringCase(value, "100-continue")) {
            framing.expectAt = at;
            framing.expectLength = end + 2 - at;
        }
        at = end + 2;
    }
    if (hasLength && hasCoding) {
        framing.refusal = 400;
    } else if ((framing.chunked && framing.limit == 0) || framing.length > framing.limit) {
        framing.refusal = 413;
    }
    return framing;
}

enum class ChunkState { NeedMore, Complete, TooLarge, Malformed };

// Follows a chunked body from at (the start of the next chunk) as far as the
// bytes go, counting the body's size in decoded; end is set when complete.
ChunkState FollowChunks(std::string_view bytes, std::size_t &at, std::size_t &decoded,
                        std::size_t limit, std::size_t &end) {
    for (;;) {
        const std::size_t lineEnd = bytes.find("\r\n", at);
        if (lineEnd == std::string_view::npos) {
            return bytes.size() - at > kChunkLineMax ? ChunkState::Malformed : ChunkState::NeedMore;
        }
        const std::string_view line = bytes.substr(at, lineEnd - at);
        const std::size_t digits =
            std::min(line.find_first_not_of("0123456789abcdefABCDEF"), line.size());
        if (digits == 0 || line.size() > kChunkLineMax ||
            (digits < line.size() && line[digits] != ';')) {
            return ChunkState::Malformed;
        }
        if (digits > 8) {
            return ChunkState::TooLarge;
        }
        const std::size_t size = std::stoul(std::string(line.substr(0, digits)), nullptr, 16);
        if (size == 0) {
            // Trailer lines up to an empty one.
            for (std::size_t trailer = lineEnd + 2;;) {
                const std::size_t trailerEnd = bytes.find("\r\n", trailer);
                if (trailerEnd == std::string_view::npos) {
                    return ChunkState::NeedMore;
                }
                if (trailerEnd == trailer) {
                    end = trailer + 2;
                    return ChunkState::Complete;
                }
                trailer = trailerEnd + 2;
            }
        }
        if (decoded + size > limit) {
            return ChunkState::TooLarge;
        }
        const std::size_t dataEnd = lineEnd + 2 + size;
        if (bytes.size() < dataEnd + 2) {
            return ChunkState::NeedMore;
        }
        if (bytes.substr(dataEnd, 2) != "\r\n") {
            return ChunkState::Malformed;
        }
        decoded += size;
        at = dataEnd + 2;
    }
}

bool WaitWritable(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    return poll(&entry, 1, kWriteTimeoutMs) > 0 && (entry.revents & POLLOUT) != 0;
}

// One complete request, read by the gate, for the server's request handling;
// the answer goes straight to the socket. The answer's head is held back and
// sent with the first piece of the body, so that a small answer leaves in one
// packet.
class BufferedStream final : public httplib::Stream {
public:
    BufferedStream(int fd, std::string request, const std::string &address, int port)
        : fd_(fd), request_(std::move(request)), address_(address), port_(port) {}

    bool is_readable() const override { return read_ < request_.size(); }
    bool is_writable() const override { return WaitWritable(fd_); }

    ssize_t read(char *ptr, size_t size) override {
        const std::size_t count = std::min(size, request_.size() - read_);
        std::memcpy(ptr, request_.data() + read_, count);
        read_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char *ptr, size_t size) override {
        if (!headWritten_) {
            headWritten_ = true;
            held_.assign(ptr, size);
            return static_cast<ssize_t>(size);
        }
        if (held_.empty()) {
            return sendSome(ptr, size);
        }
        held_.append(ptr, size);
        return flush() ? static_cast<ssize_t>(size) : -1;
    }

    // Sends what is held back; false when the client has gone.
    bool flush() {
        std::string_view rest = held_;
        while (!rest.empty()) {
            const ssize_t sent = sendSome(rest.data(), rest.size());
            if (sent < 0) {
                return false;
            }
            rest.remove_prefix(static_cast<std::size_t>(sent));
        }
        held_.clear();
        return true;
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override {
        ip = address_;
        port = port_;
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override {
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&local), &length);
        std::tie(ip, port) = NumericAddress(local, length);
    }
    socket_t socket() const override { return fd_; }

    // Hands the socket to the caller, with the answer so far sent.
    int take() {
        if (!flush()) {
            return -1;
        }
        taken_ = true;
        return fd_;
    }
    bool taken() const { return taken_; }

private:
    ssize_t sendSome(const char *ptr, size_t size) {
        for (;;) {
            const ssize_t sent = send(fd_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) {
                return sent;
            }
            if (errno != EINTR && (errno != EAGAIN || !WaitWritable(fd_))) {
                return -1;
            }
        }
    }

    const int fd_;
    const std::string request_;
    std::size_t read_ = 0;
    const std::string address_;
    const int port_;
    bool headWritten_ = false;
    std::string held_;
    bool taken_ = false;
};

// The answer this worker thread is writing.
thread_local BufferedStream *tAnswering = nullptr;

} // namespace

// Connections whose request is still arriving, or that were refused and are
// being drained before they close. All state is behind one mutex; the gate's
// thread reads what arrives, and accepting threads and workers add connections.
class GuardedServer::Gate {
public:
    explicit Gate(GuardedServer &server)
        : server_(server), epoll_(epoll_create1(EPOLL_CLOEXEC)),
          wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = 0;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
        thread_ = std::thread([this] { run(); });
    }

    ~Gate() {
        stop();
        close(epoll_);
        close(wake_);
    }

    // A new connection. When its address already has as many connections
    // still sending as allowed, the oldest of them is closed, unless what it
    // has sent by now completes its request or it came less than a moment ago.
    void admit(int fd) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length);
        const auto [address, port] = NumericAddress(peer, length);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        // An answer goes out in several sends (head, then body); without this
        // the body waits for the client's delayed acknowledgement of the head.
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        const std::lock_guard lock(mutex_);
        while (waiting_[address] >= server_.limits_.connectionsPerAddress) {
            const std::uint64_t oldest = oldestWaiting(address);
            if (Clock::now() - connections_.at(oldest).since < kGrace) {
                break; // a burst of clients that have not had time to send
            }
            receive(connections_.at(oldest));
            const auto found = connections_.find(oldest);
            if (found != connections_.end() && !found->second.draining) {
                release(found->second);
            }
        }
        add(fd, address, port, {}, 0);
    }

    // A connection whose last request was answered, for its next request.
    void resume(int fd, const std::string &address, int port, std::string following, int served) {
        const std::lock_guard lock(mutex_);
        add(fd, address, port, std::move(following), served);
    }

    void stop() {
        {
            const std::lock_guard lock(mutex_);
            if (stopped_) {
                return;
            }
            stopped_ = true;
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
        thread_.join();
        const std::lock_guard lock(mutex_);
        while (!connections_.empty()) {
            release(connections_.begin()->second);
        }
    }

private:
    struct Connection {
        std::uint64_t id = 0; // also the order of arrival
        int fd = -1;
        std::string address;
        int port = 0;
        int served = 0; // requests answered before on this connection
        std::string bytes;
        Clock::time_point since; // when the request's wait began
        Clock::time_point deadline;
        std::size_t headEnd = 0; // 0 while the head is incomplete
        Framing framing;
        std::size_t chunkAt = 0; // where the next chunk of a chunked body starts
        std::size_t decoded = 0; // body bytes of the chunks so far
        bool draining = false;
        std::size_t drained = 0;
    };

    void add(int fd, const std::string &address, int port, std::string following, int served) {
        if (stopped_) {
            close(fd);
            return;
        }
        const std::uint64_t id = ++lastId_;
        Connection &connection = connections_[id];
        connection.id = id;
        connection.fd = fd;
        connection.address = address;
        connection.port = port;
        connection.served = served;
        connection.bytes = std::move(following);
        connection.since = Clock::now();
        connection.deadline = connection.since + server_.limits_.requestTime;
        ++waiting_[address];
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = id;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
        // A pipelined request may be complete already.
        advance(connection);
    }

    // The id of the address's oldest connection still sending; there is one
    // whenever the address has any counted in waiting_.
    std::uint64_t oldestWaiting(const std::string &address) const {
        const auto oldest =
            std::find_if(connections_.begin(), connections_.end(), [&](const auto &entry) {
                return !entry.second.draining && entry.second.address == address;
            });
        return oldest->first; // the map is in order of arrival
    }

    // Takes the connection out of the gate: closed, or (fd -1) handed on.
    void release(Connection &connection) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, connection.fd, nullptr);
        if (connection.fd >= 0) {
            close(connection.fd);
        }
        if (!connection.draining && --waiting_[connection.address] == 0) {
            waiting_.erase(connection.address);
        }
        connections_.erase(connection.id);
    }

    void run() {
        epoll_event events[64];
        Clock::time_point lastSweep = Clock::now();
        for (;;) {
            const int count = epoll_wait(epoll_, events, 64, kSweepInterval.count());
            const std::lock_guard lock(mutex_);
            if (stopped_) {
                return;
            }
            for (int i = 0; i < count; ++i) {
                const auto found = connections_.find(events[i].data.u64);
                if (found != connections_.end()) {
                    receive(found->second);
                }
            }
            if (Clock::now() - lastSweep >= kSweepInterval) {
                lastSweep = Clock::now();
                sweep(lastSweep);
            }
        }
    }

    // Reads what has arrived, within what the request may still hold.
    void receive(Connection &connection) {
        char buffer[kReadSize];
        bool ended = false;
        for (;;) {
            const std::size_t limit = connection.draining ? kDrainBytes : allowance(connection);
            const std::size_t held =
                connection.draining ? connection.drained : connection.bytes.size();
            if (held >= limit) {
                break;
            }
            const ssize_t got =
                recv(connection.fd, buffer, std::min(limit - held, sizeof buffer), MSG_DONTWAIT);
            if (got <= 0) {
                ended = got == 0 || (errno != EAGAIN && errno != EINTR);
                break;
            }
            if (connection.draining) {
                connection.drained += static_cast<std::size_t>(got);
            } else {
                connection.bytes.append(buffer, static_cast<std::size_t>(got));
            }
        }
        if (connection.draining) {
            if (ended || connection.drained >= kDrainBytes) {
                release(connection);
            }
            return;
        }
        const std::uint64_t id = connection.id;
        advance(connection);
        if (ended && connections_.contains(id) && !connection.draining) {
            release(connection); // gone before its request was complete
        }
    }

    // The most bytes worth holding: the head, the body it announces (with room
    // for chunk framing), and the head of a pipelined next request.
    std::size_t allowance(const Connection &connection) const {
        const std::size_t maxHead = server_.limits_.maxHead;
        if (connection.headEnd == 0) {
            return maxHead + 1;
        }
        const Framing &framing = connection.framing;
        const std::size_t body =
            framing.chunked ? framing.limit + kChunkLineMax + maxHead : framing.length;
        return connection.headEnd + body + maxHead;
    }

    // Looks at what has arrived: refuses the request, hands it to a worker
    // when complete, or waits for more.
    void advance(Connection &connection) {
        std::string &bytes = connection.bytes;
        if (connection.headEnd == 0) {
            const std::size_t blank = bytes.find("\r\n\r\n");
            if (blank == std::string::npos || blank + 4 > server_.limits_.maxHead) {
                if (bytes.size() > server_.limits_.maxHead) {
                    refuse(connection, 431);
                }
                return;
            }
            connection.headEnd = blank + 4;
            connection.framing =
                FrameOf(std::string_view(bytes).substr(0, connection.headEnd), server_.bodyLimit_);
            if (connection.framing.refusal != 0) {
                refuse(connection, connection.framing.refusal);
                return;
            }
            answerExpectation(connection);
            connection.chunkAt = connection.headEnd;
        }
        const Framing &framing = connection.framing;
        std::size_t end = connection.headEnd + framing.length;
        if (framing.chunked) {
            switch (
                FollowChunks(bytes, connection.chunkAt, connection.decoded, framing.limit, end)) {
            case ChunkState::NeedMore:
                end = std::string::npos;
                break;
            case ChunkState::Complete:
                break;
            case ChunkState::TooLarge:
                refuse(connection, 413);
                return;
            case ChunkState::Malformed:
                refuse(connection, 400);
                return;
            }
        }
        if (end != std::string::npos && bytes.size() >= end) {
            dispatch(connection, end);
        } else if (bytes.size() >= allowance(connection)) {
            refuse(connection, 413); // chunk framing beyond any fair share
        }
    }

    // A client waiting for leave to send its body gets it here, where the body
    // is read; the request is passed on without the expectation.
    void answerExpectation(Connection &connection) {
        Framing &framing = connection.framing;
        if (framing.expectAt == std::string_view::npos) {
            return;
        }
        connection.bytes.erase(framing.expectAt, framing.expectLength);
        connection.headEnd -= framing.expectLength;
        if (framing.chunked || framing.length > 0) {
            constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
            send(connection.fd, kContinue.data(), kContinue.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }

    void dispatch(Connection &connection, std::size_t end) {
        std::string request = connection.bytes.substr(0, end);
        std::string following = connection.bytes.substr(end);
        const int fd = connection.fd;
        epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        connection.fd = -1;
        GuardedServer &server = server_;
        server_.workers_->enqueue([&server, fd, address = connection.address,
                                   port = connection.port, request = std::move(request),
                                   following = std::move(following),
                                   served = connection.served]() mutable {
            server.answer(fd, address, port, std::move(request), std::move(following), served);
        });
        release(connection);
    }

    // Answers with status and stops reading the request.
    void refuse(Connection &connection, int status) {
        const std::string page = server_.refusalPage_(status);
        const std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                                   "\r\nContent-Type: text/html; charset=utf-8\r\n"
                                   "Content-Length: " +
                                   std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" +
                                   page;
        send(connection.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        shutdown(connection.fd, SHUT_WR);
        if (--waiting_[connection.address] == 0) {
            waiting_.erase(connection.address);
        }
        connection.draining = true;
        connection.deadline = Clock::now() + kDrainTime;
        std::string().swap(connection.bytes);
    }

    // Ends the connections out of time: a request not sent in time is refused,
    // a connection idle between requests and a drained one are closed.
    void sweep(Clock::time_point now) {
        std::vector<std::uint64_t> expired;
        for (const auto &[id, connection] : connections_) {
            if (connection.deadline <= now) {
                expired.push_back(id);
            }
        }
        for (const std::uint64_t id : expired) {
            Connection &connection = connections_.at(id);
            if (connection.draining || connection.bytes.empty()) {
                release(connection);
            } else {
                refuse(connection, 408);
            }
        }
    }

    GuardedServer &server_;
    const int epoll_;
    const int wake_;
    std::mutex mutex_;
    bool stopped_ = false;
    std::uint64_t lastId_ = 0;
    std::map<std::uint64_t, Connection> connections_;
    std::map<std::string, int> waiting_; // connections still sending, by address
    std::thread thread_;
};

GuardedServer::GuardedServer(GuardLimits limits, BodyLimit bodyLimit, RefusalPage refusalPage)
    : limits_(limits), bodyLimit_(std::move(bodyLimit)), refusalPage_(std::move(refusalPage)),
      workers_(std::make_unique<httplib::ThreadPool>(limits.workers)) {
    // Accepting only hands the connection to the gate.
    new_task_queue = [] { return new httplib::ThreadPool(2); };
    gate_ = std::make_unique<Gate>(*this);
}

GuardedServer::~GuardedServer() {
    finish();
}

void GuardedServer::finish() {
    if (!gate_) {
        return;
    }
    gate_->stop();
    workers_->shutdown();
    gate_.reset();
}

int GuardedServer::takeConnection() {
    return tAnswering == nullptr ? -1 : tAnswering->take();
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    gate_->admit(sock);
    return true;
}

void GuardedServer::answer(int fd, const std::string &address, int port, std::string request,
                           std::string following, int served) {
    for (;; ++served) {
        BufferedStream stream(fd, std::move(request), address, port);
        const bool last = served + 1 >= kMaxRequestsPerConnection;
        bool closedByClient = false;
        tAnswering = &stream;
        const bool processed = process_request(stream, last, closedByClient, {});
        tAnswering = nullptr;
        if (stream.taken()) {
            return;
        }
        if (!processed || !stream.flush() || last || closedByClient) {
            close(fd);
            return;
        }
        if (!nextPlainRequest(fd, following, request)) {
            gate_->resume(fd, address, port, std::move(following), served + 1);
            return;
        }
    }
}

bool GuardedServer::nextPlainRequest(int fd, std::string &following, std::string &request) {
    if (following.find("\r\n\r\n") == std::string::npos) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, kNextRequestWaitMs) <= 0) {
            return false;
        }
        char buffer[kReadSize];
        const std::size_t room = limits_.maxHead + 1 - std::min(following.size(), limits_.maxHead);
        const ssize_t got = recv(fd, buffer, std::min(room, sizeof buffer), MSG_DONTWAIT);
        if (got <= 0) {
            return false;
        }
        following.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t blank = following.find("\r\n\r\n");
    if (blank == std::string::npos || blank + 4 > limits_.maxHead) {
        return false;
    }
    const std::size_t headEnd = blank + 4;
    const Framing framing = FrameOf(std::string_view(following).substr(0, headEnd), bodyLimit_);
    if (framing.refusal != 0 || framing.chunked || framing.length != 0 ||
        framing.expectAt != std::string_view::npos) {
        return false;
    }
    request = following.substr(0, headEnd);
    following.erase(0, headEnd);
    return true;
}

} // namespace directory
