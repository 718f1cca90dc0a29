// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <httplib.h>
#include <string>

// The message board's posted form, read by the server itself: the server's
// own form parsing stops at 8 KiB and does not limit chunked bodies.
namespace directory {

// The most a message may hold, in bytes.
inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;
// What a posted form may hold beyond its message: field names and multipart
// boundaries.
inline constexpr std::size_t kFormFraming = 4 * 1024;

// Reads the board field of a posted form, url-encoded or multipart, into text.
// False, with the response status set, when the body cannot be taken.
bool ReadBoardMessage(const httplib::Request &request, const httplib::ContentReader &read,
                      httplib::Response &response, std::string &text);

} // namespace directory
