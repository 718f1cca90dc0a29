// SPDX-License-Identifier: GPL-3.0-or-later

// Time and memory of fetching a large station directory through the main
// window: from the click on the fetch button to the painted station table, the
// cache file included. The anchor, measured in the same run, is a bare table of
// the same size: the same rows built from ready cell texts, inserted at once
// and painted. Prints medians of five runs, contenders interleaved, and the
// peak memory of the first fetch of each size beside the page's size.

#include "contract/directory_contract.h"
#include "main_window/picture.h"
#include "platform/background_task.h"
#include "station_data/station_rows.h"
#include "tests/support/directory_server_process.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_platform.h"
#include "tests/support/main_window.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <optional>
#include <string>
#include <vector>

namespace {

const QString kRealBrowserArgument = QStringLiteral("--real-browser");

constexpr int kRuns = 5;

QString StationLine(int id) {
    return QStringLiteral("(id)%1(/id)(title)北京音乐广播 %1(/title)"
                          "(url)http://127.0.0.1:8159/stream/%1.mp3(/url)"
                          "(local)北京(/local)(hot)%2(/hot)")
        .arg(id)
        .arg(id % 700);
}

QString DirectoryPage(int stations) {
    QString page = QStringLiteral("(zebok)");
    page.reserve(stations * (StationLine(stations).size() + 2) + 16);
    for (int id = 0; id < stations; ++id) {
        page += QStringLiteral("\r\n") + StationLine(id);
    }
    return page;
}

// The station list of a companion server with this many stations.
QByteArray ServerStationList(int stations) {
    QByteArray list;
    for (int id = 0; id < stations; ++id) {
        list += QByteArray::number(id) + " | 北京 | 北京音乐广播 " + QByteArray::number(id) +
                " | /stream/" + QByteArray::number(id) + ".mp3 | " + QByteArray::number(id % 700) +
                "\n";
    }
    return list;
}

// Sets a flag on the first paint of a widget.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget *widget) { widget->installEventFilter(this); }
    bool painted = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            painted = true;
        }
        return false;
    }
};

// Milliseconds from start until the widget has been painted.
double MsUntilPainted(const QElapsedTimer &start, PaintWatch &watch) {
    const QDeadlineTimer deadline(30000);
    while (!watch.painted && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!watch.painted) {
        std::fprintf(stderr, "the table was never painted\n");
    }
    return static_cast<double>(start.nsecsElapsed()) / 1e6;
}

// Lets every pending paint and event of a freshly shown window happen.
void Settle(QWidget &window) {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window was not exposed\n");
    }
    QCoreApplication::processEvents();
}

// Milliseconds to start the station of this ID in the window, by its ID.
double PlayByIdMs(testsupport::MainWindow &window, const QString &id) {
    QElapsedTimer timer;
    timer.start();
    window.session.startStation(id, PlaybackSession::PlayReport::None);
    const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (!window.form.windowTitle().endsWith(id)) {
        std::fprintf(stderr, "station %s did not start\n", qPrintable(id));
    }
    return elapsed;
}

// Fetches the page in a new window, whose first play by ID starts the station
// of lastId when given.
double FetchOnceMs(const QString &page, const QString &lastId = {}, double *playMs = nullptr) {
    testsupport::FakePlatform platform;
    testsupport::MainWindow window(platform);
    testsupport::FakeWebBrowser *browser = platform.browsers.first();
    browser->holdLoads = true;
    browser->pages[browser->navigations.first()] = {page, 200};
    browser->completePending();
    Settle(window.form);

    PaintWatch watch(window.control<QTreeView>("ListView1")->viewport());
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(window.control<Picture>("Image10"), Qt::LeftButton);
    const double elapsed = MsUntilPainted(timer, watch);
    if (window.directory.tableRows()->rowCount() == 0) {
        std::fprintf(stderr, "the directory did not load\n");
    }
    if (playMs) {
        *playMs = PlayByIdMs(window, lastId);
    }
    return elapsed;
}

// The anchor: the same number of rows, their cells ready, shown in a bare table.
double BareTableOnceMs(int stations) {
    QTreeWidget table;
    table.resize(619, 390);
    table.setColumnCount(6);
    table.setRootIsDecorated(false);
    table.setUniformRowHeights(true);
    const QString local = QStringLiteral("北京");
    const QString name = QStringLiteral("北京音乐广播");
    const QString ok = QStringLiteral("ok");
    const QString stars = QStringLiteral("☆☆");
    Settle(table);

    PaintWatch watch(table.viewport());
    QElapsedTimer timer;
    timer.start();
    QList<QTreeWidgetItem *> rows;
    rows.reserve(stations);
    for (int id = stations - 1; id >= 0; --id) {
        rows.append(new QTreeWidgetItem(
            {QString::number(id), local, name, ok, QString::number(id % 700), stars}));
    }
    table.insertTopLevelItems(0, rows);
    return MsUntilPainted(timer, watch);
}

double Median(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// A field of /proc/self/status in KiB.
long StatusKiB(const char *field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(static_cast<qsizetype>(std::strlen(field)))
                .trimmed()
                .split(' ')
                .first()
                .toLong();
        }
    }
    return -1;
}

// Starts a new peak-memory window: the peak resident size becomes the current one.
void ResetPeakMemory() {
    malloc_trim(0);
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1) {
        std::fprintf(stderr, "the peak memory could not be reset\n");
    }
}

// What fetching a directory through the real browser took.
struct RealFetch {
    int stations = 0; // the station lines of the page
    double pageBytes = 0;
    double peakMiB = 0; // the peak resident size
    double baseMiB = 0; // the resident size before the window
    double fetchMs = 0; // from the click to the painted table
};

// The station lines and size of the directory page of the server on this
// loopback port, read here and let go before anything is measured.
RealFetch PageOf(int port) {
    const auto result =
        httplib::Client("127.0.0.1", port).Get(std::string(contract::kDirectoryPath));
    if (!result || result->status != 200) {
        return {};
    }
    const std::string &page = result->body;
    RealFetch real{0, static_cast<double>(page.size())};
    for (std::size_t at = page.find(contract::kId.opening); at != std::string::npos;
         at = page.find(contract::kId.opening, at + 1)) {
        ++real.stations;
    }
    return real;
}

// Fetches the directory of the companion server on this loopback port in a
// window with the real browser: what the program holds at its peak, the
// parsed page included; nothing when the server gives no directory.
std::optional<RealFetch> RealBrowserFetch(int port) {
    RealFetch real = PageOf(port);
    if (real.stations == 0) {
        std::fprintf(stderr, "no directory at port %d\n", port);
        return std::nullopt;
    }
    testsupport::LoopbackPlatform platform(
        testsupport::LoopbackPlatform::onServer(QStringLiteral("http://127.0.0.1:%1").arg(port)));
    ResetPeakMemory();
    real.baseMiB = static_cast<double>(StatusKiB("VmRSS:")) / 1024.0;
    testsupport::MainWindow window(platform);
    window.control<QTimer>("Timer1")->stop();
    window.control<QTimer>("Timer3")->stop();
    Settle(window.form);
    const QDeadlineTimer deadline(60000);
    while (!window.directory.serverReady() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // A user clicks seconds after the window shows, when what the program
    // starts in the background meanwhile (libVLC) has long finished.
    QTest::qWait(2000);
    PaintWatch watch(window.control<QTreeView>("ListView1")->viewport());
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(window.control<Picture>("Image10"), Qt::LeftButton);
    real.fetchMs = MsUntilPainted(timer, watch);
    if (window.directory.tableRows()->rowCount() != real.stations) {
        std::fprintf(stderr, "the directory did not load through the real browser\n");
    }
    real.peakMiB = static_cast<double>(StatusKiB("VmHWM:")) / 1024.0;
    return real;
}

// Prints the peak memory and fetch time through the real browser from the
// companion server on this port, or when port is 0 from one started here
// with 100,000 stations.
int PrintRealBrowserFetch(int port) {
    testsupport::DirectoryServerProcess server;
    if (port == 0) {
        const auto write = [&server](const QString &name, const QByteArray &content) {
            QFile file(server.file(name));
            return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        };
        if (!QDir().mkpath(server.dataDir()) ||
            !write(QStringLiteral("stations.txt"), ServerStationList(100000)) ||
            !write(QStringLiteral("announcements.txt"), "公告\n") || !server.start()) {
            std::fprintf(stderr, "the companion server did not start: %s\n",
                         server.errors().constData());
            return 1;
        }
        port = server.port();
    }
    const auto real = RealBrowserFetch(port);
    if (!real) {
        return 1;
    }
    const double pageMiB = real->pageBytes / (1024.0 * 1024.0);
    std::printf("%d stations from the companion server through the real browser "
                "(page %4.1f MiB): peak RSS %6.1f MiB (%5.1f MiB before the window), "
                "%4.1fx the page (target 8.0); click to painted table %.1f ms (target 450 ms)\n",
                real->stations, pageMiB, real->peakMiB, real->baseMiB, real->peakMiB / pageMiB,
                real->fetchMs);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    platform::SetUpAllocator();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // --real-browser [PORT]: only the fetch through the real browser, from
    // the companion server on that loopback port when one is given.
    const QStringList arguments = application.arguments();
    if (arguments.size() > 1 && arguments[1] == kRealBrowserArgument) {
        return PrintRealBrowserFetch(arguments.size() > 2 ? arguments[2].toInt() : 0);
    }
    std::printf("%-44s %10s %10s %8s\n", "directory fetch, click to painted table", "fetch ms",
                "anchor ms", "ratio");
    const QString smallPage = DirectoryPage(9);
    for (const int stations : {32767, 100000}) {
        const QString page = DirectoryPage(stations);
        const double pageMiB = static_cast<double>(page.toUtf8().size()) / (1024.0 * 1024.0);

        ResetPeakMemory();
        const double baseMiB = static_cast<double>(StatusKiB("VmRSS:")) / 1024.0;
        FetchOnceMs(page);
        const double peakMiB = static_cast<double>(StatusKiB("VmHWM:")) / 1024.0;

        std::vector<double> fetches;
        std::vector<double> anchors;
        std::vector<double> plays;
        std::vector<double> playAnchors;
        for (int run = 0; run < kRuns; ++run) {
            anchors.push_back(BareTableOnceMs(stations));
            double playMs = 0;
            fetches.push_back(FetchOnceMs(page, QString::number(stations - 1), &playMs));
            plays.push_back(playMs);
            FetchOnceMs(smallPage, QStringLiteral("8"), &playMs);
            playAnchors.push_back(playMs);
        }
        const double fetch = Median(fetches);
        const double anchor = Median(anchors);
        std::printf("%6d stations (page %5.1f MiB UTF-8)%14s %10.1f %10.1f %7.2fx "
                    "(target %d ms)\n",
                    stations, pageMiB, "", fetch, anchor, fetch / anchor,
                    stations > 32767 ? 450 : 150);
        std::printf("%6d stations: play by ID of the last %7.3f ms, of the last of 9: %7.3f ms\n",
                    stations, Median(plays), Median(playAnchors));
        std::printf("%6d stations: peak RSS %6.1f MiB (%5.1f MiB before the click), "
                    "%4.1fx the page (target 8.0)\n",
                    stations, peakMiB, baseMiB, peakMiB / pageMiB);
    }
    // The program fetches its directory once, in a process of its own: so
    // does this figure, in a fresh process of this bench.
    std::fflush(stdout);
    QProcess real;
    real.setProcessChannelMode(QProcess::ForwardedChannels);
    real.start(QCoreApplication::applicationFilePath(), {kRealBrowserArgument});
    real.waitForFinished(-1);
    return 0;
}
