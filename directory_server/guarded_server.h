#pragma once

#include "directory_server/request_framing.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <httplib.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace directory {

// Limits on what one client may send and hold.
struct GuardLimits {
    std::size_t maxHead = 16 * 1024;              // request line and headers
    std::chrono::milliseconds requestTime{10000}; // to send a whole request, body included
    int connectionsPerAddress = 64;               // still sending at once from one address
    int workers = 128;                            // requests answered at once
};

// An HTTP server whose connections only reach a worker with a complete,
// acceptable request. A single gate thread reads every request (headers and
// body) without blocking, within a time limit and the route's body limit, so
// slow or huge requests cost a small buffer each instead of a worker and its
// memory. Too large heads get 431, bodies beyond the route's limit 413 (before
// they are read), requests not sent in time 408. A client address holding its
// limit of connections still sending loses the oldest of them (once it has had
// a second to send) to each new connection.
class GuardedServer : public httplib::Server {
public:
    // The most body bytes a route accepts: 0 for a route without a body.
    using BodyLimit = BodyLimitOf;
    // The page sent with a refusal's status.
    using RefusalPage = std::function<std::string(int status)>;

    GuardedServer(GuardLimits limits, BodyLimit bodyLimit, RefusalPage refusalPage);
    ~GuardedServer() override;

    // Ends the gate and waits for the requests being answered; call after
    // serving has stopped.
    void finish();

    // Inside a handler or content provider: sends what the answer has written
    // so far and takes the connection away from the server, which then neither
    // reads nor closes it. The caller owns the returned non-blocking socket;
    // -1 when called elsewhere or the client has gone.
    static int takeConnection();

private:
    class Gate;

    bool process_and_close_socket(socket_t sock) override;
    // Answers one complete request on a worker, and the plain requests that
    // follow at once; then gives the connection back to the gate for the next
    // one or closes it.
    void answer(int fd, const std::string &address, int port, std::string request,
                std::string following, int served);
    // Takes the connection's next request when it is already there or arrives
    // within a moment, its head is complete and it has no body: moved from
    // following into request. False leaves the rest to the gate.
    bool nextPlainRequest(int fd, std::string &following, std::string &request);

    const GuardLimits limits_;
    const BodyLimit bodyLimit_;
    const RefusalPage refusalPage_;
    std::unique_ptr<httplib::ThreadPool> workers_;
    std::unique_ptr<Gate> gate_;
};

} // namespace directory
