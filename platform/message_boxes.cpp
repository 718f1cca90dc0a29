// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/message_boxes.h"

#include <QMessageBox>

namespace platform {

BoxChoice QtMessageBoxes::show(QWidget *parent, const QString &text, BoxButtons buttons,
                               BoxIcon icon, const QString &title) {
    QMessageBox box(icon == BoxIcon::Information ? QMessageBox::Information : QMessageBox::NoIcon,
                    title, text, QMessageBox::Ok, parent);
    // Box texts carry server text (the update check's version): shown as
    // written, never as markup that could name pictures or files to load.
    box.setTextFormat(Qt::PlainText);
    if (buttons == BoxButtons::OkCancel) {
        box.addButton(QMessageBox::Cancel);
    }
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? BoxChoice::Ok : BoxChoice::Cancel;
}

} // namespace platform
