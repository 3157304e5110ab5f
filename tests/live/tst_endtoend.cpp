// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The whole job on the virtual dongle in real time, through the window's own buttons.
#include "boxcatcher.h"
#include "picturedir.h"
#include "waits.h"
#include "windowprobe.h"

#include "magcalibration.h"
#include "protocol.h"
#include "recordfile.h"
#include "virtualdongle.h"

#include <QComboBox>
#include <QGLWidget>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <cmath>
#include <memory>

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void wholeJob();

private:
    QLabel *label(const char *name) { return window->findChild<QLabel *>(name); }
    void click(const char *button) { window->findChild<QPushButton *>(button)->click(); }
    void searchAndConnect();
    QString runCheck();

    std::unique_ptr<PictureDir> pictures;
    QTemporaryDir recordDir;
    std::unique_ptr<RecordFile> record;   // outlives the window that writes to it
    std::unique_ptr<VirtualDongle> dongle;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
    int controller = -1;   // the one connected to
};

void TestEndToEnd::initTestCase()
{
    pictures.reset(new PictureDir);
    QVERIFY(pictures->isValid());
}

void TestEndToEnd::init()
{
    dongle.reset(new VirtualDongle(VirtualDongle::Clock::RealTime));
    dongle->setReportRate(300);   // orientation samples per second: a check takes ~3.5 s
    setHostBackend(dongle.get());
    window.reset(new MainWindow);
    probe.reset(new MainWindowProbe{*window});
    QVERIFY(showAndWait(window.get()));
}

void TestEndToEnd::cleanup()
{
    if (probe)
        probe->stopWorkers();
    probe.reset();
    window.reset();
    record.reset();
    setHostBackend(nullptr);
    dongle.reset();
    controller = -1;
}

void TestEndToEnd::searchAndConnect()
{
    auto *combo = window->findChild<QComboBox *>("comboBox");
    click("btn_connect");   // with nothing listed: nothing happens
    click("btn_search");
    QTRY_COMPARE_WITH_TIMEOUT(combo->count(), VirtualDongle::ControllerCount, WaitDeadline);
    // The last entry, so a connect that ignores the choice goes elsewhere.
    combo->setCurrentIndex(combo->count() - 1);
    for (int i = 0; i < VirtualDongle::ControllerCount; ++i) {
        char text[Protocol::AddressTextLength + 1];
        Protocol::formatAddressText(VirtualDongle::controllerAddress(i), text);
        if (combo->currentText() == QLatin1String(text))
            controller = i;
    }
    QVERIFY(controller >= 0);
    click("btn_connect");
    QTRY_VERIFY_WITH_TIMEOUT(!label("lab_status")->text().contains("Unconnected"), WaitDeadline);
    QTRY_VERIFY_WITH_TIMEOUT(probe->rawData().mag_x != 0 || probe->rawData().mag_y != 0
                                 || probe->rawData().mag_z != 0, WaitDeadline);
}

QString TestEndToEnd::runCheck()
{
    BoxCatcher boxes;
    click("btn_stationary_check");
    if (!QTest::qWaitFor([&] { return !boxes.seen.isEmpty(); }, WaitDeadline))
        return QStringLiteral("no verdict");
    return boxes.seen.first().title + ": " + boxes.seen.first().text;
}

void TestEndToEnd::wholeJob()
{
    record.reset(new RecordFile(recordDir.filePath("units.jsonl"), "virtual"));
    window->setRecordFile(record.get());
    searchAndConnect();

    // Still, so the shown angles are the model's.
    const VirtualController::Truth still = dongle->controllerTruth(controller, dongle->now());
    QVERIFY(!still.turning);
    const float shown[3] = {probe->posData().angle1, probe->posData().angle2,
                            probe->posData().angle3};
    for (int i = 0; i < 3; ++i)
        QVERIFY2(std::fabs(shown[i] - still.angleTenths[i] / 10.0f) <= 0.15f, qPrintable(QString::number(i)));
    QCOMPARE(label("lab_magdata_z")->text(), QString::number(probe->rawData().mag_z));

    click("btn_magnet");
    click("btn_start_calib");
    QTRY_VERIFY_WITH_TIMEOUT(label("lab_max_x")->text() != "0" || label("lab_min_x")->text() != "-0"
                                 || label("lab_max_y")->text() != "0"
                                 || label("lab_min_y")->text() != "-0", WaitDeadline);
    QCOMPARE(label("lab_block_x")->geometry(),
             MagCalibration::barRect(0, probe->magMax()[0], probe->magMin()[0]));

    // What the page shows is what the controller gets, and it says so.
    auto value = [this](const char *name) { return int16_t(label(name)->text().toShort()); };
    const Protocol::ParamFrame expected = Protocol::buildParamFrame({value("lab_max_x"), value("lab_max_y"),
        value("lab_max_z"), value("lab_min_x"), value("lab_min_y"), value("lab_min_z")});
    // A controller lying still gives no calibration: Save asks first. Cancel writes nothing;
    // Save anyway writes, and the controller answers.
    {
        BoxCatcher boxes;
        click("btn_save_param");
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY2(boxes.seen.first().text.startsWith("This calibration does not pass"),
                 qPrintable(boxes.seen.first().text));
        QVERIFY(dongle->receivedFrames(controller).empty());
    }
    {
        BoxCatcher boxes([] { clickMessageBoxButton("Save anyway"); });
        click("btn_save_param");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 2, WaitDeadline);
        QCOMPARE(boxes.seen.last().text, QStringLiteral("Write data success!"));
    }
    const auto frames = dongle->receivedFrames(controller);
    QCOMPARE(frames.size(), size_t(1));
    QCOMPARE(frames[0], std::vector<uint8_t>(expected.begin(), expected.end()));

    click("btn_valid");
    QCOMPARE(runCheck(), QStringLiteral("Stationary: Station check success!"));
    QVERIFY2(!dongle->controllerTruth(controller, dongle->now()).turning,
             "the still phase ended before the check did; the machine is too slow");

    // Once the controller turns, controls, 3-D view and calibration bars follow it.
    const int barsBefore = label("lab_block_x")->height() + label("lab_block_y")->height()
                           + label("lab_block_z")->height();
    QTRY_VERIFY_WITH_TIMEOUT(dongle->now() >= VirtualController::StillMs, WaitDeadline);
    click("btn_setup");
    QTRY_VERIFY_WITH_TIMEOUT(label("lab_rocker_cross")->pos() != QPoint(287, 87), WaitDeadline);
    auto *view = window->findChild<QGLWidget *>("glwg_rotation");
    const QImage before = view->grabFrameBuffer();
    QTRY_VERIFY_WITH_TIMEOUT(view->grabFrameBuffer() != before, WaitDeadline);
    QTRY_VERIFY_WITH_TIMEOUT(label("lab_block_x")->height() + label("lab_block_y")->height()
                                 + label("lab_block_z")->height() > barsBefore, WaitDeadline);

    // It turns gently at first; a few seconds in, fast enough for the check to fail.
    QTRY_VERIFY_WITH_TIMEOUT(dongle->now() >= VirtualController::StillMs + 4000, WaitDeadline);
    click("btn_valid");
    QCOMPARE(runCheck(), QStringLiteral("Stationary: Station check failed!"));

    // The record holds each save's answer and each check's verdict, for this controller.
    QFile lines(record->path());
    QVERIFY(lines.open(QIODevice::ReadOnly));
    QStringList recorded;
    for (const QByteArray &line : lines.readAll().trimmed().split('\n')) {
        const QJsonObject fields = QJsonDocument::fromJson(line).object();
        recorded << QStringList{fields.value("address").toString(), fields.value("operation").toString(),
                                fields.value("answer").toString(), QString::number(fields.value("status").toInt())}
                            .join(' ');
    }
    const QString address = window->findChild<QComboBox *>("comboBox")->currentText();
    QCOMPARE(recorded, QStringList({address + " write success 0", address + " check  0", address + " check  1"}));
    QFile again(record->path());
    QVERIFY(again.open(QIODevice::ReadOnly));
    const QJsonObject saved = QJsonDocument::fromJson(again.readLine()).object();
    QCOMPARE(saved.value("forced").toBool(), true);
    QCOMPARE(saved.value("gate").toObject().value("passed").toBool(), false);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
