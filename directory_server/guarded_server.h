// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/answer_writer.h"
#include "directory_server/connection_gate.h"
#include "directory_server/request_framing.h"

#include <atomic>
#include <httplib.h>
#include <memory>
#include <string>
#include <utility>

namespace directory {

// An HTTP server whose connections only reach a worker with a complete,
// acceptable request. The gate reads every request (headers and body) without
// blocking: what came with a connection as it is accepted, the rest on the
// gate's one thread, within a time limit and the route's body limit, so slow
// or huge requests cost a small buffer each instead of a worker and its
// memory. Too large heads get 431, bodies beyond the route's limit 413 (before
// they are read), requests not sent in time 408. A client address holding its
// limit of connections still sending loses the oldest of them (once it has had
// a second to send) to each new connection. Big answers to clients that do not
// read them as fast as they are written are finished by an AnswerWriter, so
// that such clients hold no worker.
class GuardedServer : private httplib::Server {
public:
    GuardedServer(GuardLimits limits, BodyLimitOf bodyLimit, RefusalPage refusalPage);
    ~GuardedServer() override;

    // Routes and the answers to errors, as httplib's server has them.
    using httplib::Server::Get;
    using httplib::Server::Post;
    using httplib::Server::set_error_handler;
    using httplib::Server::set_exception_handler;
    using httplib::Server::set_logger;
    using httplib::Server::set_payload_max_length;
    // Binding the listening socket.
    using httplib::Server::bind_to_port;
    using httplib::Server::set_socket_options;

    // Accepts connections on the bound socket, each handed to the gate as it
    // comes, until stop(); false when accepting failed.
    bool serve();
    // True while serve() accepts.
    bool serving() const { return serving_; }
    // Ends serve(); ignored before it has begun.
    void stop();

    // Ends the gate and waits for the requests being answered; call after
    // serving has stopped.
    void finish();

    // Inside a handler or content provider: sends what the answer has written
    // so far and takes the connection away from the server, which then neither
    // reads nor closes it. The caller owns the returned non-blocking socket;
    // -1 when called elsewhere or the client has gone.
    static int takeConnection();

    // Inside a content provider: the answer's body from here on is rest,
    // whose bytes body keeps alive. What the client does not take at once is
    // sent without holding the worker. The provider then writes rest through
    // its sink, which takes it at once. False when called elsewhere.
    static bool sendRest(std::shared_ptr<const void> body, std::string_view rest);

private:
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
    std::unique_ptr<AnswerWriter> writer_;
    std::atomic<bool> serving_{false};
    // Every connection's own end, as AcceptedLocalAddress() gives it.
    std::pair<std::string, int> localAddress_;
};

} // namespace directory
