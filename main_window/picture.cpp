// SPDX-License-Identifier: GPL-3.0-or-later
#include "main_window/picture.h"

#include "widgets/window_look.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

float Twips(qreal pixels) {
    return static_cast<float>(pixels * kTwipsPerPixel);
}

} // namespace

Picture::Picture(QWidget *parent) : QLabel(parent) {
    // Labels show announcements and station names from servers: as written,
    // never as markup that could name pictures or files to load.
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
}

// Qt draws a tooltip as rich text whenever it looks like markup, and a server's
// text could name files to load; escaped inside a preformatted paragraph it is
// always drawn as written.
void Picture::setPlainToolTip(const QString &text) {
    setToolTip(
        text.isEmpty()
            ? QString()
            : QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(text.toHtmlEscaped()));
}

void Picture::mousePressEvent(QMouseEvent *event) {
    const QPointF at = event->position();
    emit mousePressed(static_cast<int>(event->button()), Twips(at.x()), Twips(at.y()));
}

void Picture::mouseMoveEvent(QMouseEvent *event) {
    const QPointF at = event->position();
    emit mouseMoved(static_cast<int>(event->buttons()), Twips(at.x()), Twips(at.y()));
}

void Picture::mouseReleaseEvent(QMouseEvent *event) {
    const QPointF at = event->position();
    emit mouseReleased(static_cast<int>(event->button()), Twips(at.x()), Twips(at.y()));
    // A click is a release over the picture that was pressed.
    if (rect().contains(at.toPoint())) {
        emit clicked();
    }
}

void Picture::paintEvent(QPaintEvent *event) {
    const QPixmap picture = pixmap();
    if (picture.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    // Drawn by hand: the label would grey it out while disabled.
    QPainter(this).drawPixmap(0, 0, picture);
}
