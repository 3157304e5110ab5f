// Live display of the connected controller: slots of MainWindow.
#include "mainwindow.h"

void MainWindow::DisplayBtnData(short, short, short, short) {}
void MainWindow::DisplayRawData(IMU_RAW) {}
void MainWindow::DisplayPosData(IMU_POS) {}
