#include "platform/real_platform.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvel-radio"));
    QApplication::setApplicationVersion(QStringLiteral("1.59"));

    platform::RealPlatform platform(platform::BuiltInEndpoints());

    // Until the main window exists, a plain window stands in for it.
    QLabel window(QStringLiteral("Quorvel收音机 1.59\n") + platform.endpoints().directoryServer);
    window.setWindowTitle(platform::kApplicationTitle);
    window.setAlignment(Qt::AlignCenter);
    window.resize(629, 466);
    window.show();
    return QApplication::exec();
}
