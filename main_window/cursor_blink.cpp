// SPDX-License-Identifier: GPL-3.0-or-later
#include "main_window/cursor_blink.h"

#include <QApplication>
#include <QEvent>

CursorBlinkTimeout::CursorBlinkTimeout(QObject *parent, std::chrono::milliseconds after)
    : QObject(parent), flashTime_(QApplication::cursorFlashTime()) {
    idle_.setSingleShot(true);
    idle_.setInterval(after);
    // A flash time of 0 keeps the cursor shown without blinking.
    connect(&idle_, &QTimer::timeout, this, [] { QApplication::setCursorFlashTime(0); });
    idle_.start();
    qApp->installEventFilter(this);
}

CursorBlinkTimeout::~CursorBlinkTimeout() {
    QApplication::setCursorFlashTime(flashTime_);
}

bool CursorBlinkTimeout::eventFilter(QObject *watched, QEvent *event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::InputMethod:
    case QEvent::FocusIn:
        blinkAgain();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void CursorBlinkTimeout::blinkAgain() {
    if (QApplication::cursorFlashTime() != flashTime_)
        QApplication::setCursorFlashTime(flashTime_);
    idle_.start();
}
