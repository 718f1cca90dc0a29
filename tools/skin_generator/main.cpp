// SPDX-License-Identifier: GPL-3.0-or-later

// Draws the main window's skin pictures and the program icon and writes them
// into the repository given as the only argument.

#include "tools/skin_generator/ico_file.h"
#include "tools/skin_generator/icon_art.h"
#include "tools/skin_generator/skin_art.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>

namespace {

constexpr int kJpegQuality = 95;

bool Report(bool written, const QString &path, const QString &error) {
    if (written) {
        qInfo("wrote %s", qPrintable(QDir::toNativeSeparators(path)));
    } else {
        qCritical("cannot write %s: %s", qPrintable(path), qPrintable(error));
    }
    return written;
}

// Writes a picture in the format its suffix names; JPEG is written baseline.
bool WritePicture(const QImage &image, const QString &path) {
    QImageWriter writer(path);
    if (path.endsWith(QLatin1String(".jpg"))) {
        writer.setQuality(kJpegQuality);
        writer.setProgressiveScanWrite(false);
    }
    const bool written = writer.write(image);
    return Report(written, path, writer.errorString());
}

bool WriteBytes(const QByteArray &bytes, const QString &path) {
    QFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    return Report(written, path, file.errorString());
}

// Writes a face and its highlighted twin: <name>.bmp and <name>_hot.bmp.
template <typename Button, typename Paint>
bool WriteFacePair(const QDir &folder, const QImage &background, const Button &button,
                   Paint paint) {
    const QString stem = folder.filePath(button.name);
    return WritePicture(paint(background, button, skin::Highlight::Normal), stem + ".bmp") &&
           WritePicture(paint(background, button, skin::Highlight::Hot), stem + "_hot.bmp");
}

bool WriteSkin(const QDir &folder) {
    const QImage background = skin::Background();
    bool written = WritePicture(background, folder.filePath(QStringLiteral("background.jpg")));
    for (const skin::WideButton &button : skin::WideButtons()) {
        written = written && WriteFacePair(folder, background, button, skin::WideFace);
    }
    for (const skin::WindowButton &button : skin::WindowButtons()) {
        written = written && WriteFacePair(folder, background, button, skin::WindowFace);
    }
    return written;
}

bool WriteIcon(const QDir &folder) {
    const QImage small = skin::ProgramIcon(48);
    const QImage large = skin::ProgramIcon(128);
    const QByteArray ico = skin::IcoFile({{small, skin::IcoEncoding::Palette8},
                                          {large, skin::IcoEncoding::Png},
                                          {small, skin::IcoEncoding::Bitmap32}});
    return WritePicture(small, folder.filePath(QStringLiteral("quorvel-48.png"))) &&
           WritePicture(large, folder.filePath(QStringLiteral("quorvel-128.png"))) &&
           WriteBytes(ico, folder.filePath(QStringLiteral("quorvel.ico")));
}

} // namespace

int main(int argc, char *argv[]) {
    const QGuiApplication application(argc, argv);
    if (argc != 2) {
        qCritical("usage: quorvel-skin-generator REPOSITORY_ROOT");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const QDir skinFolder(root.filePath(QStringLiteral("main_window/skin")));
    const QDir iconFolder(root.filePath(QStringLiteral("resources")));
    if (!skinFolder.exists() || !iconFolder.exists()) {
        qCritical("%s is not the repository root", argv[1]);
        return 2;
    }
    return WriteSkin(skinFolder) && WriteIcon(iconFolder) ? 0 : 1;
}
