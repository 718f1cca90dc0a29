// SPDX-License-Identifier: GPL-3.0-or-later

// The anchors of bench_startup: a bare Qt window that links nothing else, or
// with "text" the same window showing one line of Chinese text, which makes Qt
// read the desktop's fonts as every window with text does. Shows itself,
// prints the shared libraries and resident memory it has by then, and leaves.

#include "bench/process_figures.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    if (argc > 1 && qstrcmp(argv[1], "text") == 0)
        new QLabel(QStringLiteral("状态：就绪"), &window);
    window.show();
    QApplication::processEvents();
    bench::PrintProcessFigures();
    return 0;
}
