// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The BLE worker on the Qt Bluetooth host layer against the stand-in BlueZ, as the window
// drives it: search, connect, stream, save; a missing or switched-off adapter.
#include "btthread.h"
#include "protocol.h"
#include "qtblehost.h"
#include "standin.h"
#include "waits.h"
#include "stdoutcapture.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QtTest>

#include <cstring>

namespace {


// Receives the worker's signals queued, as the window does.
class Recorder : public QObject
{
public:
    explicit Recorder(BtThread &worker)
    {
        connect(&worker, &BtThread::BtSender, this, [this](int code, char *text, char *address) {
            codes.append(code);
            texts.append(text);
            if (code == 3)
                names.insert(QByteArray(address), QByteArray(text));
        });
        connect(&worker, &BtThread::posSender, this, [this](IMU_POS p) { positions.append(p); });
        connect(&worker, &BtThread::rawSender, this, [this](IMU_RAW) { ++raws; });
    }
    QList<int> codes;
    QList<QByteArray> texts;
    QHash<QByteArray, QByteArray> names;
    QList<IMU_POS> positions;
    int raws = 0;
};

} // namespace

class TestWorkerOnBluez : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QVERIFY(standIn.reset()); }
    void searchConnectStreamAndSave();
    void dongleFailed_data();
    void dongleFailed();

private:
    BluezStandIn standIn;
};

void TestWorkerOnBluez::initTestCase()
{
    // Qt Bluetooth's warnings would land among the worker's console texts.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.bluetooth*=false"));
    QString error;
    QVERIFY2(standIn.start(&error), qPrintable(error));
}

void TestWorkerOnBluez::searchConnectStreamAndSave()
{
    QtBleHost host;
    setHostBackend(&host);
    {
        BtThread worker;
        Recorder rec(worker);
        worker.start();
        QTRY_COMPARE_WITH_TIMEOUT(rec.names.value("00025B0A1C01"), QByteArray("IMU Controller A"), WaitDeadline);
        QCOMPARE(rec.codes.mid(0, 2), (QList<int>{-2, 2}));
        QTRY_COMPARE_WITH_TIMEOUT(rec.names.value("00025BF00001"), QByteArray("Unknown Device"), WaitDeadline);

        worker.connectDevice("00025B0A1C01");
        QTRY_VERIFY_WITH_TIMEOUT(rec.positions.size() > 10 && rec.raws > 0, WaitDeadline);
        const QStringList calls = standIn.log();
        QVERIFY(calls.contains("StopDiscovery"));
        QVERIFY(calls.indexOf("Connect") < calls.indexOf("StartNotify"));

        // Over two seconds' worth of reports (100 a second): the rate, and every report decoded
        // as sent, none lost.
        const int pos0 = rec.positions.size(), raw0 = rec.raws;
        QElapsedTimer timer;
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.positions.size() >= pos0 + 200, WaitDeadline);
        const double seconds = timer.elapsed() / 1000.0;
        const double posRate = (rec.positions.size() - pos0) / seconds;
        const double rawRate = (rec.raws - raw0) / seconds;
        QVERIFY2(posRate > 85 && posRate < 115, qPrintable(QString::number(posRate)));
        QVERIFY2(rawRate > 20 && rawRate < 30, qPrintable(QString::number(rawRate)));
        Protocol::ReportState state;
        QList<IMU_POS> expected;
        for (const QByteArray &bytes : standIn.sent()) {
            if (Protocol::decodeReport(reinterpret_cast<const uint8_t *>(bytes.constData()),
                             size_t(bytes.size()), state).pos)
                expected.append(state.posSample);
        }
        QTRY_VERIFY_WITH_TIMEOUT(rec.positions.size() >= expected.size(), WaitDeadline);
        for (int i = 0; i < expected.size(); ++i)
            QVERIFY2(rec.positions[i].angle1 == expected[i].angle1
                         && rec.positions[i].angle2 == expected[i].angle2
                         && rec.positions[i].angle3 == expected[i].angle3,
                     qPrintable(QString::number(i)));

        StdoutCapture saved;
        QVERIFY(worker.saveParam(MAG_PARAM{120, 35, 200, -75, -200, -3}));
        QCOMPARE(saved.text(), QByteArray("success!"));
        QTRY_COMPARE_WITH_TIMEOUT(standIn.writes(),
                 QByteArrayList{QByteArray::fromHex("5A04010078FFB50023FF3800C8FFFD0000004FA5")}, WaitDeadline);
        QTRY_COMPARE_WITH_TIMEOUT(rec.codes.count(4), 1, WaitDeadline);
        QCOMPARE(rec.texts.last(), QByteArray("Write data success!"));
        worker.stop();
    }
    setHostBackend(nullptr);
}

// No adapter, or one switched off, is a dongle that failed, at start and on every search
// after it went; nothing scans. A search once it is back scans again.
void TestWorkerOnBluez::dongleFailed_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<bool>("powered");
    QTest::addColumn<bool>("whileRunning");
    QTest::newRow("no adapter") << false << true << false;
    QTest::newRow("adapter powered off") << true << false << false;
    QTest::newRow("adapter removed while running") << false << true << true;
    QTest::newRow("adapter switched off while running") << true << false << true;
}

void TestWorkerOnBluez::dongleFailed()
{
    QFETCH(bool, present);
    QFETCH(bool, powered);
    QFETCH(bool, whileRunning);
    const auto fault = [&] { return standIn.setAdapterPresent(present) && standIn.setPowered(powered); };
    if (!whileRunning)
        QVERIFY(fault());
    QtBleHost host;
    setHostBackend(&host);
    {
        BtThread worker;
        Recorder rec(worker);
        worker.start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.codes.size() >= 2, WaitDeadline);
        if (whileRunning) {
            QTRY_VERIFY_WITH_TIMEOUT(rec.names.contains("00025B0A1C01"), WaitDeadline);
            QVERIFY(fault());
        }
        QCOMPARE(rec.codes.count(-1), int(!whileRunning));
        const QByteArray failed("Dongle failed to initialize!Please insert the dongle to computer!\n");
        for (int search = 1; search <= 2; ++search) {
            const int before = rec.codes.count(-1);
            QCOMPARE(worker.restartScan(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(rec.codes.count(-1), before + 1, WaitDeadline);
            QCOMPARE(rec.texts.last(), failed);
        }
        QCOMPARE(standIn.log().count("StartDiscovery"), int(whileRunning));
        QVERIFY(standIn.setAdapterPresent(true) && standIn.setPowered(true));
        rec.names.clear();
        QVERIFY(QTest::qWaitFor([&] { return worker.restartScan() != 0; }, WaitDeadline));
        QTRY_VERIFY_WITH_TIMEOUT(rec.names.contains("00025B0A1C01"), WaitDeadline);
        worker.stop();
    }
    setHostBackend(nullptr);
}

QTEST_GUILESS_MAIN(TestWorkerOnBluez)
#include "tst_workeronbluez.moc"
