#include "hostlayer.h"
#include "mainwindow.h"
#include "virtualdongle.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // The BLE worker talks through the virtual dongle until a layer for a real adapter exists.
    // It is installed before the window, so before any search can start a worker, and it
    // outlives the window, whose destructor stops the worker.
    VirtualDongle dongle;
    setHostBackend(&dongle);

    MainWindow *window = new MainWindow;
    window->setWindowOpacity(0.95);
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->show();
    const int exitCode = app.exec();
    delete window;
    setHostBackend(nullptr);
    return exitCode;
}
