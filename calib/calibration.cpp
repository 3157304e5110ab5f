// Magnetometer calibration and stationary check: slots of MainWindow.
#include "mainwindow.h"

void MainWindow::on_btn_start_calib_clicked() {}
void MainWindow::on_btn_save_param_clicked() {}
void MainWindow::DisplayMagData() {}
void MainWindow::on_btn_stationary_check_clicked() {}
void MainWindow::DisplayValidData() {}
