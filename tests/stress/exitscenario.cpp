// One run of the tool on the real-time virtual dongle, brought into a busy state and closed as
// the close button does it; the exit stress test starts it over and over.
//   usage: imu_exit_scenario stream|save|check|calibration
// Prints "closing" right before it closes the window. Exit status: the event loop's (0), 2
// when the state was not reached, 3 for a bad argument.
#include "windowfixture.h"
#include "keepmodules.h"

#include "virtualdongle.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstdio>

namespace {

const char Controller[] = "00025B0A1C01";

int notReached(const char *what)
{
    std::fprintf(stderr, "state not reached: %s\n", what);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString scenario = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    if (scenario != "stream" && scenario != "save" && scenario != "check"
        && scenario != "calibration") {
        std::fprintf(stderr, "usage: imu_exit_scenario stream|save|check|calibration\n");
        return 3;
    }

    VirtualDongle dongle(VirtualDongle::Clock::RealTime);
    dongle.setReportRate(300);
    setHostBackend(&dongle);

    auto *window = new MainWindow;
    MainWindowProbe probe{*window};
    window->show();
    auto button = [window](const char *name) { return window->findChild<QPushButton *>(name); };

    button("btn_search")->click();
    auto *combo = window->findChild<QComboBox *>("comboBox");
    if (!QTest::qWaitFor([&] { return combo->findText(Controller) >= 0; }, 10000))
        return notReached("controller listed");
    combo->setCurrentIndex(combo->findText(Controller));
    button("btn_connect")->click();
    const IMU_POS rest = probe.posData();
    if (!QTest::qWaitFor([&] { return probe.posData().angle1 != rest.angle1
                                || probe.posData().angle2 != rest.angle2; },
                   10000))
        return notReached("reports streaming");

    if (scenario == "calibration") {
        button("btn_start_calib")->click();
        // The first tick comes at once and records the sample held; the next is a second away.
        if (!QTest::qWaitFor([&] { return probe.magMax()[0] != 0 || probe.magMin()[0] != 0
                                    || probe.magMax()[1] != 0 || probe.magMin()[1] != 0; },
                       5000))
            return notReached("calibration recording");
    } else if (scenario == "check") {
        button("btn_stationary_check")->click();
        if (!QTest::qWaitFor([&] { return probe.checkCount() > 100; }, 10000))
            return notReached("check under way");
    }

    auto closeWindow = [&] {
        std::fputs("closing\n", stdout);
        std::fflush(stdout);
        window->close();
    };
    // Posted like a click on the close button that waited in the queue; for the save, one that
    // came while the save held the GUI thread, so it is handled before the controller's answer.
    QMetaObject::invokeMethod(window, closeWindow, Qt::QueuedConnection);
    if (scenario == "save")
        button("btn_save_param")->click();

    const int status = app.exec();
    keepLoadedModules();
    delete window;
    setHostBackend(nullptr);
    return status;
}
