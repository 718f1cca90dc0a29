// SPDX-License-Identifier: GPL-3.0-or-later

// Time from process start to the first shown main window with the real
// platform (libVLC, libcurl, libxml2), beside a bare Qt window measured in the
// same run (bare_window, which links nothing else) and the same window with one
// line of text (the part of start-up that any window with text pays). Each is a child process,
// started in turn and timed from its start until it says its window is shown.
// Prints medians of seven starts, the shared libraries each had loaded by then,
// and its resident memory.

#include "bench/process_figures.h"
#include "platform/background_task.h"
#include "platform/http_transfer.h"
#include "platform/real_platform.h"
#include "tests/support/main_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kStarts = 7;

// In the child: shows the window, then tells the parent and leaves.
int ShowWindow(int argc, char *argv[]) {
    platform::SetUpAllocator();
    QApplication application(argc, argv);
    const auto fonts = platform::FillFontDatabase();
    platform::LoadHttpModuleAfterWindowsShow();
    // A server that answers nothing, so that no network wait counts.
    platform::RealPlatform platform(platform::Endpoints{"http://127.0.0.1:9", "http://127.0.0.1:9/",
                                                        "http://127.0.0.1:9/maiz.asp",
                                                        "http://127.0.0.1:9/fallback.asx"});
    testsupport::MainWindow window(platform);
    window.form.show();
    QApplication::processEvents();
    bench::PrintProcessFigures();
    return 0;
}

struct Start {
    double ms = 0;
    long long libraries = 0;
    long residentKiB = 0;
};

Start TimeStart(const QString &program, const QStringList &arguments) {
    QProcess child;
    QElapsedTimer timer;
    timer.start();
    child.start(program, arguments);
    child.waitForReadyRead(30000);
    Start start;
    start.ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::sscanf(child.readLine().constData(), "%lld %ld", &start.libraries, &start.residentKiB);
    child.waitForFinished(30000);
    return start;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && qstrcmp(argv[1], "child") == 0)
        return ShowWindow(argc, argv);
    QCoreApplication application(argc, argv);
    const QString bare = QDir(QCoreApplication::applicationDirPath()).filePath("bare_window");
    std::vector<double> oursMs;
    std::vector<double> bareMs;
    std::vector<double> textMs;
    Start lastOurs;
    Start lastBare;
    Start lastText;
    for (int run = 0; run < kStarts; ++run) {
        lastBare = TimeStart(bare, {});
        bareMs.push_back(lastBare.ms);
        lastText = TimeStart(bare, {QStringLiteral("text")});
        textMs.push_back(lastText.ms);
        lastOurs = TimeStart(QCoreApplication::applicationFilePath(), {QStringLiteral("child")});
        oursMs.push_back(lastOurs.ms);
    }
    std::printf("process start to first shown window, median of %d (ms):\n", kStarts);
    std::printf("%-20s %8s %10s %9s\n", "window", "ms", "libraries", "RSS MiB");
    std::printf("%-20s %8.1f %10lld %9.1f\n", "bare Qt window", Median(bareMs), lastBare.libraries,
                static_cast<double>(lastBare.residentKiB) / 1024.0);
    std::printf("%-20s %8.1f %10lld %9.1f\n", "bare window + text", Median(textMs),
                lastText.libraries, static_cast<double>(lastText.residentKiB) / 1024.0);
    std::printf("%-20s %8.1f %10lld %9.1f\n", "main window", Median(oursMs), lastOurs.libraries,
                static_cast<double>(lastOurs.residentKiB) / 1024.0);
    std::printf("start-up, main window against bare Qt window: %.2f (target 1.25)\n",
                Median(oursMs) / Median(bareMs));
    std::printf("start-up, main window against bare window with text: %.2f\n",
                Median(oursMs) / Median(textMs));
    return 0;
}
