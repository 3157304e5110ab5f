// The BLE worker on the virtual dongle, in real time and without a window: it comes up,
// lists the controllers, connects to one, streams its reports and writes a calibration.
#include "btthread.h"
#include "virtualdongle.h"

#include <QtTest>

#include <ctime>
#include <map>

namespace {

// Receives the worker's signals on the test thread, as the window would (queued).
class Recorder : public QObject
{
    Q_OBJECT

public:
    QList<QPair<int, QByteArray>> bt;
    std::map<QByteArray, QByteArrayList> names;     // announced names by address
    QByteArray order;       // 'p' posSender, 'b' btnSender, 'r' rawSender

    int count(char c) const { return int(order.count(c)); }

public slots:
    void onBt(int code, char *text, char *address)
    {
        bt.append({code, QByteArray(text)});
        if (code == 3)
            names[address].append(text);
    }
    void onPos(IMU_POS) { order += 'p'; }
    void onRaw(IMU_RAW) { order += 'r'; }
    void onBtn(short, short, short, short) { order += 'b'; }
};

} // namespace

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
    QByteArray written;
    {
        BtThread worker;
        Recorder rec;
        QVERIFY(connect(&worker, &BtThread::BtSender, &rec, &Recorder::onBt));
        QVERIFY(connect(&worker, &BtThread::posSender, &rec, &Recorder::onPos));
        QVERIFY(connect(&worker, &BtThread::rawSender, &rec, &Recorder::onRaw));
        QVERIFY(connect(&worker, &BtThread::btnSender, &rec, &Recorder::onBtn));
        worker.start();

        QTRY_VERIFY_WITH_TIMEOUT(rec.bt.size() >= 2, 5000);
        QCOMPARE(rec.bt[0].first, -2);
        QCOMPARE(rec.bt[1], qMakePair(2, QByteArray("uEnergy Host library is intialized\n")));

        // The named controllers are announced at every sighting, the one first seen without a
        // name only once, as "Unknown Device".
        QTRY_VERIFY_WITH_TIMEOUT(rec.names["00025B0A1C01"].size() >= 3
                                 && rec.names["00025B0A1C02"].size() >= 3, 5000);
        QCOMPARE(rec.names.size(), size_t(3));
        QCOMPARE(rec.names["00025B0A1C01"].count("IMU Controller A"), rec.names["00025B0A1C01"].size());
        QCOMPARE(rec.names["00025B0A1C02"].count("IMU Controller B"), rec.names["00025B0A1C02"].size());
        QCOMPARE(rec.names["00025B0A1C03"], QByteArrayList{"Unknown Device"});

        // Connect as the window does: disconnect first, then connect by address text.
        worker.disconnectDevice();
        worker.connectDevice("00025B0A1C01");
        QTRY_VERIFY_WITH_TIMEOUT(rec.count('p') > 0 && rec.count('r') > 0, 5000);

        const int pos0 = rec.count('p'), raw0 = rec.count('r');
        QElapsedTimer timer;
        timer.start();
        const std::clock_t cpu0 = std::clock();
        QTRY_VERIFY_WITH_TIMEOUT(timer.elapsed() >= 2000, 5000);
        const double seconds = timer.elapsed() / 1000.0;
        // Between events the dongle and the worker sleep: the process stays far from a core.
        const double cpuSeconds = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
        QVERIFY2(cpuSeconds < 0.3 * seconds, qPrintable(QString::number(cpuSeconds)));
        const double posRate = (rec.count('p') - pos0) / seconds;
        const double rawRate = (rec.count('r') - raw0) / seconds;
        QVERIFY2(posRate > 85 && posRate < 115, qPrintable(QString::number(posRate)));
        QVERIFY2(rawRate > 20 && rawRate < 30, qPrintable(QString::number(rawRate)));
        // Every orientation comes with its controls, right after it.
        QByteArray pb = rec.order;
        pb.replace("r", "");
        QCOMPARE(pb.count("pb"), rec.count('p'));
        QCOMPARE(rec.count('b'), rec.count('p'));

        // The calibration frame reaches the controller byte for byte and is acknowledged once.
        const int before = rec.bt.size();
        QVERIFY(worker.saveParam(MAG_PARAM{120, 35, 200, -75, -200, -3}));
        const auto frames = dongle.receivedFrames(0);
        QCOMPARE(frames.size(), size_t(1));
        written = QByteArray(reinterpret_cast<const char *>(frames[0].data()), int(frames[0].size()));
        QTRY_VERIFY_WITH_TIMEOUT(rec.bt.size() > before, 5000);
        QCOMPARE(rec.bt.mid(before), (QList<QPair<int, QByteArray>>{{4, "Write data success!"}}));
        QCOMPARE(dongle.controllerMagCentre(0), (std::array<int16_t, 3>{{22, -82, 98}}));

        worker.stop();
        QVERIFY(worker.isFinished());
    }
    setHostBackend(nullptr);
    QCOMPARE(written.toHex(' ').toUpper(),
             QByteArray("5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5"));
}

QTEST_GUILESS_MAIN(TestWorkerOnVirtualDongle)
#include "tst_workeronvirtualdongle.moc"
