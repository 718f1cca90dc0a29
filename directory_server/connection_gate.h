// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/request_framing.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace directory {

// Limits on what one client may send and hold.
struct GuardLimits {
    std::size_t maxHead = 16 * 1024;              // request line and headers
    std::chrono::milliseconds requestTime{10000}; // to send a whole request, body included
    int connectionsPerAddress = 64;               // still sending at once from one address
    int workers = 128;                            // requests answered at once
};

// The page sent with a refusal's status.
using RefusalPage = std::function<std::string(int status)>;

// Connections whose request is still arriving, or that were refused and are
// being drained before they close. Every connection is read without blocking,
// within the limits: what has arrived when it is given, then on the gate's one
// thread as more comes. A request that is complete in time and within its
// route's body limit is handed on, anything else refused (431, 413, 400, 408)
// and its connection drained and closed.
class ConnectionGate {
public:
    // A complete request and its connection, handed on to be answered: the
    // non-blocking socket, the client's address and port, the request's bytes,
    // the bytes that followed them, and how many requests the connection had
    // had answered before.
    struct Arrival {
        int fd = -1;
        std::string address;
        int port = 0;
        std::string request;
        std::string following;
        int served = 0;
    };
    // Called on the gate's thread, or the thread that gave the connection.
    using Dispatch = std::function<void(Arrival arrival)>;

    ConnectionGate(GuardLimits limits, BodyLimitOf bodyLimit, RefusalPage refusalPage,
                   Dispatch dispatch);
    ~ConnectionGate();

    // A new non-blocking connection from the client at address and port.
    // When its address already has as many connections still sending as
    // allowed, the oldest of them is closed, unless what it has sent by now
    // completes its request or it came less than a moment ago.
    void admit(int fd, const std::string &address, int port);
    // A connection whose last request was answered, for its next request.
    void resume(int fd, const std::string &address, int port, std::string following, int served);
    // Stops reading and closes every connection the gate holds; connections
    // given after this are closed at once.
    void stop();

private:
    class Gate;
    std::unique_ptr<Gate> gate_;
};

} // namespace directory
