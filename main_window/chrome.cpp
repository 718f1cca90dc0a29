// SPDX-License-Identifier: GPL-3.0-or-later

// What a system frame would give the borderless main window: dragging,
// button highlights, minimise, close, the re-minimise keeper and the
// channel-ID placeholder.

#include "about_window/form2.h"
#include "main_window/form1.h"
#include "main_window/picture.h"
#include "playback/playback_session.h"
#include "station_data/station_line.h"
#include "widgets/window_look.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <cmath>

namespace {

constexpr int kLeftButtonAlone = 1;
constexpr int kTicksBeforeReminimise = 30;

void ShowFace(Picture *face) {
    // Showing a face that is already visible would cost a repaint for nothing.
    if (face->isHidden()) {
        face->show();
    }
}

} // namespace

void Form1::ResetButtonFaces() {
    for (Picture *face : {Image2, Image4, Image6, Image8, Image11, Image12, Image15}) {
        ShowFace(face);
    }
}

void Form1::DragHandle_MouseDown(float x, float y) {
    // Where the window system moves windows itself (every compositor, and X11
    // window managers), it is asked to: a program cannot place its windows
    // on Wayland. Without such help the window follows the pointer itself.
    if (windowHandle() != nullptr && windowHandle()->startSystemMove()) {
        return;
    }
    DragActive = true;
    // Rounds halves to the even neighbour.
    DragStartX = static_cast<int>(std::lrint(x));
    DragStartY = static_cast<int>(std::lrint(y));
}

void Form1::DragHandle_MouseMove(int buttons, float x, float y) {
    ResetButtonFaces();
    if (buttons != kLeftButtonAlone || !DragActive) {
        return;
    }
    const float top = static_cast<float>(this->y() * kTwipsPerPixel) - DragStartY + y;
    const float left = static_cast<float>(this->x() * kTwipsPerPixel) - DragStartX + x;
    move(static_cast<int>(std::lrint(left / kTwipsPerPixel)),
         static_cast<int>(std::lrint(top / kTwipsPerPixel)));
}

void Form1::DragHandle_MouseUp() {
    DragActive = false;
}

void Form1::GroupA_MouseMove(Picture *face) {
    for (Picture *other : {Image2, Image4, Image6, Image8, Image11}) {
        if (other != face) {
            ShowFace(other);
        }
    }
    face->hide();
}

void Form1::GroupB_MouseMove(Picture *face) {
    ShowFace(face == Image12 ? Image15 : Image12);
    face->hide();
}

void Form1::Image14_Click() {
    setWindowState(windowState() | Qt::WindowMinimized);
}

void Form1::Image13_Click() {
    // The program ends at once: the player is told to stop (its own thread
    // silences libVLC), then the event loop is left without running anything
    // else.
    session_.end();
    // The windows opened from this one close first, so that a message still
    // on its way from the About window is given up, never answered once the
    // program has been told to end.
    for (QDialog *window : findChildren<QDialog *>(Qt::FindDirectChildrenOnly)) {
        window->close();
    }
    hide();
    QCoreApplication::exit(0);
}

void Form1::Image7_Click() {
    // Created for each opening and destroyed when closed; the timers of this
    // window keep running meanwhile.
    Form2 about(platform_, this);
    about.exec();
}

void Form1::Form_Resize() {
    if (!isMinimized()) {
        Timer2->stop();
    } else if (!Timer2->isActive()) {
        Timer2->start();
    }
}

void Form1::Timer2_Timer() {
    ++MinimisedTicks;
    if (MinimisedTicks == kTicksBeforeReminimise) {
        Image14_Click();
        MinimisedTicks = 0;
    }
}

void Form1::showInText1(const QString &text, const QColor &colour) {
    QPalette palette = Text1->palette();
    palette.setColor(QPalette::Text, colour);
    Text1->setPalette(palette);
    Text1->setText(text);
}

void Form1::Text1_Click() {
    showInText1(QString(), Qt::black);
}

void Form1::Text1_LostFocus() {
    if (!NumericValue(Text1->text())) {
        showInText1(kText1PlaceholderAfterFocus, QColor(kText1Silver));
    }
}

void Form1::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    Form_Resize();
}

// Closing the window by any other way (the window system, the desktop's
// media-player interface) ends the program as the close button does.
void Form1::closeEvent(QCloseEvent *event) {
    event->accept();
    Image13_Click();
}

void Form1::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        Form_Resize();
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == Text1) {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            Text1_Click();
        } else if (event->type() == QEvent::FocusOut &&
                   static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason) {
            // The box's own context menu takes the focus only while it is open:
            // the user has not left the box.
            Text1_LostFocus();
        }
    } else if (watched == ListView1->viewport() && event->type() == QEvent::MouseMove) {
        ResetButtonFaces();
    }
    return QWidget::eventFilter(watched, event);
}
