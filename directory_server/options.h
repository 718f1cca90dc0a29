// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <variant>
#include <vector>

namespace directory {

// How the server was asked to run.
struct Options {
    std::string address = "127.0.0.1";
    int port = 8159;
    std::string dataDir; // the per-user data folder when not given
    // A libpq connection URI (postgresql://…): everything is kept in that
    // database, shared with other servers. Empty: SQLite in the data folder.
    std::string database;
    // "http://host:port" under which clients reach this server (a load
    // balancer's address when behind one); empty: from the listening address.
    std::string publicBase;
    int listenersPerAddress = 16;  // stream listener places one client address may hold
    int reportWindowSeconds = 600; // a client's plays of a station count once per window; 0: all
    std::vector<std::string> metricsClients; // addresses besides loopback that may read /metrics
    // Load balancers whose X-Forwarded-For names the client, for the fair shares.
    std::vector<std::string> trustedProxies;
};

struct ShowHelp {};
struct UsageError {
    std::string message;
};

using ParsedCommandLine = std::variant<Options, ShowHelp, UsageError>;

// Parses the arguments after the program name. dataDirDefault is used when
// --data is not given.
ParsedCommandLine ParseCommandLine(const std::vector<std::string> &args,
                                   const std::string &dataDirDefault);

// The data folder used without --data: $XDG_DATA_HOME/quorvel-directory, else
// $HOME/.local/share/quorvel-directory, else ./quorvel-directory.
std::string DefaultDataDir();

std::string UsageText(const std::string &programName);

} // namespace directory
