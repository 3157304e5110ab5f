// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The BLE worker on the virtual dongle, in real time and without a window: it comes up,
// lists the controllers, connects to one, streams its reports, passes on a magnetometer spike
// put in from another thread, and writes a calibration.
#include "btthread.h"
#include "virtualdongle.h"
#include "waits.h"

#include <QtTest>

#include <ctime>

class TestWorkerOnVirtualDongle : public QObject
{
    Q_OBJECT

private slots:
    void searchConnectStreamAndCalibrate();
};

void TestWorkerOnVirtualDongle::searchConnectStreamAndCalibrate()
{
    VirtualDongle dongle;
    setHostBackend(&dongle);
    {
        QList<QPair<int, QByteArray>> bt;
        QByteArray order;       // 'p' posSender, 'b' btnSender, 'r' rawSender
        QObject receiver;       // goes before the records, with any signal still queued for it
        BtThread worker;
        connect(&worker, &BtThread::BtSender, &receiver, [&](int code, char *text, char *address) {
            bt.append({code, QByteArray(code == 3 ? address : text)});
        });
        connect(&worker, &BtThread::posSender, &receiver, [&] { order += 'p'; });
        int spiked = 0;         // magnetometer samples carrying the spike's value
        connect(&worker, &BtThread::rawSender, &receiver, [&](IMU_RAW raw) {
            order += 'r';
            spiked += raw.mag_x == 199;
        });
        connect(&worker, &BtThread::btnSender, &receiver, [&] { order += 'b'; });
        worker.start();

        QTRY_VERIFY_WITH_TIMEOUT(bt.size() >= 2, WaitDeadline);
        QCOMPARE(bt[0].first, -2);
        QCOMPARE(bt[1], qMakePair(2, QByteArray("uEnergy Host library is intialized\n")));

        QTRY_VERIFY_WITH_TIMEOUT(bt.contains({3, "00025B0A1C01"}), WaitDeadline);

        // Connect as the window does: disconnect first, then connect by address text.
        worker.disconnectDevice();
        worker.connectDevice("00025B0A1C01");
        QTRY_VERIFY_WITH_TIMEOUT(order.contains('p') && order.contains('r'), WaitDeadline);

        const int pos0 = order.count('p'), raw0 = order.count('r');
        QElapsedTimer timer;
        timer.start();
        const std::clock_t cpu0 = std::clock();
        // Two seconds' worth of orientation reports at the controller's 100 a second.
        QTRY_VERIFY_WITH_TIMEOUT(order.count('p') >= pos0 + 200, WaitDeadline);
        const double seconds = timer.elapsed() / 1000.0;
        // Between events the dongle and the worker sleep: the process stays far from a core.
        const double cpuSeconds = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
        QVERIFY2(cpuSeconds < 0.3 * seconds, qPrintable(QString::number(cpuSeconds)));
        const double posRate = (order.count('p') - pos0) / seconds;
        const double rawRate = (order.count('r') - raw0) / seconds;
        QVERIFY2(posRate > 85 && posRate < 115, qPrintable(QString::number(posRate)));
        QVERIFY2(rawRate > 20 && rawRate < 30, qPrintable(QString::number(rawRate)));
        // Every orientation comes with its controls, right after it.
        QCOMPARE(QByteArray(order).replace("r", "").replace("pb", ""), QByteArray());

        // Three reports' worth of spike, and no more: clean readings stay far below 199.
        dongle.faults().injectMagSpike(0, 199, 3);
        QTRY_COMPARE_WITH_TIMEOUT(spiked, 3, WaitDeadline);
        const int raw1 = order.count('r');
        QTRY_VERIFY_WITH_TIMEOUT(order.count('r') >= raw1 + 5, WaitDeadline);
        QCOMPARE(spiked, 3);

        // The calibration frame reaches the controller, which takes its values, and is
        // acknowledged once.
        const int before = bt.size();
        QVERIFY(worker.saveParam(MAG_PARAM{120, 35, 200, -75, -200, -3}));
        QCOMPARE(dongle.receivedFrames(0).size(), size_t(1));
        QTRY_VERIFY_WITH_TIMEOUT(bt.size() > before, WaitDeadline);
        QCOMPARE(bt.mid(before), (QList<QPair<int, QByteArray>>{{4, "Write data success!"}}));
        QCOMPARE(dongle.controllerMagCentre(0), (std::array<int16_t, 3>{{22, -82, 98}}));

        worker.stop();
        QVERIFY(worker.isFinished());
    }
    setHostBackend(nullptr);
}

QTEST_GUILESS_MAIN(TestWorkerOnVirtualDongle)
#include "tst_workeronvirtualdongle.moc"
