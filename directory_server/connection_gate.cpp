// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/connection_gate.h"

#include "directory_server/sockets.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace directory {

namespace {

using Clock = std::chrono::steady_clock;

// A refused client may still be sending. What it sends is read and dropped for
// a while, so that it sees the answer instead of a reset connection.
constexpr std::size_t kDrainBytes = 8 * 1024 * 1024;
constexpr std::chrono::milliseconds kDrainTime{2000};
constexpr std::chrono::milliseconds kSweepInterval{100};
// Connections younger than this are not closed to make room: a burst of
// clients connecting at once need a moment to send their requests.
constexpr std::chrono::milliseconds kGrace{1000};

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

} // namespace

// All state is behind one mutex; the gate's thread reads what arrives, and
// accepting threads and workers add connections.
class ConnectionGate::Gate {
public:
    Gate(GuardLimits limits, BodyLimitOf bodyLimit, RefusalPage refusalPage, Dispatch dispatch)
        : limits_(limits), bodyLimit_(std::move(bodyLimit)), refusalPage_(std::move(refusalPage)),
          dispatch_(std::move(dispatch)), epoll_(epoll_create1(EPOLL_CLOEXEC)),
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

    void admit(int fd, const std::string &address, int port) {
        const std::lock_guard lock(mutex_);
        while (waiting_[address] >= limits_.connectionsPerAddress) {
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
        bool watched = false; // in the epoll set
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
        connection.deadline = connection.since + limits_.requestTime;
        ++waiting_[address];
        // A new client has usually sent its request with the connection, and
        // a pipelined request may be complete already: what is there is taken
        // now, and only a connection still sending (or being drained) is
        // watched.
        receive(connection);
        const auto held = connections_.find(id);
        if (held != connections_.end()) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = id;
            epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
            held->second.watched = true;
        }
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

    // Takes the connection out of the gate: closed (which also ends its watch),
    // or (fd -1) handed on.
    void release(Connection &connection) {
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
        char buffer[kReadChunk];
        bool ended = false;
        for (;;) {
            const std::size_t limit = connection.draining ? kDrainBytes : allowance(connection);
            const std::size_t held =
                connection.draining ? connection.drained : connection.bytes.size();
            if (held >= limit) {
                break;
            }
            const std::size_t room = std::min(limit - held, sizeof buffer);
            const ssize_t got = ReceiveNow(connection.fd, buffer, room);
            if (got <= 0) {
                ended = got == 0 || (errno != EAGAIN && errno != EINTR);
                break;
            }
            if (connection.draining) {
                connection.drained += static_cast<std::size_t>(got);
            } else {
                connection.bytes.append(buffer, static_cast<std::size_t>(got));
            }
            if (static_cast<std::size_t>(got) < room) {
                break; // all that has arrived; the watch tells of more
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
        const std::size_t maxHead = limits_.maxHead;
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
            if (blank == std::string::npos || blank + 4 > limits_.maxHead) {
                if (bytes.size() > limits_.maxHead) {
                    refuse(connection, 431);
                }
                return;
            }
            connection.headEnd = blank + 4;
            connection.framing =
                FrameOf(std::string_view(bytes).substr(0, connection.headEnd), bodyLimit_);
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
        if (connection.watched) {
            epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        }
        connection.fd = -1;
        dispatch_({fd, connection.address, connection.port, std::move(request),
                   std::move(following), connection.served});
        release(connection);
    }

    // Answers with status and stops reading the request.
    void refuse(Connection &connection, int status) {
        const std::string page = refusalPage_(status);
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

    const GuardLimits limits_;
    const BodyLimitOf bodyLimit_;
    const RefusalPage refusalPage_;
    const Dispatch dispatch_;
    const int epoll_;
    const int wake_;
    std::mutex mutex_;
    bool stopped_ = false;
    std::uint64_t lastId_ = 0;
    std::map<std::uint64_t, Connection> connections_;
    std::map<std::string, int> waiting_; // connections still sending, by address
    std::thread thread_;
};

ConnectionGate::ConnectionGate(GuardLimits limits, BodyLimitOf bodyLimit, RefusalPage refusalPage,
                               Dispatch dispatch)
    : gate_(std::make_unique<Gate>(limits, std::move(bodyLimit), std::move(refusalPage),
                                   std::move(dispatch))) {}

ConnectionGate::~ConnectionGate() = default;

void ConnectionGate::admit(int fd, const std::string &address, int port) {
    gate_->admit(fd, address, port);
}

void ConnectionGate::resume(int fd, const std::string &address, int port, std::string following,
                            int served) {
    gate_->resume(fd, address, port, std::move(following), served);
}

void ConnectionGate::stop() {
    gate_->stop();
}

} // namespace directory
