// Start-up of the main window, the readiness check of the directory page and
// the fetch-channels action.

#include "contract/directory_contract.h"
#include "main_window/form1.h"
#include "main_window/picture.h"
#include "station_data/directory_cache.h"
#include "station_data/station_rows.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <QStandardPaths>
#include <utility>

namespace {

const QString kBlankPage = QStringLiteral("about:blank");
const QString kDirectoryPath = QLatin1StringView(contract::kDirectoryPath);

} // namespace

void Form1::Form_Load() {
    CacheFolders = {QCoreApplication::applicationDirPath(),
                    QStandardPaths::writableLocation(QStandardPaths::CacheLocation)};
    ServerReady = false;
    ChannelsFetched = false;
    WebBrowser1->Navigate2(platform_.endpoints().directoryServer + kDirectoryPath);
    RowKeyCounter = 0;
    StoppedByButton = false;
    Slider1->setValue(70);
    WindowsMediaPlayer1->setVolume(Slider1->value());
    Label3->setText(QStringLiteral("版本： ") + QLatin1StringView(contract::kVersion));
    Label4->clear();
    Label2->setText(QStringLiteral("状态：连接服务器"));
    setUpStationTable();
}

void Form1::WebBrowser1_DocumentComplete() {
    if (WebBrowser1->LocationURL() == kBlankPage) {
        return;
    }
    // The marker is ASCII: looked for in the UTF-8 text, which a large page
    // holds in half the memory of a QString.
    if (WebBrowser1->BodyTextUtf8().contains(QByteArrayView(contract::kDirectoryMarker))) {
        Image11->setEnabled(true);
        ServerReady = true;
        Label2->setText(QStringLiteral("状态：就绪"));
    } else {
        Label2->setText(QStringLiteral("状态：连接失败"));
    }
}

void Form1::FetchChannels() {
    if (!ServerReady) {
        platform_.messageBoxes().show(this, QStringLiteral("请等待服务器连接成功！"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::Information);
        return;
    }
    if (!Image11->isEnabled()) {
        return;
    }
    // Once fetched, the browser holds the blank page: a repeated fetch would
    // only empty the table, so it keeps the table and the list as they are.
    if (WebBrowser1->LocationURL() == kBlankPage) {
        return;
    }
    ListView1Rows->clear();
    // The browser lets the page go as soon as its text is taken, and the text
    // goes on into the cache file, so that a large directory is not held as a
    // page or a text and as a table at once.
    QByteArray text = WebBrowser1->BodyTextUtf8();
    WebBrowser1->Navigate2(kBlankPage);
    const QStringList lines = PassThroughCacheFile(CacheFolders, std::move(text));
    addStationLines(lines);
    ChannelsFetched = true;
}
