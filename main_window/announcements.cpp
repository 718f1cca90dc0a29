// SPDX-License-Identifier: GPL-3.0-or-later

// The announcement line: Timer3 fetches the server's announcement into Label4
// without the window waiting for the answer.

#include "contract/directory_contract.h"
#include "main_window/form1.h"
#include "main_window/picture.h"
#include "station_data/station_directory.h"
#include "station_data/text_between.h"

#include <QTimer>

void Form1::Timer3_Timer() {
    Timer3->setInterval(40000);
    // One announcement at a time: a tick while the last one is still awaited
    // asks nothing.
    if (AnnouncementRequest_) {
        return;
    }
    AnnouncementRequest_ = platform_.createHttpRequest();
    const platform::Endpoints &endpoints = platform_.endpoints();
    AnnouncementRequest_->Open(QStringLiteral("GET"),
                               directory_.serverReady()
                                   ? endpoints.directoryServer +
                                         QLatin1StringView(contract::kAnnouncementPath)
                                   : endpoints.homePage,
                               true);
    AnnouncementRequest_->onDone([this] {
        const std::unique_ptr<platform::HttpRequest> request = std::move(AnnouncementRequest_);
        // Without a complete answer the line keeps what it shows, and a
        // station named since the announcement was asked for stays until
        // the next tick.
        if (request->ReadyState() == platform::HttpRequest::kDone && !stationShownSinceAsked_) {
            Label4->setText(Module1::TextBetween(request->responseText(), contract::kAnnouncement));
        }
    });
    stationShownSinceAsked_ = false;
    AnnouncementRequest_->send();
}
