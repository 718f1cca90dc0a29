// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Live radio on a loopback server: a tone sent in real time, connections that
// pause, drop or are refused as a test plans.

#include "tests/support/loopback_server.h"

#include <chrono>
#include <functional>
#include <string>

namespace testsupport {

// What a live tone server does next on a connection (numbered from 1), given
// how much audio it has sent on it.
enum class Next { Send, Wait, End };
using LivePlan = std::function<Next(int connection, std::chrono::microseconds sent)>;

// A tone sent in real time (ahead of it by at most ahead: a burst on connect)
// as a plain body with an ICY header, the way radio servers send, not in HTTP
// chunks; the plan says when a connection pauses or ends. A connection whose
// plan ends before anything was sent is refused with 503. No connection lasts
// beyond half a minute.
void ServeLiveTone(LoopbackServer &server, const std::string &path, LivePlan plan,
                   double frequencyHz = 440,
                   std::chrono::milliseconds ahead = std::chrono::milliseconds(500));

// The first connection drops after two seconds of tone; later ones stream on,
// or are refused when the station never comes back.
void ServeDroppingTone(LoopbackServer &server, const std::string &path, bool comesBack);

} // namespace testsupport
