// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/guarded_server.h"

#include "directory_server/request_framing.h"
#include "directory_server/sockets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace directory {

namespace {

constexpr int kMaxRequestsPerConnection = 100;
// How long a worker that has answered waits for the connection's next request
// before giving the connection back to the gate: a client keeping its
// connection alive usually asks again at once, and taking that request here
// saves two hand-overs between threads.
constexpr int kNextRequestWaitMs = 2;
// A client that takes nothing of its answer for this long is dropped.
constexpr std::chrono::milliseconds kStalledAnswer{10000};
// How long accepting pauses when the process is out of files or memory.
constexpr std::chrono::milliseconds kAcceptPause{1};

// One complete request, read by the gate, for the server's request handling;
// the answer goes straight to the socket. The answer's head is held back and
// sent with the first piece of the body, so that a small answer leaves in one
// packet.
class BufferedStream final : public httplib::Stream {
public:
    BufferedStream(int fd, std::string request, const std::string &address, int port,
                   const std::pair<std::string, int> &localAddress)
        : fd_(fd), request_(std::move(request)), address_(address), port_(port),
          localAddress_(localAddress) {}

    bool is_readable() const override { return read_ < request_.size(); }
    bool is_writable() const override { return deferred_ || WaitWritable(fd_); }

    ssize_t read(char *ptr, size_t size) override {
        const std::size_t count = std::min(size, request_.size() - read_);
        std::memcpy(ptr, request_.data() + read_, count);
        read_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char *ptr, size_t size) override {
        if (deferred_) {
            return static_cast<ssize_t>(size); // the rest goes out through the AnswerWriter
        }
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
        std::tie(ip, port) = localAddress_.first.empty() ? LocalAddress(fd_) : localAddress_;
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

    // The answer from here on is rest, sent later with what is held back.
    void defer(std::shared_ptr<const void> body, std::string_view rest) {
        deferred_ = true;
        body_ = std::move(body);
        rest_ = rest;
    }
    bool deferred() const { return deferred_; }
    // What is left to send: the held-back head and the deferred rest.
    AnswerWriter::Rest rest() { return {fd_, std::move(held_), std::move(body_), rest_, {}}; }

private:
    const int fd_;
    const std::string request_;
    std::size_t read_ = 0;
    const std::string address_;
    const int port_;
    const std::pair<std::string, int> &localAddress_;
    bool headWritten_ = false;
    std::string held_;
    bool taken_ = false;
    bool deferred_ = false;
    std::shared_ptr<const void> body_;
    std::string_view rest_;
};

// The answer this worker thread is writing.
thread_local BufferedStream *tAnswering = nullptr;

} // namespace

GuardedServer::GuardedServer(GuardLimits limits, BodyLimitOf bodyLimit, RefusalPage refusalPage)
    : limits_(limits), bodyLimit_(std::move(bodyLimit)),
      workers_(std::make_unique<httplib::ThreadPool>(limits.workers)),
      writer_(std::make_unique<AnswerWriter>(kStalledAnswer)) {
    // Small writes leave at once: a long answer goes out in several sends, and
    // without this each waits for the client's delayed acknowledgement of the
    // one before. Set on the listening socket, it holds for every connection
    // accepted from it.
    set_tcp_nodelay(true);
    gate_ = std::make_unique<ConnectionGate>(
        limits_, bodyLimit_, std::move(refusalPage), [this](ConnectionGate::Arrival arrival) {
            workers_->enqueue(
                [this, arrival = std::move(arrival)]() mutable { answer(std::move(arrival)); });
        });
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
    writer_.reset(); // before the gate it gives connections back to
    gate_.reset();
}

int GuardedServer::takeConnection() {
    return tAnswering == nullptr ? -1 : tAnswering->take();
}

bool GuardedServer::sendRest(std::shared_ptr<const void> body, std::string_view rest) {
    if (tAnswering == nullptr) {
        return false;
    }
    tAnswering->defer(std::move(body), rest);
    return true;
}

bool GuardedServer::serve() {
    serving_ = true;
    localAddress_ = AcceptedLocalAddress(svr_sock_);
    bool served = true;
    for (int listening; (listening = svr_sock_) != INVALID_SOCKET;) {
        std::string address;
        int port = 0;
        const int fd = AcceptConnection(listening, address, port);
        if (fd >= 0) {
            // The gate takes the request that came with the connection here,
            // which costs less than waking another thread for it.
            gate_->admit(fd, address, port);
        } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // The connection waits in the backlog until a file is closed.
            std::this_thread::sleep_for(kAcceptPause);
        } else if ((errno == EBADF || errno == EINVAL || errno == ENOTSOCK) &&
                   svr_sock_ != INVALID_SOCKET) {
            stop(); // the socket cannot accept
            served = false;
        } // else the client gave up before it was accepted, or a signal came
    }
    serving_ = false;
    return served;
}

void GuardedServer::stop() {
    if (serving_) {
        const int listening = svr_sock_.exchange(INVALID_SOCKET);
        shutdown(listening, SHUT_RDWR); // wakes serve() from waiting to accept
        close(listening);
    }
}

void GuardedServer::answer(ConnectionGate::Arrival arrival) {
    auto &[fd, address, port, request, following, served] = arrival;
    for (;; ++served) {
        BufferedStream stream(fd, std::move(request), address, port, localAddress_);
        const bool last = served + 1 >= kMaxRequestsPerConnection;
        bool closedByClient = false;
        tAnswering = &stream;
        const bool processed = process_request(stream, last, closedByClient, {});
        tAnswering = nullptr;
        if (stream.taken()) {
            return;
        }
        const bool goesOn = processed && !last && !closedByClient;
        if (stream.deferred()) {
            AnswerWriter::Rest rest = stream.rest();
            rest.sent = [this, goesOn, address = address, port = port, following = following,
                         served = served](int sentFd) {
                if (goesOn) {
                    gate_->resume(sentFd, address, port, following, served + 1);
                } else {
                    close(sentFd);
                }
            };
            if (!writer_->send(rest)) {
                return; // the writer finishes the answer, or the client has gone
            }
        }
        if (!processed || !stream.flush() || !goesOn) {
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
        char buffer[kReadChunk];
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
