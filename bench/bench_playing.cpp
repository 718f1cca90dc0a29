// SPDX-License-Identifier: GPL-3.0-or-later

// Resident memory and CPU while playing a live stream: the main window with
// its own player (playing_main_window) beside a bare Qt window with a plain
// libVLC player (playing_bare), both through the same sound output, started in
// turn as child processes against one loopback station. Prints medians of
// three runs each and the ratios.

#include "tests/support/live_tone.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 3;

struct Figures {
    std::vector<double> residentMiB;
    std::vector<double> cpuPercent;
};

void Run(const QString &program, const QString &url, Figures &figures) {
    QProcess child;
    child.start(program, {url});
    child.waitForFinished(60000);
    long kib = 0;
    double cpu = 0;
    if (std::sscanf(child.readAllStandardOutput().constData(), "%ld %lf", &kib, &cpu) == 2) {
        figures.residentMiB.push_back(static_cast<double>(kib) / 1024.0);
        figures.cpuPercent.push_back(cpu);
    }
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication application(argc, argv);
    testsupport::LoopbackServer server;
    testsupport::ServeLiveTone(server, "/live.mp3", [](int, std::chrono::microseconds) {
        return testsupport::Next::Send;
    });
    const QString url = server.url(QStringLiteral("/live.mp3"));
    const QDir here(QCoreApplication::applicationDirPath());
    Figures ours;
    Figures bare;
    for (int run = 0; run < kRuns; ++run) {
        Run(here.filePath("playing_bare"), url, bare);
        Run(here.filePath("playing_main_window"), url, ours);
    }
    std::printf("while playing a live stream, median of %d runs:\n", kRuns);
    std::printf("%-32s %9s %12s\n", "program", "RSS MiB", "CPU % core");
    std::printf("%-32s %9.1f %12.2f\n", "bare Qt window + libVLC", Median(bare.residentMiB),
                Median(bare.cpuPercent));
    std::printf("%-32s %9.1f %12.2f\n", "main window playing", Median(ours.residentMiB),
                Median(ours.cpuPercent));
    std::printf("RSS playing, ours against the floor: %.2f (target 1.10)\n",
                Median(ours.residentMiB) / std::max(0.01, Median(bare.residentMiB)));
    std::printf("CPU playing, ours against the floor: %.2f (target 1.10)\n",
                Median(ours.cpuPercent) / std::max(0.01, Median(bare.cpuPercent)));
    return 0;
}
