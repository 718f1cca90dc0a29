// SPDX-License-Identifier: GPL-3.0-or-later

// The update check: the home page names the newest version and where to get it.

#include "about_window/form2.h"
#include "contract/directory_contract.h"
#include "station_data/text_between.h"

QString UpdatePrompt(const QString &version) {
    return QStringLiteral("最新版本为 ") + version + QStringLiteral(" 需要下载？");
}

void Form2::CheckForUpdate() {
    const std::unique_ptr<platform::HttpRequest> request = platform_.createHttpRequest();
    request->Open(QStringLiteral("GET"), platform_.endpoints().homePage);
    request->send();
    if (request->ReadyState() != platform::HttpRequest::kDone) {
        return;
    }
    const QString page = request->responseText();
    const QString version = Module1::TextBetween(page, contract::kNewestVersion);
    if (platform_.messageBoxes().show(this, UpdatePrompt(version), platform::BoxButtons::OkCancel,
                                      platform::BoxIcon::None) != platform::BoxChoice::Ok) {
        return;
    }
    // The opener takes only an http or https address, as one URL; anything
    // else starts nothing.
    platform_.urlOpener().open(Module1::TextBetween(page, contract::kDownload));
}
