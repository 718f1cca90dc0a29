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

// The numeric address and port of the connection's client, and of its own end.
std::pair<std::string, int> PeerAddress(int fd);
std::pair<std::string, int> LocalAddress(int fd);

// Makes a new connection non-blocking and sends small writes at once: an
// answer goes out in several sends (head, then body), and without this the
// body waits for the client's delayed acknowledgement of the head.
void PrepareConnection(int fd);

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
