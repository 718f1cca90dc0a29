// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/sockets.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

namespace directory {

namespace {

constexpr int kWriteTimeoutMs = 5000;

std::pair<std::string, int> NumericAddress(const sockaddr_storage &address, socklen_t length) {
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "0";
    getnameinfo(reinterpret_cast<const sockaddr *>(&address), length, host, sizeof host, service,
                sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
    return {host, std::atoi(service)};
}

} // namespace

std::string BindFailureReason(const std::string &address, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const int lookup = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (lookup != 0) {
        return gai_strerror(lookup);
    }
    std::string reason = "the address cannot be used";
    const int fd = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    const int yes = 1;
    if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
        bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
        const int error = errno;
        reason = std::strerror(error);
        if (error == EADDRINUSE) {
            reason += " (is another directory server running?)";
        }
    }
    if (fd >= 0) {
        close(fd);
    }
    freeaddrinfo(found);
    return reason;
}

void ReuseAddress(int listening) {
    const int yes = 1;
    setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

void RaiseBacklog(int listening) {
    listen(listening, SOMAXCONN);
}

int AcceptConnection(int listening, std::string &address, int &port) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(listening, reinterpret_cast<sockaddr *>(&peer), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
        std::tie(address, port) = NumericAddress(peer, length);
    }
    return fd;
}

std::pair<std::string, int> LocalAddress(int fd) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    return NumericAddress(local, length);
}

std::pair<std::string, int> AcceptedLocalAddress(int listening) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    getsockname(listening, reinterpret_cast<sockaddr *>(&local), &length);
    auto [address, port] = NumericAddress(local, length);
    const auto *v4 = reinterpret_cast<const sockaddr_in *>(&local);
    const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&local);
    if ((local.ss_family == AF_INET && v4->sin_addr.s_addr == htonl(INADDR_ANY)) ||
        (local.ss_family == AF_INET6 && IN6_IS_ADDR_UNSPECIFIED(&v6->sin6_addr))) {
        address.clear();
    }
    return {address, port};
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

bool WaitWritable(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    return poll(&entry, 1, kWriteTimeoutMs) > 0 && (entry.revents & POLLOUT) != 0;
}

ssize_t ReceiveNow(int fd, char *buffer, std::size_t size) {
    return recv(fd, buffer, size, MSG_DONTWAIT);
}

ssize_t SendNow(int fd, std::string_view bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

ssize_t SendWaiting(int fd, std::string_view bytes) {
    for (;;) {
        const ssize_t sent = SendNow(fd, bytes);
        if (sent >= 0) {
            return sent;
        }
        if (errno != EINTR && (errno != EAGAIN || !WaitWritable(fd))) {
            return -1;
        }
    }
}

} // namespace directory
