// SPDX-License-Identifier: GPL-3.0-or-later
#include "contract/version.h"
#include "desktop/media_player_service.h"
#include "desktop/single_instance.h"
#include "main_window/form1.h"
#include "platform/background_task.h"
#include "platform/http_transfer.h"
#include "platform/qt_translation.h"
#include "platform/real_platform.h"
#include "playback/playback_session.h"
#include "station_data/station_directory.h"

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char *argv[]) {
    platform::SetUpAllocator();
    QApplication application(argc, argv);
    const auto fonts = platform::FillFontDatabase();
    QApplication::setApplicationName(QStringLiteral("quorvel-radio"));
    QApplication::setApplicationVersion(QLatin1StringView(contract::kVersion));
    QGuiApplication::setDesktopFileName(desktop::kDesktopEntry);

    // A second start only brings the running window to the front.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    desktop::SingleInstance instance(
        bus, QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    if (instance.raiseRunningInstance()) {
        return 0;
    }
    platform::InstallQtTranslation(application);

    platform::LoadHttpModuleAfterWindowsShow();
    platform::RealPlatform platform(platform::BuiltInEndpoints());
    StationDirectory directory(platform);
    PlaybackSession session(platform, directory);
    Form1 window(platform, directory, session);
    desktop::MediaPlayerService mediaPlayerService(session, window, bus);
    if (!instance.publish()) {
        return 0;
    }
    QObject::connect(&instance, &desktop::SingleInstance::raiseRequested, &window,
                     [&window] { desktop::RaiseWindow(window); });
    window.show();
    return QApplication::exec();
}
