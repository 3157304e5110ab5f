// One run of the tool on the real-time virtual dongle, brought into a busy state and then
// closed the way the close button does it. The exit stress test starts it over and over.
//
// usage: imu_exit_scenario stream|save|check|calibration
//   stream       connected, reports streaming into the display
//   save         right after a parameter save (which holds the GUI thread for a second),
//                before the controller's answer is shown
//   check        in the middle of a stationary check
//   calibration  calibrating, the ticker between two ticks
//
// Prints "closing" on standard output right before it closes the window, and on standard
// error how long closing took up to the end of main. Exit status: what the event loop
// returned (0), 2 when the state was not reached, 3 for a bad argument.
#include "windowfixture.h"
#include "keepmodules.h"
#include "waituntil.h"

#include "virtualdongle.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

#include <cstdio>

namespace {

constexpr int ReportRate = 300;
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
    dongle.setReportRate(ReportRate);
    setHostBackend(&dongle);

    auto *window = new MainWindow;
    MainWindowProbe probe{*window};
    window->show();
    auto button = [window](const char *name) { return window->findChild<QPushButton *>(name); };

    button("btn_search")->click();
    auto *combo = window->findChild<QComboBox *>("comboBox");
    if (!waitUntil([&] { return combo->findText(Controller) >= 0; }, 10000))
        return notReached("controller listed");
    combo->setCurrentIndex(combo->findText(Controller));
    button("btn_connect")->click();
    const IMU_POS rest = probe.posData();
    if (!waitUntil([&] { return probe.posData().angle1 != rest.angle1
                                || probe.posData().angle2 != rest.angle2; },
                   10000))
        return notReached("reports streaming");

    if (scenario == "calibration") {
        button("btn_start_calib")->click();
        // The first tick comes at once and records the sample held; the next is a second away.
        if (!waitUntil([&] { return probe.magMax()[0] != 0 || probe.magMin()[0] != 0
                                    || probe.magMax()[1] != 0 || probe.magMin()[1] != 0; },
                       5000))
            return notReached("calibration recording");
    } else if (scenario == "check") {
        button("btn_stationary_check")->click();
        if (!waitUntil([&] { return probe.checkCount() > 100; }, 10000))
            return notReached("check under way");
    }

    QElapsedTimer closing;
    auto closeWindow = [&] {
        std::fputs("closing\n", stdout);
        std::fflush(stdout);
        closing.start();
        window->close();
    };
    // Posted like a click on the close button that waited in the queue. For the save it is
    // posted before the press: the click came while the save held the GUI thread, so it is
    // handled before the controller's answer, whose box then opens as the tool shuts down.
    // (The close button cannot be clicked while a box is up: the box is modal.)
    QMetaObject::invokeMethod(window, closeWindow, Qt::QueuedConnection);
    if (scenario == "save")
        button("btn_save_param")->click();

    const int status = app.exec();
    keepLoadedModules();
    delete window;
    setHostBackend(nullptr);
    std::fprintf(stderr, "closed in %lld ms\n", closing.isValid() ? closing.elapsed() : -1LL);
    return status;
}
