// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/live_tone.h"

#include "directory_server/tone/tone.h"

#include <memory>
#include <thread>

namespace testsupport {

using namespace std::chrono_literals;

void ServeLiveTone(LoopbackServer &server, const std::string &path, LivePlan plan,
                   double frequencyHz, std::chrono::milliseconds ahead) {
    auto connections = std::make_shared<std::atomic<int>>(0);
    server.get(path, [connections, plan, frequencyHz, ahead](const httplib::Request &,
                                                             httplib::Response &response) {
        const int connection = ++*connections;
        if (plan(connection, {}) == Next::End) {
            response.status = 503;
            return;
        }
        // A radio server's header: the stream is live, whenever it ends.
        response.set_header("icy-name", "Live tone");
        auto stream = std::make_shared<tone::ToneStream>(tone::ToneSettings{frequencyHz});
        const auto start = std::chrono::steady_clock::now();
        auto sent = std::make_shared<std::chrono::microseconds>(0);
        response.set_content_provider("audio/mpeg", [stream, start, sent, plan, connection,
                                                     ahead](size_t, httplib::DataSink &sink) {
            const auto elapsed = std::chrono::steady_clock::now() - start;
            const Next next = elapsed > 30s ? Next::End : plan(connection, *sent);
            if (next == Next::End)
                return false;
            if (next == Next::Wait || *sent > elapsed + ahead) {
                std::this_thread::sleep_for(50ms); // pacing, not waiting for an event
                return true;
            }
            const std::string frames = stream->next(100ms);
            *sent += stream->frameDuration() * tone::Mp3FrameLengths(frames).size();
            return sink.write(frames.data(), frames.size());
        });
    });
}

void ServeDroppingTone(LoopbackServer &server, const std::string &path, bool comesBack) {
    ServeLiveTone(server, path, [comesBack](int connection, std::chrono::microseconds sent) {
        if (connection == 1)
            return sent > 2s ? Next::End : Next::Send;
        return comesBack ? Next::Send : Next::End;
    });
}

} // namespace testsupport
