#include "qtblehost.h"
#include "runtool.h"

#include <QApplication>

// The tool on the computer's own Bluetooth adapter. (imu-calibration-tool-demo is the same
// tool on the virtual dongle.)
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QtBleHost host;
    return runTool(app, host);
}
