// SPDX-License-Identifier: GPL-3.0-or-later

// Time the window waits when the message is sent on a message-board page with
// many form controls: the browser's calls on the user-interface thread (fill in
// the textarea, click the submit control) against a real page on a loopback
// server. Prints the median of three runs per size and its ratio to the
// smallest page's figure: twice the controls should cost about twice the time.

#include "platform/html_browser.h"
#include "tests/support/loopback_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kLoadWaitMs = 60000;

// Controls that join the board form through its id, ahead of the form itself.
QByteArray BoardPage(int controls) {
    QByteArray page = "<html><head><meta charset=utf-8></head><body>";
    for (int control = 0; control < controls; ++control) {
        page += "<div><input form=board name=c" + QByteArray::number(control) + " value=v></div>";
    }
    return page + "<form id=board method=post action=/post>"
                  "<textarea id=textarea name=message></textarea>"
                  "<input type=submit id=button name=send value=go></form></body></html>";
}

bool WaitForDocument(platform::HtmlBrowser &browser) {
    QEventLoop loop;
    QTimer::singleShot(kLoadWaitMs, &loop, [&loop] { loop.exit(1); });
    QObject::connect(&browser, &platform::WebBrowser::DocumentComplete, &loop,
                     [&loop] { loop.exit(0); });
    return loop.exec() == 0;
}

double SendOnceMs(const QString &url) {
    platform::HtmlBrowser browser;
    browser.Navigate2(url);
    if (!WaitForDocument(browser)) {
        std::fprintf(stderr, "the board did not load\n");
        return 0;
    }
    QElapsedTimer timer;
    timer.start();
    const bool started =
        browser.setElementValue(QStringLiteral("textarea"), QStringLiteral("好听")) &&
        browser.clickElement(QStringLiteral("button"));
    const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    // The server may refuse so many fields; what counts is that the click
    // submitted the form.
    if (!started || !WaitForDocument(browser)) {
        std::fprintf(stderr, "the form was not submitted\n");
    }
    return elapsed;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    testsupport::LoopbackServer server;
    double anchor = 0;
    for (const int controls : {1000, 2000, 4000, 8000, 16000}) {
        const std::string path = "/board" + std::to_string(controls);
        server.serve(path, BoardPage(controls));
        std::vector<double> runs;
        for (int run = 0; run < 3; ++run) {
            runs.push_back(SendOnceMs(server.url(QString::fromStdString(path))));
        }
        std::sort(runs.begin(), runs.end());
        anchor = anchor > 0 ? anchor : runs[1];
        std::printf("send on a board with %5d controls: median %8.1f ms (%.1f x the first)\n",
                    controls, runs[1], runs[1] / anchor);
    }
    return 0;
}
