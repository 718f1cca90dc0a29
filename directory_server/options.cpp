// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/options.h"

#include "directory_server/text_rules.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace directory {

namespace {

bool ParseNumber(const std::string &text, int low, int high, int &number) {
    int value = 0;
    const char *end = text.data() + text.size();
    auto [rest, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || rest != end || value < low || value > high) {
        return false;
    }
    number = value;
    return true;
}

// The items of a comma-separated list, leaving out empty ones.
std::vector<std::string> ListItems(const std::string &text) {
    std::vector<std::string> items;
    for (const std::string_view item : SplitAt(text, ',')) {
        if (!item.empty()) {
            items.emplace_back(item);
        }
    }
    return items;
}

// "http://host[:port]" or "https://…", a trailing slash dropped; the host
// holds only what a host name, address or port may.
bool ParsePublicBase(std::string text, std::string &base) {
    if (text.ends_with('/')) {
        text.pop_back();
    }
    const std::size_t scheme = text.find("://");
    if (scheme == std::string::npos ||
        (text.substr(0, scheme) != "http" && text.substr(0, scheme) != "https")) {
        return false;
    }
    const std::string host = text.substr(scheme + 3);
    if (host.empty() ||
        host.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]") != std::string::npos) {
        return false;
    }
    base = text;
    return true;
}

} // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string> &args,
                                   const std::string &dataDirDefault) {
    Options options;
    options.dataDir = dataDirDefault;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &name = args[i];
        if (name == "--help" || name == "-h") {
            return ShowHelp{};
        }
        static constexpr std::string_view kOptions[] = {
            "--address",       "--port",
            "--data",          "--database",
            "--public",        "--listeners-per-address",
            "--report-window", "--metrics-address",
            "--trusted-proxy"};
        if (std::find(std::begin(kOptions), std::end(kOptions), name) == std::end(kOptions)) {
            return UsageError{"unknown option '" + name + "'"};
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            return UsageError{"option " + name + " needs a value"};
        }
        const std::string &value = args[++i];
        if (name == "--address") {
            options.address = value;
        } else if (name == "--data") {
            options.dataDir = value;
        } else if (name == "--metrics-address") {
            options.metricsClients = ListItems(value);
        } else if (name == "--trusted-proxy") {
            options.trustedProxies = ListItems(value);
        } else if (name == "--listeners-per-address") {
            if (!ParseNumber(value, 1, 1000000, options.listenersPerAddress)) {
                return UsageError{"--listeners-per-address needs a number from 1, not '" + value +
                                  "'"};
            }
        } else if (name == "--report-window") {
            if (!ParseNumber(value, 0, 86400 * 365, options.reportWindowSeconds)) {
                return UsageError{"--report-window needs a number of seconds, not '" + value + "'"};
            }
        } else if (name == "--database") {
            // The value may hold a password: it is never repeated back.
            if (!value.starts_with("postgresql://") && !value.starts_with("postgres://")) {
                return UsageError{"--database needs a postgresql:// connection URI"};
            }
            options.database = value;
        } else if (name == "--public") {
            if (!ParsePublicBase(value, options.publicBase)) {
                return UsageError{"--public needs an address http://host[:port], not '" + value +
                                  "'"};
            }
        } else if (!ParseNumber(value, 1, 65535, options.port)) {
            return UsageError{"--port needs a number from 1 to 65535, not '" + value + "'"};
        }
    }
    return options;
}

std::string DefaultDataDir() {
    const char *dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        return std::string(dataHome) + "/quorvel-directory";
    }
    const char *home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/quorvel-directory";
    }
    return "quorvel-directory";
}

std::string UsageText(const std::string &programName) {
    return "Usage: " + programName +
           " [--address A] [--port N] [--data DIR] [--database URI] [--public URL]\n"
           "       [--listeners-per-address N] [--report-window SECONDS]\n"
           "       [--metrics-address A[,A...]] [--trusted-proxy A[,A...]]\n"
           "       " +
           programName +
           " import|stations|announcements|messages ... (--help for each)\n"
           "\n"
           "Directory server of Quorvel收音机: the station directory, announcements,\n"
           "play counts, the message board and generated demo streams.\n"
           "\n"
           "  --address A  address to listen on (default 127.0.0.1; 0.0.0.0 for all)\n"
           "  --port N     port to listen on (default 8159)\n"
           "  --data DIR   data folder with stations.txt, announcements.txt and the\n"
           "               database (default $XDG_DATA_HOME/quorvel-directory or\n"
           "               ~/.local/share/quorvel-directory); a missing or empty\n"
           "               folder is filled with the demo directory\n"
           "  --database URI  keep everything in this PostgreSQL database, shared by\n"
           "               every server given it (postgresql://user@host/db; keep the\n"
           "               password in ~/.pgpass); its empty database takes the data\n"
           "               folder's lists once (default: SQLite in the data folder)\n"
           "  --public URL address clients reach this server at, put before its own\n"
           "               paths in pages (http://host:port; a load balancer's when\n"
           "               behind one; default: from --address and --port)\n"
           "  --listeners-per-address N\n"
           "               stream listener places one client address may hold\n"
           "               (default 16)\n"
           "  --report-window SECONDS\n"
           "               a client address's plays of a station count once in this\n"
           "               time (default 600; 0 counts every play)\n"
           "  --metrics-address A[,A...]\n"
           "               client addresses besides loopback that may read /metrics\n"
           "  --trusted-proxy A[,A...]\n"
           "               load balancers in front: for their requests the client is\n"
           "               the last address of X-Forwarded-For (for the shares above)\n"
           "  --help       show this text\n";
}

} // namespace directory
