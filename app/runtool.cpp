#include "runtool.h"

#include "hostlayer.h"
#include "mainwindow.h"

#include <QApplication>

int runTool(QApplication &app, HostBackend &backend)
{
    // Installed before the window, so before any search can start a worker; the window's
    // destructor stops the worker while the backend still exists.
    setHostBackend(&backend);

    MainWindow *window = new MainWindow;
    window->setWindowOpacity(0.95);
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->show();
    const int exitCode = app.exec();
    delete window;
    setHostBackend(nullptr);
    return exitCode;
}
