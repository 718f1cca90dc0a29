// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/platform.h"
#include "widgets/fixed_dialog.h"

class PlaybackSession;
class QComboBox;
class StationDirectory;
class QGroupBox;
class QLabel;
class QPushButton;
class QTreeView;
class StationRows;

// The quick-search window: finds stations by keyword in the directory's raw
// lines and plays a result on double-click. Shown modeless beside its parent
// window; destroyed when closed.
class Form3 : public FixedDialog {
    Q_OBJECT
public:
    Form3(platform::Platform &platform, StationDirectory &directory, PlaybackSession &session,
          QWidget *parent);

    QGroupBox *Frame1;
    QLabel *Label1;
    QComboBox *Text1;
    QPushButton *Command1;
    QTreeView *ListView1;
    StationRows *ListView1Rows; // the rows ListView1 shows

    int MatchCounter = 0;

    void ListMatchingStations(const QString &keyword);

private:
    void Form_Load();
    void Command1_Click();
    void ListView1_DblClick();

    platform::Platform &platform_;
    StationDirectory &directory_;
    PlaybackSession &session_;
};
