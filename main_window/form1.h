// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/platform.h"

#include <QColor>
#include <QPointer>
#include <QWidget>
#include <memory>

class Form3;
class Picture;
class PlaybackSession;
class QGroupBox;
class QLineEdit;
class QListView;
class QScrollBar;
class QTimer;
class QTreeView;
class StationDirectory;

inline const QString kText1Placeholder = QStringLiteral("输入ID");
inline const QString kText1PlaceholderAfterFocus = QStringLiteral("频道ID");
inline constexpr QRgb kText1Silver = 0xC0C0C0;

// The main window: a fixed, borderless, skinned window over the station
// directory and the playback session. Its handlers turn clicks, keys and
// timer ticks into calls on the two, and its controls show what they report.
// Each control's object name is its name here.
class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(platform::Platform &platform, StationDirectory &directory, PlaybackSession &session,
          QWidget *parent = nullptr);
    ~Form1() override;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void createSurface();
    void createChildWindows();
    void describeToAssistiveTechnology();
    void connectHandlers();
    void connectCores();
    void Form_Load();
    void WebBrowser1_DocumentComplete(bool ready);
    void FetchChannels();
    void showStation(const QString &caption);

    void ResetButtonFaces();
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

    platform::Platform &platform_;
    StationDirectory &directory_;
    PlaybackSession &session_;

    // Controls, in stacking order (earlier above later) within their kind.
    QTimer *Timer2;
    QTimer *Timer3;
    QTimer *Timer1;
    QGroupBox *Frame1; // never shown: holds the hidden station list
    QListView *List1;  // the directory's raw lines
    QScrollBar *Slider1;
    QLineEdit *Text1;
    QTreeView *ListView1; // the directory's station table
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

    // Window chrome state.
    bool DragActive = false;
    int DragStartX = 0;
    int DragStartY = 0;
    int MinimisedTicks = 0;

    QPointer<Form3> Form3_; // the quick-search window while it is open
    // The announcement asked for while its answer is awaited, and whether a
    // station has been named on the line since it was asked for.
    std::unique_ptr<platform::HttpRequest> AnnouncementRequest_;
    bool stationShownSinceAsked_ = false;
};
