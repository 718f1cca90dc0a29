#pragma once

#include "directory_server/connection_gate.h"
#include "directory_server/request_framing.h"

#include <httplib.h>
#include <memory>
#include <string>

namespace directory {

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
    GuardedServer(GuardLimits limits, BodyLimitOf bodyLimit, RefusalPage refusalPage);
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
    bool process_and_close_socket(socket_t sock) override;
    // Answers one complete request on a worker, and the plain requests that
    // follow at once; then gives the connection back to the gate for the next
    // one or closes it.
    void answer(ConnectionGate::Arrival arrival);
    // Takes the connection's next request when it is already there or arrives
    // within a moment, its head is complete and it has no body: moved from
    // following into request. False leaves the rest to the gate.
    bool nextPlainRequest(int fd, std::string &following, std::string &request);

    const GuardLimits limits_;
    const BodyLimitOf bodyLimit_;
    std::unique_ptr<httplib::ThreadPool> workers_;
    std::unique_ptr<ConnectionGate> gate_;
};

} // namespace directory
