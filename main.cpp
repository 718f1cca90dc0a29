#include "main_window/form1.h"
#include "platform/qt_translation.h"
#include "platform/real_platform.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvel-radio"));
    QApplication::setApplicationVersion(QStringLiteral("1.59"));
    platform::InstallQtTranslation(application);

    platform::RealPlatform platform(platform::BuiltInEndpoints());
    Form1 window(platform);
    window.show();
    return QApplication::exec();
}
