// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;

namespace platform {

// Every message box carries the application title.
inline const QString kApplicationTitle = QStringLiteral("Quorvel收音机");

enum class BoxButtons { Ok, OkCancel };
enum class BoxIcon { None, Information };
enum class BoxChoice { Ok, Cancel };

// Modal message boxes. Tests replace them with a recording fake, since a real
// modal box would block.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual BoxChoice show(QWidget *parent, const QString &text, BoxButtons buttons, BoxIcon icon,
                           const QString &title = kApplicationTitle) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
public:
    BoxChoice show(QWidget *parent, const QString &text, BoxButtons buttons, BoxIcon icon,
                   const QString &title = kApplicationTitle) override;
};

} // namespace platform
