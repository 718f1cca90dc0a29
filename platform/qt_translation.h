// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QCoreApplication;

namespace platform {

// Installs Qt's own Chinese translation, so that the texts Qt supplies (the
// standard buttons "确定" and "取消", the edit menus) read as the rest of the
// program does. Without the translation installed they stay in English.
void InstallQtTranslation(QCoreApplication &application);

} // namespace platform
