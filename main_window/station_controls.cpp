// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's controls over the two cores: start-up, the directory's
// readiness and fetch, play by table row or typed ID, play/stop, volume, the
// quick-search button and the status monitor.

#include "contract/directory_contract.h"
#include "main_window/form1.h"
#include "main_window/picture.h"
#include "playback/playback_session.h"
#include "search_window/form3.h"
#include "station_data/station_directory.h"
#include "station_data/station_rows.h"
#include "station_data/station_table.h"
#include "widgets/station_table_view.h"
#include "widgets/window_look.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>

void Form1::connectCores() {
    connect(&directory_, &StationDirectory::pageLoaded, this, &Form1::WebBrowser1_DocumentComplete);
    connect(
        &session_, &PlaybackSession::stationStarted, this,
        [this](const QString &, const QString &, const QString &caption) { showStation(caption); });
    connect(&session_, &PlaybackSession::status, Label2, &Picture::setText);
    connect(&session_, &PlaybackSession::titleChanged, Label4, &Picture::setPlainToolTip);
    connect(&session_, &PlaybackSession::volumeChanged, Slider1, &QScrollBar::setValue);
    OnStationDoubleClick(*ListView1, [this] { ListView1_DblClick(); });
}

void Form1::Form_Load() {
    directory_.start();
    session_.setVolume(70);
    Label3->setText(QStringLiteral("版本： ") + QLatin1StringView(contract::kVersion));
    Label4->clear();
    Label2->setText(QStringLiteral("状态：连接服务器"));
    QList<int> widths;
    for (const int twips : StationTableWidthsTwips()) {
        widths.append((twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
    }
    SetUpStationTable(*ListView1, directory_.tableRows(), widths);
}

void Form1::WebBrowser1_DocumentComplete(bool ready) {
    if (ready) {
        Image11->setEnabled(true);
        Label2->setText(QStringLiteral("状态：就绪"));
    } else {
        Label2->setText(QStringLiteral("状态：连接失败"));
    }
}

void Form1::FetchChannels() {
    if (!directory_.serverReady()) {
        platform_.messageBoxes().show(this, QStringLiteral("请等待服务器连接成功！"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::Information);
        return;
    }
    if (Image11->isEnabled()) {
        directory_.FetchChannels();
    }
}

void Form1::showStation(const QString &caption) {
    setWindowTitle(caption);
    Label4->setText(caption);
    stationShownSinceAsked_ = true;
}

void Form1::ListView1_DblClick() {
    if (const std::optional<QString> id = SelectedStationId(*ListView1)) {
        session_.PlayAndReport(*id);
    }
}

bool Form1::channelsFetchedOrTell() {
    if (!directory_.channelsFetched()) {
        platform_.messageBoxes().show(this, QStringLiteral("请先获取频道！"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::Information);
    }
    return directory_.channelsFetched();
}

void Form1::Image3_Click() {
    if (channelsFetchedOrTell()) {
        session_.PlayAndReport(Text1->text());
    }
}

void Form1::Image5_Click() {
    if (!channelsFetchedOrTell()) {
        return;
    }
    if (!Form3_) {
        Form3_ = new Form3(platform_, directory_, session_, this);
    }
    Form3_->show();
    Form3_->raise();
    Form3_->activateWindow();
}

void Form1::Image9_Click() {
    Image8->hide();
    session_.playStop();
}

// The thumb's position while it is dragged; the value itself follows only
// after this notification.
void Form1::Slider1_Scroll(int position) {
    session_.setVolume(position);
}

void Form1::Timer1_Timer() {
    session_.monitor();
}
