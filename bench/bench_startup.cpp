// Time from an empty process to the shown main window with the real platform
// (libVLC, libcurl, libxml2), and the memory it takes. Prints the median of
// five window creations; the first one also pays for loading libVLC's plugins.

#include "main_window/form1.h"
#include "platform/real_platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication application(argc, argv);
    // A server that answers nothing, so that no network wait counts.
    platform::RealPlatform platform(platform::Endpoints{"http://127.0.0.1:9", "http://127.0.0.1:9/",
                                                        "http://127.0.0.1:9/maiz.asp",
                                                        "http://127.0.0.1:9/fallback.asx"});
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        Form1 form(platform);
        form.show();
        QApplication::processEvents();
        runs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (run == 0) {
            std::printf("process start to first shown window: %.1f ms\n",
                        static_cast<double>(sinceStart.nsecsElapsed()) / 1e6);
        }
    }
    std::sort(runs.begin(), runs.end());
    std::printf("main window created and shown: median %.1f ms (slowest %.1f ms)\n", runs[2],
                runs.back());
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak RSS: %ld MiB\n", usage.ru_maxrss / 1024);
    return 0;
}
