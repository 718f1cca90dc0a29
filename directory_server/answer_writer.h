// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace directory {

// Finishes sending answers whose clients do not take them as fast as they are
// written, on one thread that waits for all those sockets at once, so that a
// client reading slowly, or not at all, holds no worker. A client that takes
// nothing for a while is dropped.
class AnswerWriter {
public:
    // The rest of one answer on a non-blocking socket.
    struct Rest {
        int fd = -1;
        std::string head;                 // sent first: what the worker had not sent yet
        std::shared_ptr<const void> body; // keeps the bytes of tail alive
        std::string_view tail;            // sent after head
        // Called on the writer's thread with the socket once everything is
        // sent: the connection goes on (to its next request) or is closed.
        std::function<void(int fd)> sent;
    };

    explicit AnswerWriter(std::chrono::milliseconds stalled);
    ~AnswerWriter();

    AnswerWriter(const AnswerWriter &) = delete;
    AnswerWriter &operator=(const AnswerWriter &) = delete;

    // Sends what the socket takes now; true when that was all, else the rest
    // is sent on the writer's thread (and rest.sent called there) or the
    // connection closed.
    bool send(Rest &rest);
    // Closes every connection still being written; later ones are closed at once.
    void stop();

private:
    struct Pending;
    void run();

    const std::chrono::milliseconds stalled_;
    const int epoll_;
    const int wake_; // an eventfd: new connections or stop
    std::mutex mutex_;
    std::vector<std::unique_ptr<Pending>> arriving_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace directory
