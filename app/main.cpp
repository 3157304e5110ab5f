#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // The host-layer backend that the BLE worker talks through is installed here, before the
    // window exists and so before any search can start a worker.

    MainWindow *window = new MainWindow;
    window->setWindowOpacity(0.95);
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->show();
    const int exitCode = app.exec();
    delete window;
    return exitCode;
}
