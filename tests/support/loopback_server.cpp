// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/loopback_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr auto kLongestWait = std::chrono::seconds(60); // no test waits longer on a silent answer
constexpr auto kWaitStep = std::chrono::milliseconds(20);

QString LoopbackUrl(int port, const QString &path) {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
}

// A TCP socket bound to 127.0.0.1 on a port the system picks.
int BindLoopback(int &port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket() failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("bind() on 127.0.0.1 failed");
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

LoopbackServer::LoopbackServer() {
    // Enough workers for streams and slow answers to run beside ordinary ones.
    server_.new_task_queue = [] { return new httplib::ThreadPool(48); };
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("cannot bind the loopback test server");
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // A stop before the accept loop runs would be lost: wait until it does.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server_.is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    server_.stop();
    thread_.join();
}

QString LoopbackServer::url(const QString &path) const {
    return LoopbackUrl(port_, path);
}

void LoopbackServer::record(const httplib::Request &request) {
    ReceivedRequest entry{request.method, request.path,    request.target,
                          request.body,   request.headers, request.params};
    const std::lock_guard lock(mutex_);
    received_.push_back(std::move(entry));
}

void LoopbackServer::get(const std::string &pattern, Handler handler) {
    server_.Get(pattern, [this, handler = std::move(handler)](const httplib::Request &request,
                                                              httplib::Response &response) {
        record(request);
        handler(request, response);
    });
}

void LoopbackServer::post(const std::string &pattern, Handler handler) {
    server_.Post(pattern, [this, handler = std::move(handler)](const httplib::Request &request,
                                                               httplib::Response &response) {
        record(request);
        handler(request, response);
    });
}

void LoopbackServer::serve(const std::string &pattern, const QByteArray &body,
                           const std::string &contentType, int status) {
    get(pattern,
        [body, contentType, status](const httplib::Request &, httplib::Response &response) {
            response.status = status;
            response.set_content(body.toStdString(), contentType);
        });
}

void LoopbackServer::serveSlowly(const std::string &pattern, std::chrono::milliseconds delay,
                                 const QByteArray &body, const std::string &contentType) {
    get(pattern,
        [this, delay, body, contentType](const httplib::Request &, httplib::Response &response) {
            waitUnlessStopping(delay);
            response.set_content(body.toStdString(), contentType);
        });
}

void LoopbackServer::serveNever(const std::string &pattern) {
    get(pattern, [this](const httplib::Request &, httplib::Response &response) {
        waitUnlessStopping(kLongestWait);
        response.status = 503;
    });
}

void LoopbackServer::serveStream(const std::string &pattern, const std::string &contentType,
                                 ChunkSource source) {
    get(pattern,
        [this, contentType, source](const httplib::Request &, httplib::Response &response) {
            ++streamsStarted_;
            response.set_chunked_content_provider(
                contentType,
                [this, source](size_t, httplib::DataSink &sink) {
                    if (stopping_) {
                        return false;
                    }
                    const QByteArray chunk = source();
                    if (chunk.isEmpty()) {
                        sink.done();
                        return true;
                    }
                    return sink.write(chunk.constData(), static_cast<size_t>(chunk.size()));
                },
                [this](bool) { ++streamsClosed_; });
        });
}

void LoopbackServer::serveRepeated(const std::string &pattern, const QByteArray &head,
                                   const QByteArray &piece, qint64 count, const QByteArray &tail,
                                   const std::string &contentType) {
    const qint64 length = head.size() + piece.size() * count + tail.size();
    get(pattern, [=, this](const httplib::Request &, httplib::Response &response) {
        response.set_content_provider(
            static_cast<size_t>(length), contentType,
            [=, this](size_t offset, size_t, httplib::DataSink &sink) {
                if (stopping_) {
                    return false;
                }
                // Whole pieces at a time; the first write sends the head.
                const qint64 sent = static_cast<qint64>(offset) - head.size();
                if (sent < 0) {
                    return sink.write(head.constData(), static_cast<size_t>(head.size()));
                }
                const qint64 piecesSent = sent / piece.size();
                if (piecesSent >= count) {
                    return sink.write(tail.constData(), static_cast<size_t>(tail.size()));
                }
                const QByteArray batch = piece.repeated(std::min<qint64>(count - piecesSent, 4096));
                return sink.write(batch.constData(), static_cast<size_t>(batch.size()));
            });
    });
}

std::vector<ReceivedRequest> LoopbackServer::received() const {
    const std::lock_guard lock(mutex_);
    return received_;
}

int LoopbackServer::requestCount(const std::string &path) const {
    const std::lock_guard lock(mutex_);
    int count = 0;
    for (const ReceivedRequest &entry : received_) {
        count += entry.path == path ? 1 : 0;
    }
    return count;
}

bool LoopbackServer::waitUnlessStopping(std::chrono::milliseconds duration) const {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < deadline) {
        if (stopping_) {
            return false;
        }
        std::this_thread::sleep_for(kWaitStep);
    }
    return true;
}

RawTcpServer::RawTcpServer(Mode mode) : mode_(mode) {
    listenFd_ = BindLoopback(port_);
    if (::listen(listenFd_, 16) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("listen() failed");
    }
    thread_ = std::thread([this] { run(); });
}

RawTcpServer::~RawTcpServer() {
    stopping_ = true;
    thread_.join();
    ::close(listenFd_);
}

QString RawTcpServer::url(const QString &path) const {
    return LoopbackUrl(port_, path);
}

void RawTcpServer::run() {
    std::vector<int> clients;
    const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        pollfd listening{listenFd_, POLLIN, 0};
        if (::poll(&listening, 1, static_cast<int>(kWaitStep.count())) <= 0) {
            continue;
        }
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        ++accepted_;
        // Take what the client sent, so that a reset is not mistaken for a
        // refusal to read.
        char buffer[4096];
        pollfd readable{client, POLLIN, 0};
        if (::poll(&readable, 1, 1000) > 0) {
            [[maybe_unused]] const ssize_t ignored = ::recv(client, buffer, sizeof buffer, 0);
        }
        if (mode_ == Mode::AcceptAndReset) {
            const linger abortive{1, 0};
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            ::close(client);
        } else {
            clients.push_back(client);
        }
    }
    for (const int client : clients) {
        ::close(client);
    }
}

int UnusedPort() {
    int port = 0;
    ::close(BindLoopback(port));
    return port;
}

} // namespace testsupport
