#include "directory_server/guarded_server.h"

#include "directory_server/request_framing.h"
#include "directory_server/sockets.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
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
            return SendWaiting(fd_, {ptr, size});
        }
        held_.append(ptr, size);
        return flush() ? static_cast<ssize_t>(size) : -1;
    }

    // Sends what is held back; false when the client has gone.
    bool flush() {
        std::string_view rest = held_;
        while (!rest.empty()) {
            const ssize_t sent = SendWaiting(fd_, rest);
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
        std::tie(ip, port) = LocalAddress(fd_);
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
        const auto [address, port] = PeerAddress(fd);
        PrepareConnection(fd);
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
                ReceiveNow(connection.fd, buffer, std::min(limit - held, sizeof buffer));
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
            SendNow(connection.fd, kContinue);
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
        SendNow(connection.fd, answer);
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
        if (!WaitReadable(fd, kNextRequestWaitMs)) {
            return false;
        }
        char buffer[kReadSize];
        const std::size_t room = limits_.maxHead + 1 - std::min(following.size(), limits_.maxHead);
        const ssize_t got = ReceiveNow(fd, buffer, std::min(room, sizeof buffer));
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
