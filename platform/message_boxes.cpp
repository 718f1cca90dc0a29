#include "platform/message_boxes.h"

#include <QMessageBox>

namespace platform {

BoxChoice QtMessageBoxes::Show(QWidget *parent, const QString &text, BoxButtons buttons,
                               BoxIcon icon, const QString &title) {
    QMessageBox box(icon == BoxIcon::Information ? QMessageBox::Information : QMessageBox::NoIcon,
                    title, text, QMessageBox::Ok, parent);
    if (buttons == BoxButtons::OkCancel) {
        box.addButton(QMessageBox::Cancel);
    }
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? BoxChoice::Ok : BoxChoice::Cancel;
}

} // namespace platform
