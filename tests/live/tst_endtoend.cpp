// The whole job on the virtual dongle in real time, through the window's own buttons:
// search, connect, watch the live display, calibrate, save, check still and turning, close.
#include "windowfixture.h"

#include "btthread.h"
#include "calibthread.h"
#include "magcalibration.h"
#include "magthread.h"
#include "paramframe.h"
#include "virtualdongle.h"

#include <QComboBox>
#include <QGLWidget>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {
constexpr int ReportRate = 300;   // orientation samples per second: a check takes ~3.5 s
const char ControllerA[] = "00025B0A1C01";
} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void wholeJob();
    void closingWhileBusy();

private:
    QLabel *label(const char *name) { return window->findChild<QLabel *>(name); }
    void click(const char *button) { window->findChild<QPushButton *>(button)->click(); }
    void searchAndConnect();
    // Runs a check to its verdict box and records the box's text.
    void runCheck(QString *verdict);

    std::unique_ptr<PictureDir> pictures;
    std::unique_ptr<VirtualDongle> dongle;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
};

void TestEndToEnd::initTestCase()
{
    pictures.reset(new PictureDir);
    QVERIFY(pictures->isValid());
}

void TestEndToEnd::init()
{
    dongle.reset(new VirtualDongle(VirtualDongle::Clock::RealTime));
    dongle->setReportRate(ReportRate);
    setHostBackend(dongle.get());
    window.reset(new MainWindow);
    probe.reset(new MainWindowProbe{*window});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestEndToEnd::cleanup()
{
    if (probe)
        probe->stopWorkers();
    probe.reset();
    window.reset();
    setHostBackend(nullptr);
    dongle.reset();
}

void TestEndToEnd::searchAndConnect()
{
    auto *combo = window->findChild<QComboBox *>("comboBox");
    click("btn_search");
    QTRY_COMPARE_WITH_TIMEOUT(combo->count(), VirtualDongle::ControllerCount, 5000);
    QVERIFY(window->findChild<QPushButton *>("btn_connect")->isEnabled());
    const int index = combo->findText(QLatin1String(ControllerA));
    QVERIFY(index >= 0);
    combo->setCurrentIndex(index);

    click("btn_connect");
    QTRY_VERIFY_WITH_TIMEOUT(!label("lab_status")->text().contains("Unconnected"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(probe->rawData().mag_x != 0 || probe->rawData().mag_y != 0
                                     || probe->rawData().mag_z != 0,
                             5000);
}

void TestEndToEnd::runCheck(QString *verdict)
{
    BoxCatcher boxes;
    click("btn_stationary_check");
    QTRY_VERIFY_WITH_TIMEOUT(!boxes.seen.isEmpty(), 20000);
    QCOMPARE(boxes.seen.first().title, QStringLiteral("Stationary"));
    *verdict = boxes.seen.first().text;
}

void TestEndToEnd::wholeJob()
{
    searchAndConnect();

    // The display follows the controller: still, so the shown angles are the model's.
    const VirtualController::Truth still = dongle->controllerTruth(0, dongle->now());
    QVERIFY(!still.turning);
    const float shown[3] = {probe->posData().angle1, probe->posData().angle2,
                            probe->posData().angle3};
    for (int i = 0; i < 3; ++i) {
        const float expected = still.angleTenths[i] / 10.0f;
        QVERIFY2(std::fabs(shown[i] - expected) <= 0.15f,
                 qPrintable(QString("angle%1 %2, model %3").arg(i + 1).arg(shown[i]).arg(expected)));
    }
    QCOMPARE(label("lab_magdata_z")->text(), QString::number(probe->rawData().mag_z));

    // Calibration: the first tick comes at once and records the held sample.
    click("btn_magnet");
    click("btn_start_calib");
    QTRY_VERIFY_WITH_TIMEOUT(label("lab_max_x")->text() != "0" || label("lab_min_x")->text() != "-0"
                                     || label("lab_max_y")->text() != "0"
                                     || label("lab_min_y")->text() != "-0",
                             3000);
    QCOMPARE(label("lab_block_x")->geometry(),
             MagCalibration::barRect(0, probe->magMax()[0], probe->magMin()[0]));

    // Save: what the page shows is what the controller gets, and it says so.
    MAG_PARAM shownParam;
    shownParam.max_x = label("lab_max_x")->text().toShort();
    shownParam.max_y = label("lab_max_y")->text().toShort();
    shownParam.max_z = label("lab_max_z")->text().toShort();
    shownParam.min_x = label("lab_min_x")->text().toShort();
    shownParam.min_y = label("lab_min_y")->text().toShort();
    shownParam.min_z = label("lab_min_z")->text().toShort();
    {
        BoxCatcher boxes;
        click("btn_save_param");
        QTRY_VERIFY_WITH_TIMEOUT(!boxes.seen.isEmpty(), 5000);
        QCOMPARE(boxes.seen.first().title, QString());
        QCOMPARE(boxes.seen.first().text, QStringLiteral("Write data success!"));
        QCOMPARE(boxes.seen.size(), 1);
    }
    const auto frames = dongle->receivedFrames(0);
    QCOMPARE(frames.size(), size_t(1));
    const ParamFrame expectedFrame = buildParamFrame(shownParam);
    QCOMPARE(frames[0], std::vector<uint8_t>(expectedFrame.begin(), expectedFrame.end()));

    // The check passes while the controller lies still.
    click("btn_valid");
    QString verdict;
    runCheck(&verdict);
    QCOMPARE(verdict, QStringLiteral("Station check success!"));
    QVERIFY2(!dongle->controllerTruth(0, dongle->now()).turning,
             "the still phase ended before the check did; the machine is too slow");

    // The controller starts turning after its still phase, gently at first; a few seconds in
    // it turns fast enough for the check to see it at this sample rate.
    const int barsBefore = label("lab_block_x")->height() + label("lab_block_y")->height()
                           + label("lab_block_z")->height();
    QTRY_VERIFY_WITH_TIMEOUT(dongle->now() >= VirtualController::StillMs, 30000);

    // Controls, 3-D view and calibration bars follow it.
    click("btn_setup");
    QTRY_VERIFY_WITH_TIMEOUT(label("lab_rocker_cross")->pos() != QPoint(287, 87), 5000);
    auto *view = window->findChild<QGLWidget *>("glwg_rotation");
    const QImage before = view->grabFrameBuffer();
    QTRY_VERIFY_WITH_TIMEOUT(view->grabFrameBuffer() != before, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(label("lab_block_x")->height() + label("lab_block_y")->height()
                                     + label("lab_block_z")->height()
                                 > barsBefore,
                             5000);

    // And the check fails while it turns.
    QTRY_VERIFY_WITH_TIMEOUT(dongle->now() >= VirtualController::StillMs + 4000, 10000);
    click("btn_valid");
    runCheck(&verdict);
    QCOMPARE(verdict, QStringLiteral("Station check failed!"));
    QVERIFY(dongle->controllerTruth(0, dongle->now()).turning);
}

void TestEndToEnd::closingWhileBusy()
{
    searchAndConnect();
    click("btn_start_calib");
    click("btn_stationary_check");
    QTRY_VERIFY_WITH_TIMEOUT(probe->checkCount() > 10, 5000);

    QPointer<BtThread> bt = probe->btThread();
    QPointer<MagThread> mag = probe->magThread();
    QPointer<CalibThread> calib = probe->calibThread();
    QVERIFY(bt && mag && calib);

    // Streaming, calibrating and mid-check: closing the window ends every worker at once.
    QElapsedTimer clock;
    clock.start();
    probe.reset();
    window.reset();
    const qint64 elapsed = clock.elapsed();
    qInfo("workers stopped and window closed in %lld ms", elapsed);
    QVERIFY2(elapsed < 500, qPrintable(QString::number(elapsed)));
    QVERIFY(!bt && !mag && !calib);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
