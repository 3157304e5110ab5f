#include "runtool.h"
#include "virtualdongle.h"

#include <QApplication>

// The tool on the virtual dongle and its three simulated controllers: runs on any machine,
// with or without Bluetooth.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    VirtualDongle dongle;
    return runTool(app, dongle);
}
