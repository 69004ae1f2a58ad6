// The least a Qt program with a main window does to start: an empty QMainWindow, shown, ending at
// its first paint. The yardstick for startup_velmarixon in bench_startup.
#include "startup_probe.h"

#include <QMainWindow>

int main(int argc, char* argv[]) {
    vmx::bench::PaintProbe app(argc, argv);
    QMainWindow window;
    window.show();
    return QApplication::exec();
}
