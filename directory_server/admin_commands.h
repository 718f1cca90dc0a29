// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The commands that change a running directory without restarting it: they
// act on the same store as the servers (--data, --database), whose servers
// see the change by the store's own means.
namespace directory {

// Whether the first argument names an admin command rather than a server option.
bool IsAdminCommand(std::string_view first);

// Runs the admin command in args (its name first): 0 when it did what was
// asked, 1 with a message on stderr when the store or a file failed, 2 for a
// bad command line. Output goes to out, messages to err.
int RunAdminCommand(const std::vector<std::string> &args, std::string &out, std::string &err);

} // namespace directory
