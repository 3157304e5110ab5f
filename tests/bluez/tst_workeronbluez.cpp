// The BLE worker on the Qt Bluetooth host layer against the stand-in BlueZ, as the window
// drives it: search, connect, stream, save; and what it shows when the adapter is missing or
// off, and when a write fails.
#include "btthread.h"
#include "qtblehost.h"
#include "reportdecoder.h"
#include "standin.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int Wait = 10000;

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
    QList<Announcement> announcements;
    QList<IMU_POS> positions;
    QList<IMU_RAW> raws;

    int count(int code) const
    {
        int n = 0;
        for (const Announcement &a : announcements)
            n += a.code == code;
        return n;
    }
    QByteArray nameOf(const QByteArray &address) const
    {
        for (const Announcement &a : announcements) {
            if (a.code == 3 && a.address == address)
                return a.text;
        }
        return QByteArray();
    }

public slots:
    void onBt(int code, char *text, char *address)
    {
        announcements.append({code, QByteArray(text), QByteArray(address)});
    }
    void onPos(IMU_POS pos) { positions.append(pos); }
    void onRaw(IMU_RAW raw) { raws.append(raw); }
};

// What the process writes to standard output while it lives (the worker's console texts).
class StdoutCapture
{
public:
    StdoutCapture()
    {
        file.open();
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        dup2(file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    QByteArray text()
    {
        restore();
        file.seek(0);
        return file.readAll();
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        saved = -1;
    }
    QTemporaryFile file;
    int saved = -1;
};

bool samePos(const IMU_POS &a, const IMU_POS &b)
{
    return a.angle1 == b.angle1 && a.angle2 == b.angle2 && a.angle3 == b.angle3;
}

} // namespace

class TestWorkerOnBluez : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void searchConnectStreamAndSave();
    void dongleFailed_data();
    void dongleFailed();
    void saveParamResult_data();
    void saveParamResult();

private:
    // Starts `worker` on `rec`; returns once the controller is listed.
    bool startAndFind(BtThread &worker, Recorder &rec);
    bool connectAndStream(BtThread &worker, Recorder &rec);

    BluezStandIn standIn;
};

void TestWorkerOnBluez::initTestCase()
{
    // Qt Bluetooth's own warnings go to standard output too, among the worker's texts.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.bluetooth*=false"));
    QString error;
    QVERIFY2(standIn.start(&error), qPrintable(error));
}

void TestWorkerOnBluez::init()
{
    QVERIFY(standIn.reset());
}

void TestWorkerOnBluez::cleanupTestCase()
{
    standIn.stop();
}

bool TestWorkerOnBluez::startAndFind(BtThread &worker, Recorder &rec)
{
    connect(&worker, &BtThread::BtSender, &rec, &Recorder::onBt);
    connect(&worker, &BtThread::posSender, &rec, &Recorder::onPos);
    connect(&worker, &BtThread::rawSender, &rec, &Recorder::onRaw);
    worker.start();
    return QTest::qWaitFor([&rec] { return !rec.nameOf("00025B0A1C01").isEmpty(); }, Wait);
}

bool TestWorkerOnBluez::connectAndStream(BtThread &worker, Recorder &rec)
{
    worker.disconnectDevice();
    worker.connectDevice("00025B0A1C01");
    return QTest::qWaitFor([&rec] { return rec.positions.size() > 10 && !rec.raws.isEmpty(); },
                           Wait);
}

void TestWorkerOnBluez::searchConnectStreamAndSave()
{
    QtBleHost host;
    setHostBackend(&host);
    {
        BtThread worker;
        Recorder rec;
        QVERIFY(startAndFind(worker, rec));
        QCOMPARE(rec.announcements.value(0).code, -2);
        QCOMPARE(rec.announcements.value(1).code, 2);
        QCOMPARE(rec.nameOf("00025B0A1C01"), QByteArray("IMU Controller A"));
        QTRY_COMPARE_WITH_TIMEOUT(rec.nameOf("00025BF00001"), QByteArray("Unknown Device"), Wait);

        QVERIFY(connectAndStream(worker, rec));
        const QStringList calls = standIn.log();
        QVERIFY(calls.contains("StopDiscovery"));
        QVERIFY(calls.indexOf("Connect") < calls.indexOf("StartNotify"));

        // Over two seconds: the rate, and every report decoded as it was sent, none lost.
        const int pos0 = rec.positions.size(), raw0 = rec.raws.size();
        QElapsedTimer timer;
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(timer.elapsed() >= 2000, 5000);
        const double seconds = timer.elapsed() / 1000.0;
        const double posRate = (rec.positions.size() - pos0) / seconds;
        const double rawRate = (rec.raws.size() - raw0) / seconds;
        qInfo("through the stand-in: posSender %.1f/s, rawSender %.1f/s", posRate, rawRate);
        QVERIFY2(posRate > 85 && posRate < 115, qPrintable(QString::number(posRate)));
        QVERIFY2(rawRate > 20 && rawRate < 30, qPrintable(QString::number(rawRate)));

        const QByteArrayList sent = standIn.sent();
        ReportState state;
        QList<IMU_POS> expected;
        for (const QByteArray &bytes : sent) {
            if (decodeReport(reinterpret_cast<const uint8_t *>(bytes.constData()),
                             size_t(bytes.size()), state).pos)
                expected.append(state.posSample);
        }
        QTRY_VERIFY_WITH_TIMEOUT(rec.positions.size() >= expected.size(), Wait);
        for (int i = 0; i < expected.size(); ++i)
            QVERIFY2(samePos(rec.positions[i], expected[i]), qPrintable(QString::number(i)));

        // The calibration frame reaches the controller byte for byte and is acknowledged.
        StdoutCapture console;
        QVERIFY(worker.saveParam(MAG_PARAM{120, 35, 200, -75, -200, -3}));
        QCOMPARE(console.text(), QByteArray("success!"));
        QCOMPARE(standIn.writes(),
                 QByteArrayList{QByteArray::fromHex("5A04010078FFB50023FF3800C8FFFD0000004FA5")});
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(4), 1, Wait);
        QCOMPARE(rec.announcements.last().text, QByteArray("Write data success!"));

        worker.stop();
    }
    setHostBackend(nullptr);
}

// No adapter, or one switched off, is a dongle that failed: the worker says so and does not
// scan.
void TestWorkerOnBluez::dongleFailed_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<bool>("powered");

    QTest::newRow("no adapter") << false << true;
    QTest::newRow("adapter powered off") << true << false;
}

void TestWorkerOnBluez::dongleFailed()
{
    QFETCH(bool, present);
    QFETCH(bool, powered);
    QVERIFY(standIn.setAdapterPresent(present));
    QVERIFY(standIn.setPowered(powered));

    QtBleHost host;
    setHostBackend(&host);
    {
        BtThread worker;
        Recorder rec;
        connect(&worker, &BtThread::BtSender, &rec, &Recorder::onBt);
        worker.start();
        QTRY_COMPARE_WITH_TIMEOUT(rec.announcements.size(), 2, Wait);
        QCOMPARE(rec.announcements[1].code, -1);
        QCOMPARE(rec.announcements[1].text,
                 QByteArray("Dongle failed to initialize!Please insert the dongle to computer!\n"));
        worker.stop();
        QVERIFY(!standIn.log().contains("StartDiscovery"));
    }
    setHostBackend(nullptr);
}

// The worker's console shows whether the controller took the frame; only a frame that
// arrived is acknowledged.
void TestWorkerOnBluez::saveParamResult_data()
{
    QTest::addColumn<bool>("writeFails");
    QTest::addColumn<QByteArray>("console");
    QTest::addColumn<int>("acknowledgements");

    QTest::newRow("write confirmed") << false << QByteArray("success!") << 1;
    QTest::newRow("write fails") << true << QByteArray("fail!") << 0;
}

void TestWorkerOnBluez::saveParamResult()
{
    QFETCH(bool, writeFails);
    QFETCH(QByteArray, console);
    QFETCH(int, acknowledgements);

    QtBleHost host;
    setHostBackend(&host);
    {
        BtThread worker;
        Recorder rec;
        QVERIFY(startAndFind(worker, rec));
        QVERIFY(connectAndStream(worker, rec));
        QVERIFY(standIn.setWriteFails(writeFails));

        StdoutCapture capture;
        QVERIFY(worker.saveParam(MAG_PARAM{0, 0, 0, 0, 0, 0}));
        QCOMPARE(capture.text(), console);
        // The acknowledgement, if any, arrives before later reports, and those keep coming.
        const int later = rec.positions.size() + 20;
        QTRY_VERIFY_WITH_TIMEOUT(rec.positions.size() > later, Wait);
        QCOMPARE(rec.count(4), acknowledgements);
        worker.stop();
    }
    setHostBackend(nullptr);
}

QTEST_GUILESS_MAIN(TestWorkerOnBluez)
#include "tst_workeronbluez.moc"
