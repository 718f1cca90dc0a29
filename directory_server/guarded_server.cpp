#include "directory_server/guarded_server.h"

#include "directory_server/request_framing.h"
#include "directory_server/sockets.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace directory {

namespace {

constexpr int kMaxRequestsPerConnection = 100;
// How long a worker that has answered waits for the connection's next request
// before giving the connection back to the gate: a client keeping its
// connection alive usually asks again at once, and taking that request here
// saves two hand-overs between threads.
constexpr int kNextRequestWaitMs = 2;

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

GuardedServer::GuardedServer(GuardLimits limits, BodyLimitOf bodyLimit, RefusalPage refusalPage)
    : limits_(limits), bodyLimit_(std::move(bodyLimit)),
      workers_(std::make_unique<httplib::ThreadPool>(limits.workers)) {
    // Accepting only hands the connection to the gate.
    new_task_queue = [] { return new httplib::ThreadPool(2); };
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
    gate_.reset();
}

int GuardedServer::takeConnection() {
    return tAnswering == nullptr ? -1 : tAnswering->take();
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    gate_->admit(sock);
    return true;
}

void GuardedServer::answer(ConnectionGate::Arrival arrival) {
    auto &[fd, address, port, request, following, served] = arrival;
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
