// Soak of the media player: 1,000 switches between two live stations and 100
// drops of a live station that comes back each time. Prints resident memory
// and open descriptors before and after, and the time it took.

#include "bench/wait_for.h"
#include "platform/vlc_media_player.h"
#include "tests/support/live_tone.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::Next;

namespace {

constexpr int kSwitches = 1000;
constexpr int kDrops = 100;
// Every so many switches the player is let play until it sounds.
constexpr int kPlayEvery = 10;

double ResidentMiB() {
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

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    testsupport::LoopbackServer server;
    const auto endless = [](int, std::chrono::microseconds) { return Next::Send; };
    testsupport::ServeLiveTone(server, "/a.mp3", endless, 440);
    testsupport::ServeLiveTone(server, "/b.mp3", endless, 660);
    // Every connection drops after a moment of sound.
    testsupport::ServeLiveTone(server, "/drops.mp3", [](int, std::chrono::microseconds sent) {
        return sent > 300ms ? Next::End : Next::Send;
    });
    platform::VlcMediaPlayer player(QStringList{QStringLiteral("--aout=adummy")});
    const auto playing = [&player] { return player.playState() == platform::PlayState::Playing; };

    // Warm up: libVLC's plugins, the first connections, the first threads.
    for (int i = 0; i < kPlayEvery; ++i) {
        player.setURL(server.url(i % 2 ? "/a.mp3" : "/b.mp3"));
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
        player.setURL(server.url(i % 2 ? "/a.mp3" : "/b.mp3"));
        if (i % kPlayEvery == 0)
            sounded += WaitFor(playing, 10000) ? 1 : 0;
        else
            WaitFor([] { return false; }, 20);
    }
    std::printf("%d switches in %.1f s (%d of %d waited-for plays sounded)\n", kSwitches,
                static_cast<double>(timer.elapsed()) / 1000, sounded, kSwitches / kPlayEvery);

    timer.restart();
    player.setURL(server.url("/drops.mp3"));
    int drops = 0;
    while (drops < kDrops && timer.elapsed() < 600000) {
        if (!WaitFor(playing, 20000))
            break;
        if (!WaitFor([&] { return !playing(); }, 20000))
            break;
        ++drops;
    }
    std::printf("%d drops reconnected in %.1f s (%d connections)\n", drops,
                static_cast<double>(timer.elapsed()) / 1000, server.requestCount("/drops.mp3"));
    player.stop();
    WaitFor([] { return false; }, 1000);
    const double rssAfter = ResidentMiB();
    const qsizetype fdsAfter = OpenDescriptors();
    Report("after", rssAfter, fdsAfter);
    std::printf("growth: RSS %+.2f MiB, descriptors %+lld\n", rssAfter - rssBefore,
                static_cast<long long>(fdsAfter - fdsBefore));
    return 0;
}
