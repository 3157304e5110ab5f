#include "hostlayer.h"
#include "mainwindow.h"
#include "qtblehost.h"

#include <QApplication>

// The tool on the computer's own Bluetooth adapter. (imu-calibration-tool-demo is the same
// tool on the virtual dongle.)
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // Installed before the window, so before any search can start a worker, and it outlives
    // the window, whose destructor stops the worker.
    QtBleHost host;
    setHostBackend(&host);

    MainWindow *window = new MainWindow;
    window->setWindowOpacity(0.95);
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->show();
    const int exitCode = app.exec();
    delete window;
    setHostBackend(nullptr);
    return exitCode;
}
