// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>

// The server's use of TCP sockets, by file descriptor: the listening socket,
// the connections the gate reads without blocking, and the sends that answer
// them. Sends never raise SIGPIPE.
namespace directory {

// Why binding address:port fails, found by trying it with a socket of our own.
std::string BindFailureReason(const std::string &address, int port);

// Lets a restarted server bind its port at once. No port sharing: a second
// server on the same port must fail, not split the requests.
void ReuseAddress(int listening);

// Listens again with the system's largest backlog, so that many clients
// connecting at once see no dropped connections and stalls.
void RaiseBacklog(int listening);

// Takes the next connection from the listening socket, waiting for one: the
// new non-blocking socket, with its client's numeric address and port in
// address and port, or -1 with errno.
int AcceptConnection(int listening, std::string &address, int &port);

// The numeric address and port of the socket's own end.
std::pair<std::string, int> LocalAddress(int fd);

// The own end of every connection accepted from the listening socket: the
// socket's own address and port, or an empty address when it listens on every
// interface, where each connection's end has the address its client reached.
std::pair<std::string, int> AcceptedLocalAddress(int listening);

// Waits until the socket has bytes to read, for at most timeoutMs.
bool WaitReadable(int fd, int timeoutMs);

// Waits until the socket takes more bytes, for at most a few seconds.
bool WaitWritable(int fd);

// How much one read takes at most.
inline constexpr std::size_t kReadChunk = 16 * 1024;

// What has arrived, up to size bytes, without waiting: the count, 0 when the
// client has closed, or -1 with errno (EAGAIN when nothing is there yet).
ssize_t ReceiveNow(int fd, char *buffer, std::size_t size);

// Sends what the socket takes at once, without waiting: the count sent, or -1
// with errno.
ssize_t SendNow(int fd, std::string_view bytes);

// Sends some of the bytes, waiting while the socket is full: the count sent,
// or -1 when the client has gone or took nothing for a few seconds.
ssize_t SendWaiting(int fd, std::string_view bytes);

} // namespace directory
