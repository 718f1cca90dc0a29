// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A real HTTP server on 127.0.0.1 for integration tests: an ephemeral port,
// handlers set per test, a record of every request, and the misbehaviours the
// program must survive (slow answers, no answer, resets, endless streams).

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct ReceivedRequest {
    std::string method;
    std::string path;   // without the query
    std::string target; // path and query as sent
    std::string body;
    httplib::Headers headers;
    httplib::Params params; // decoded query (and form body for POST forms)
};

class LoopbackServer {
public:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;
    // Produces the next piece of an endless stream; called again and again
    // while the client reads. Return an empty array to end the stream.
    using ChunkSource = std::function<QByteArray()>;

    LoopbackServer();
    ~LoopbackServer(); // stops serving; ends every slow, silent or endless answer

    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" + path.
    QString url(const QString &path = QStringLiteral("/")) const;

    // Handlers; patterns are httplib's (regular expressions over the path).
    void get(const std::string &pattern, Handler handler);
    void post(const std::string &pattern, Handler handler);

    // Answers GET pattern with a fixed status, body and Content-Type.
    void serve(const std::string &pattern, const QByteArray &body,
               const std::string &contentType = "text/html; charset=utf-8", int status = 200);
    // Answers after the delay (cut short when the server stops).
    void serveSlowly(const std::string &pattern, std::chrono::milliseconds delay,
                     const QByteArray &body,
                     const std::string &contentType = "text/html; charset=utf-8");
    // Accepts the request and never answers, until the server stops.
    void serveNever(const std::string &pattern);
    // An endless response (a body without length) fed by source, until the
    // client goes away, source returns nothing, or the server stops.
    void serveStream(const std::string &pattern, const std::string &contentType,
                     ChunkSource source);

    // A large body sent as it is made, never held whole: head, then piece
    // repeated count times, then tail (a directory beyond the browser's cap, a
    // title line of megabytes).
    void serveRepeated(const std::string &pattern, const QByteArray &head, const QByteArray &piece,
                       qint64 count, const QByteArray &tail,
                       const std::string &contentType = "text/html; charset=utf-8");

    std::vector<ReceivedRequest> received() const;
    int requestCount(const std::string &path) const;
    // Streams of serveStream that have begun, and those whose client has gone.
    int streamsStarted() const { return streamsStarted_.load(); }
    int streamsClosed() const { return streamsClosed_.load(); }

private:
    void record(const httplib::Request &request);
    // Sleeps up to duration, returning early (false) when the server stops.
    bool waitUnlessStopping(std::chrono::milliseconds duration) const;

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> streamsStarted_{0};
    std::atomic<int> streamsClosed_{0};
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> received_;
};

// A bare TCP listener on 127.0.0.1 for what HTTP servers do not do on purpose.
class RawTcpServer {
public:
    enum class Mode {
        AcceptAndStaySilent, // reads the request, never answers, closes at shutdown
        AcceptAndReset,      // reads the request, then resets the connection
    };
    explicit RawTcpServer(Mode mode);
    ~RawTcpServer();

    RawTcpServer(const RawTcpServer &) = delete;
    RawTcpServer &operator=(const RawTcpServer &) = delete;

    int port() const { return port_; }
    QString url(const QString &path = QStringLiteral("/")) const;
    int connectionsAccepted() const { return accepted_.load(); }

private:
    void run();

    Mode mode_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// A port on 127.0.0.1 on which nothing listens (connections are refused).
int UnusedPort();

} // namespace testsupport
