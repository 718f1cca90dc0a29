// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>

// A picture or label of the main window's surface, its text always plain. It
// never takes the keyboard focus and reports mouse events in twips relative to
// itself, with the button state as a bit set (1 left, 2 right, 4 middle). A
// disabled picture looks as it does enabled; it only takes no mouse input.
class Picture : public QLabel {
    Q_OBJECT
public:
    explicit Picture(QWidget *parent);

    // Sets the tooltip so that it shows the text as written, never as markup.
    void setPlainToolTip(const QString &text);

signals:
    void mousePressed(int buttons, float x, float y);
    void mouseMoved(int buttons, float x, float y);
    void mouseReleased(int buttons, float x, float y);
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};
