// Time to fetch a large station directory into the main window's table.
// Prints the median of five runs per size and the process's peak memory.

#include "main_window/form1.h"
#include "tests/support/fake_platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

QString DirectoryPage(int stations) {
    QStringList lines{QStringLiteral("(zebok)")};
    lines.reserve(stations + 1);
    for (int id = 0; id < stations; ++id) {
        lines.append(QStringLiteral("(id)%1(/id)(title)北京音乐广播 %1(/title)"
                                    "(url)http://127.0.0.1:8159/stream/%1.mp3(/url)"
                                    "(local)北京(/local)(hot)%2(/hot)")
                         .arg(id)
                         .arg(id % 700));
    }
    return lines.join(QStringLiteral("\r\n"));
}

double FetchOnceMs(const QString &page) {
    testsupport::FakePlatform platform;
    Form1 form(platform);
    testsupport::FakeWebBrowser *browser = platform.browsers.last();
    browser->holdLoads = true;
    browser->pages[browser->navigations.first()] = {page, 200};
    browser->completePending();

    QElapsedTimer timer;
    timer.start();
    form.FetchChannels();
    const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (form.ListView1->topLevelItemCount() == 0) {
        std::fprintf(stderr, "the directory did not load\n");
    }
    return elapsed;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    for (const int stations : {32767, 100000}) {
        const QString page = DirectoryPage(stations);
        std::vector<double> runs;
        for (int run = 0; run < 5; ++run) {
            runs.push_back(FetchOnceMs(page));
        }
        std::sort(runs.begin(), runs.end());
        std::printf("FetchChannels, %6d stations: median %8.1f ms (min %.1f, max %.1f)\n", stations,
                    runs[2], runs.front(), runs.back());
    }
    std::printf("peak RSS: %ld MiB\n", PeakRssKiB() / 1024);
    return 0;
}
