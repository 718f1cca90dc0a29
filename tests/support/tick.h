// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaObject>
#include <QTimer>

namespace testsupport {

// Runs a timer's handler at once, as if its interval had just passed.
inline void Tick(QTimer *timer) {
    QMetaObject::invokeMethod(timer, "timeout");
}

} // namespace testsupport
