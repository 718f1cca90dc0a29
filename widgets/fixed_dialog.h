// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

// A window of the program that the main window opens beside itself: a fixed
// single border without maximise and minimise boxes, its client area of a fixed
// size, first shown centred on the screen. It has no cancel button, so Esc
// closes nothing: what the user typed or found stays until they close it.
class FixedDialog : public QDialog {
    Q_OBJECT
public:
    FixedDialog(QWidget *parent, QSize clientSize);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
