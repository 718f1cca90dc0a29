#pragma once

#include "main_window/fixed_dialog.h"

class Form1;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTreeView;
class StationRows;

// The quick-search window: finds stations by keyword in the main window's
// raw station list and plays a result on double-click. Shown modeless;
// destroyed when closed.
class Form3 : public FixedDialog {
    Q_OBJECT
public:
    explicit Form3(Form1 &main);

    QGroupBox *Frame1;
    QLabel *Label1;
    QComboBox *Text1;
    QPushButton *Command1;
    QTreeView *ListView1;
    StationRows *ListView1Rows; // the rows ListView1 shows

    int MatchCounter = 0;

    void ListMatchingStations(const QString &keyword);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void Command1_Click();
    void ListView1_DblClick();

    Form1 &main_;
};
