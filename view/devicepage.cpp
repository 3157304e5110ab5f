// Device search and connection page: slots of MainWindow.
#include "mainwindow.h"

void MainWindow::on_btn_search_clicked() {}
void MainWindow::on_btn_connect_clicked() {}
void MainWindow::DisplayBtDevice(int, char *, char *) {}
