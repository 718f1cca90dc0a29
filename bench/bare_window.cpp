// The anchor of bench_startup: a bare Qt window that links nothing else. Shows
// itself, prints the shared libraries and resident memory it has by then, and
// leaves.

#include "bench/process_figures.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.show();
    QApplication::processEvents();
    bench::PrintProcessFigures();
    return 0;
}
