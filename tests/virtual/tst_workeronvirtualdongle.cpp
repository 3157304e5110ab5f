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
    struct Announcement {
        int code;
        QByteArray text;
        QByteArray address;
    };

    std::vector<Announcement> announcements;
    QByteArray order;       // 'p' posSender, 'b' btnSender, 'r' rawSender
    IMU_POS lastPos;
    IMU_RAW lastRaw;

    int count(char c) const { return int(order.count(c)); }

public slots:
    void onBt(int code, char *text, char *address)
    {
        announcements.push_back({code, QByteArray(text), address ? QByteArray(address) : QByteArray()});
    }
    void onPos(IMU_POS pos)
    {
        lastPos = pos;
        order += 'p';
    }
    void onRaw(IMU_RAW raw)
    {
        lastRaw = raw;
        order += 'r';
    }
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

        // Started, then the dongle is ready.
        QTRY_VERIFY_WITH_TIMEOUT(rec.announcements.size() >= 2, 5000);
        QCOMPARE(rec.announcements[0].code, -2);
        QCOMPARE(rec.announcements[1].code, 2);
        QCOMPARE(rec.announcements[1].text, QByteArray("uEnergy Host library is intialized\n"));

        // Scanning: the named controllers are announced at every sighting, the one first seen
        // without a name only once, as "Unknown Device".
        auto found = [&rec] {
            std::map<QByteArray, std::vector<QByteArray>> names;
            for (const auto &a : rec.announcements) {
                if (a.code == 3)
                    names[a.address].push_back(a.text);
            }
            return names;
        };
        QTRY_VERIFY_WITH_TIMEOUT(found()["00025B0A1C01"].size() >= 3
                                         && found()["00025B0A1C02"].size() >= 3, 5000);
        const auto names = found();
        QCOMPARE(names.size(), size_t(3));
        for (const QByteArray &n : names.at("00025B0A1C01"))
            QCOMPARE(n, QByteArray("IMU Controller A"));
        for (const QByteArray &n : names.at("00025B0A1C02"))
            QCOMPARE(n, QByteArray("IMU Controller B"));
        QCOMPARE(names.at("00025B0A1C03"), std::vector<QByteArray>{"Unknown Device"});

        // Connect as the window does: disconnect first, then connect by address text.
        worker.disconnectDevice();
        worker.connectDevice("00025B0A1C01");
        QTRY_VERIFY_WITH_TIMEOUT(rec.count('p') > 0 && rec.count('r') > 0, 5000);

        // Rates over two seconds of the stream.
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
        qInfo("posSender %.1f/s, rawSender %.1f/s, CPU %.0f ms/s", posRate, rawRate,
              1000 * cpuSeconds / seconds);
        QVERIFY2(posRate > 85 && posRate < 115, qPrintable(QString::number(posRate)));
        QVERIFY2(rawRate > 20 && rawRate < 30, qPrintable(QString::number(rawRate)));
        // Every orientation comes with its controls, right after it.
        QByteArray pb = rec.order;
        pb.replace("r", "");
        QCOMPARE(pb.count("pb"), rec.count('p'));
        QCOMPARE(rec.count('b'), rec.count('p'));

        // The calibration frame reaches the controller byte for byte and is acknowledged.
        const size_t before = rec.announcements.size();
        QVERIFY(worker.saveParam(MAG_PARAM{120, 35, 200, -75, -200, -3}));
        const auto frames = dongle.receivedFrames(0);
        QCOMPARE(frames.size(), size_t(1));
        written = QByteArray(reinterpret_cast<const char *>(frames[0].data()), int(frames[0].size()));
        QTRY_VERIFY_WITH_TIMEOUT(rec.announcements.size() > before, 5000);
        QCOMPARE(rec.announcements.back().code, 4);
        QCOMPARE(rec.announcements.back().text, QByteArray("Write data success!"));
        QCOMPARE(rec.announcements.size(), before + 1);
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
