// SPDX-License-Identifier: GPL-3.0-or-later

// Soak of the media player (the stations served by a child process): 1,000 switches between two
// live stations and 100 drops of a live station that comes back each time (other counts can be
// given: bench_player_soak SWITCHES DROPS). Prints resident memory and open descriptors before and
// after, and the time it took.

#include "bench/wait_for.h"
#include "platform/vlc_media_player.h"
#include "tests/support/live_tone.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::Next;

namespace {

// Every so many switches the player is let play until it sounds.
constexpr int kPlayEvery = 10;

// Resident memory after handing freed heap pages back to the system, so that
// memory the allocator merely keeps for reuse does not read as growth.
double ResidentMiB() {
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE)) /
                                   (1024.0 * 1024.0)
                             : -1;
}

qsizetype OpenDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::NoDotAndDotDot | QDir::System)
        .size();
}

void Report(const char *when, double rss, qsizetype fds) {
    std::printf("%-28s RSS %7.2f MiB   open descriptors %lld\n", when, rss,
                static_cast<long long>(fds));
}

// The stations, served from a child process so that the server's own memory
// does not count as the player's. Returns the child's port once it listens;
// the child prints the connections it saw and ends when `lifeline` closes.
int ServeStationsInChild(int &lifeline) {
    int toParent[2];
    int fromParent[2];
    if (::pipe(toParent) != 0 || ::pipe(fromParent) != 0)
        return -1;
    if (::fork() != 0) {
        ::close(toParent[1]);
        ::close(fromParent[0]);
        lifeline = fromParent[1];
        int port = -1;
        if (::read(toParent[0], &port, sizeof port) != sizeof port)
            port = -1;
        ::close(toParent[0]);
        return port;
    }
    ::close(toParent[0]);
    ::close(fromParent[1]);
    int drops = 0;
    {
        testsupport::LoopbackServer server;
        const auto endless = [](int, std::chrono::microseconds) { return Next::Send; };
        testsupport::ServeLiveTone(server, "/a.mp3", endless, 440);
        testsupport::ServeLiveTone(server, "/b.mp3", endless, 660);
        // Every connection drops after a second of sound.
        testsupport::ServeLiveTone(server, "/drops.mp3", [](int, std::chrono::microseconds sent) {
            return sent > 1s ? Next::End : Next::Send;
        });
        const int port = server.port();
        [[maybe_unused]] const ssize_t written = ::write(toParent[1], &port, sizeof port);
        char byte = 0;
        while (::read(fromParent[0], &byte, 1) > 0) {
        }
        drops = server.requestCount("/drops.mp3");
    }
    std::printf("the server saw %d connections to the dropping station\n", drops);
    std::fflush(stdout);
    ::_exit(0);
}

} // namespace

int main(int argc, char *argv[]) {
    const int kSwitches = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int kDrops = argc > 2 ? std::atoi(argv[2]) : 100;
    int lifeline = -1;
    const int port = ServeStationsInChild(lifeline);
    if (port <= 0)
        return 1;
    QCoreApplication application(argc, argv);
    const auto url = [port](const char *path) {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1StringView(path));
    };
    platform::VlcMediaPlayer player(QStringList{QStringLiteral("--aout=adummy")});
    const auto playing = [&player] { return player.playState() == platform::PlayState::Playing; };

    // Warm up: libVLC's plugins, the first connections, the first threads.
    for (int i = 0; i < kPlayEvery; ++i) {
        player.setURL(url(i % 2 ? "/a.mp3" : "/b.mp3"));
        WaitFor(playing, 10000);
    }
    player.stop();
    WaitFor([] { return false; }, 1000);
    const double rssBefore = ResidentMiB();
    const qsizetype fdsBefore = OpenDescriptors();
    Report("before", rssBefore, fdsBefore);

    QElapsedTimer timer;
    timer.start();
    int sounded = 0;
    for (int i = 0; i < kSwitches; ++i) {
        player.setURL(url(i % 2 ? "/a.mp3" : "/b.mp3"));
        if (i % kPlayEvery == 0)
            sounded += WaitFor(playing, 10000) ? 1 : 0;
        else
            WaitFor([] { return false; }, 20);
    }
    std::printf("%d switches in %.1f s (%d of %d waited-for plays sounded)\n", kSwitches,
                static_cast<double>(timer.elapsed()) / 1000, sounded, kSwitches / kPlayEvery);

    timer.restart();
    player.setURL(url("/drops.mp3"));
    int drops = 0;
    while (drops < kDrops && timer.elapsed() < 600000) {
        if (!WaitFor(playing, 20000))
            break;
        if (!WaitFor([&] { return !playing(); }, 20000))
            break;
        ++drops;
    }
    std::printf("%d drops reconnected in %.1f s\n", drops,
                static_cast<double>(timer.elapsed()) / 1000);
    player.stop();
    WaitFor([] { return false; }, 1000);
    const double rssAfter = ResidentMiB();
    const qsizetype fdsAfter = OpenDescriptors();
    Report("after", rssAfter, fdsAfter);
    std::printf("growth: RSS %+.2f MiB, descriptors %+lld\n", rssAfter - rssBefore,
                static_cast<long long>(fdsAfter - fdsBefore));
    std::fflush(stdout);
    ::close(lifeline);
    ::wait(nullptr);
    return 0;
}
