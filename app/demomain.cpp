#include "hostlayer.h"
#include "mainwindow.h"
#include "virtualdongle.h"

#include <QApplication>

// The tool on the virtual dongle and its three simulated controllers: runs on any machine,
// with or without Bluetooth.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // Installed before the window, so before any search can start a worker, and it outlives
    // the window, whose destructor stops the worker.
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
