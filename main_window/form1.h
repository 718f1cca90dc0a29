#pragma once

#include "platform/platform.h"
#include "station_data/station_ids.h"

#include <QColor>
#include <QPointer>
#include <QWidget>
#include <memory>

class Form3;
class ListBox;
class Picture;
class QColor;
class QGroupBox;
class QLineEdit;
class QScrollBar;
class QTimer;
class QTreeView;
class StationRows;

inline const QString kText1Placeholder = QStringLiteral("输入ID");
inline const QString kText1PlaceholderAfterFocus = QStringLiteral("频道ID");
inline constexpr QRgb kText1Silver = 0xC0C0C0;

// The main window: a fixed, borderless, skinned window holding the station
// table. Its controls keep their designer names and are the program's data
// store: List1 holds the raw directory lines, ListView1 shows them.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(platform::Platform &platform, QWidget *parent = nullptr);
    ~Form1() override;

    // Controls, in stacking order (earlier above later) within their kind.
    QTimer *Timer2;
    QTimer *Timer3;
    QTimer *Timer1;
    QGroupBox *Frame1; // never shown: holds the hidden station list
    ListBox *List1;
    std::unique_ptr<platform::WebBrowser> WebBrowser1;
    std::unique_ptr<platform::MediaPlayer> WindowsMediaPlayer1;
    QScrollBar *Slider1;
    QLineEdit *Text1;
    QTreeView *ListView1;
    StationRows *ListView1Rows = nullptr; // the rows ListView1 shows
    Picture *Label1;
    Picture *Label4;
    Picture *Label3;
    Picture *Label2;
    Picture *Image15;
    Picture *Image14;
    Picture *Image8;
    Picture *Image9;
    Picture *Image12;
    Picture *Image13;
    Picture *Image6;
    Picture *Image4;
    Picture *Image2;
    Picture *Image11;
    Picture *Image10;
    Picture *Image7;
    Picture *Image5;
    Picture *Image3;
    Picture *Image1;

    // Directory state.
    bool ServerReady = false;
    bool ChannelsFetched = false;
    bool StoppedByButton = false;
    qint64 RowKeyCounter = 0;
    StationIdIndex StationIds; // of the lines in List1
    // Folders tried in turn for the directory cache file; the program's own
    // folder first, then the user's cache folder.
    QStringList CacheFolders;

    // Window chrome state.
    bool DragActive = false;
    int DragStartX = 0;
    int DragStartY = 0;
    int MinimisedTicks = 0;

    platform::Platform &platform() { return platform_; }

    // Station directory and table.
    void FetchChannels();
    void AddStationLine(const QString &line);
    // AddStationLine for each line in turn, with one update of the list and table.
    void addStationLines(const QStringList &lines);

    // Makes every normal button face visible again.
    void ResetButtonFaces();

    // Playback.
    enum class PlayReport { None, Send };
    // Names the station of the first line with this ID in the caption and the
    // message line and starts its stream; reports the play when asked.
    void startStation(const QString &id, PlayReport report);
    void PlayAndReport(const QString &id);
    // Reports a play to the directory server. Reports go out one after
    // another, in the order of the plays, without the window waiting for them.
    void idz(const QString &id);

signals:
    // A station's stream has been started from the table, the ID box or quick search.
    void stationStarted(const QString &id, const QString &name);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void describeToAssistiveTechnology();
    void connectHandlers();
    void Form_Load();
    void setUpStationTable();
    void WebBrowser1_DocumentComplete();

    void DragHandle_MouseDown(float x, float y);
    void DragHandle_MouseMove(int buttons, float x, float y);
    void DragHandle_MouseUp();
    void GroupA_MouseMove(Picture *face);
    void GroupB_MouseMove(Picture *face);
    void Image14_Click();
    void Image13_Click();
    void Image7_Click();
    void Form_Resize();
    void Timer2_Timer();
    void ListView1_DblClick();
    bool channelsFetchedOrTell();
    void Image3_Click();
    void Image5_Click();
    void Image9_Click();
    void Slider1_Scroll(int position);
    void Timer1_Timer();
    void Timer3_Timer();
    void Text1_Click();
    void Text1_LostFocus();
    void showInText1(const QString &text, const QColor &colour);

    void sendNextPlayReport();

    platform::Platform &platform_;
    QPointer<Form3> Form3_; // the quick-search window while it is open
    // Requests to servers while their answers are awaited.
    std::unique_ptr<platform::HttpRequest> AnnouncementRequest_;
    std::unique_ptr<platform::HttpRequest> PlayReportRequest_;
    QStringList PlayReportsWaiting_; // addresses of reports not sent yet
};
