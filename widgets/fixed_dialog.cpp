// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/fixed_dialog.h"

#include "widgets/window_look.h"

#include <QKeyEvent>

FixedDialog::FixedDialog(QWidget *parent, QSize clientSize)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setFixedSize(clientSize);
    CentreOnScreen(*this);
}

void FixedDialog::keyPressEvent(QKeyEvent *event) {
    if (event->matches(QKeySequence::Cancel)) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
