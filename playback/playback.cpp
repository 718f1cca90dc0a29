// Playback control of the main window: play by table row or typed ID,
// play/stop, volume, the quick-search button, the status monitor and the
// play report.

#include "main_window/form1.h"
#include "main_window/picture.h"
#include "playback/play_station.h"
#include "search_window/form3.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTreeView>

void Form1::PlayAndReport(const QString &id) {
    startStation(id, PlayReport::Send);
}

void Form1::idz(const QString &id) {
    PlayReportsWaiting_.append(PlayReportUrl(platform_.endpoints().directoryServer, id));
    if (!PlayReportRequest_) {
        sendNextPlayReport();
    }
}

void Form1::sendNextPlayReport() {
    if (PlayReportsWaiting_.isEmpty()) {
        return;
    }
    PlayReportRequest_ = platform_.createHttpRequest();
    PlayReportRequest_->Open(QStringLiteral("GET"), PlayReportsWaiting_.takeFirst(), true);
    // The answer is not looked at; a report that fails is simply lost.
    PlayReportRequest_->onDone([this] {
        PlayReportRequest_.reset();
        sendNextPlayReport();
    });
    PlayReportRequest_->send();
}

void Form1::ListView1_DblClick() {
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    if (!selected.isEmpty()) {
        PlayAndReport(selected.first().data().toString());
    }
}

bool Form1::channelsFetchedOrTell() {
    if (!ChannelsFetched) {
        platform_.messageBoxes().show(this, QStringLiteral("请先获取频道！"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::Information);
    }
    return ChannelsFetched;
}

void Form1::Image3_Click() {
    if (channelsFetchedOrTell()) {
        PlayAndReport(Text1->text());
    }
}

void Form1::Image5_Click() {
    if (!channelsFetchedOrTell()) {
        return;
    }
    if (!Form3_) {
        Form3_ = new Form3(*this);
    }
    Form3_->show();
    Form3_->raise();
    Form3_->activateWindow();
}

void Form1::Image9_Click() {
    Image8->hide();
    if (!StoppedByButton) {
        WindowsMediaPlayer1->stop();
        StoppedByButton = true;
    } else {
        WindowsMediaPlayer1->play();
        StoppedByButton = false;
    }
}

// The thumb's position while it is dragged; the value itself follows only
// after this notification.
void Form1::Slider1_Scroll(int position) {
    WindowsMediaPlayer1->setVolume(position);
}

void Form1::Timer1_Timer() {
    const int state = WindowsMediaPlayer1->playState();
    // What the station announces it plays, while it plays.
    const bool sounding =
        state == platform::PlayState::Playing || state == platform::PlayState::Buffering;
    Label4->setPlainToolTip(sounding ? WindowsMediaPlayer1->nowPlayingTitle() : QString());
    if (const std::optional<QString> word = StatusWord(state)) {
        Label2->setText(*word);
    } else if (state == platform::PlayState::Ready) {
        // The stream could not be opened: the fallback takes over, while the
        // caption keeps naming the station that was chosen.
        WindowsMediaPlayer1->setURL(platform_.endpoints().fallbackStream);
    }
}
