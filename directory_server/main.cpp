// SPDX-License-Identifier: GPL-3.0-or-later

// quorvel-directory: the companion directory server of Quorvel收音机.

#include "directory_server/admin_commands.h"
#include "directory_server/directory_server.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>

namespace {

void Log(const std::string &line) {
    const std::string text = "quorvel-directory: " + line + "\n";
    std::fputs(text.c_str(), stderr);
}

// Blocks the stop stopSignals in every thread; a dedicated thread waits for them.
sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

// Every stream listener holds a socket: allows as many open files as the
// system lets this process have.
void RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int Serve(const directory::Options &options) {
    RaiseOpenFileLimit();
    const sigset_t stopSignals = BlockStopSignals();
    std::signal(SIGPIPE, SIG_IGN); // a listener that hangs up must not end the server
    try {
        directory::DirectoryServer server(options, Log);
        std::thread waiter([&server, stopSignals] {
            int received = 0;
            sigwait(&stopSignals, &received);
            server.stop();
        });
        const bool served = server.run();
        pthread_kill(waiter.native_handle(), SIGTERM); // no-op when a signal ended the server
        waiter.join();
        Log("stopped");
        return served ? 0 : 1;
    } catch (const directory::StartError &error) {
        Log(error.what());
        return 1;
    }
}

} // namespace

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && directory::IsAdminCommand(args.front())) {
        std::string out;
        std::string err;
        const int status = directory::RunAdminCommand(args, out, err);
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return status;
    }
    const auto parsed = directory::ParseCommandLine(args, directory::DefaultDataDir());
    if (std::holds_alternative<directory::ShowHelp>(parsed)) {
        std::fputs(directory::UsageText("quorvel-directory").c_str(), stdout);
        return 0;
    }
    if (const auto *error = std::get_if<directory::UsageError>(&parsed)) {
        Log(error->message + " (see --help)");
        return 2;
    }
    return Serve(std::get<directory::Options>(parsed));
}
