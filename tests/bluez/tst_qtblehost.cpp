// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The Qt Bluetooth host layer against the stand-in BlueZ: the events that follow its calls,
// with the peer, the adapter and bluetoothd failing in the ways they do.
#include "hosteventlog.h"
#include "qtblehost.h"
#include "standin.h"
#include "waits.h"

#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

namespace {
constexpr uint64_t ControllerAddress = 0x00025B0A1C01ull;
constexpr int ConnectTimeoutMs = 1500;
constexpr int WriteTimeoutMs = 1000;
// Well above the calls' half second, well below what a stack that does not answer costs.
constexpr int CallLimitMs = 1000;

QtBleHost::Options testOptions()
{
    QtBleHost::Options options;
    options.connectTimeoutMs = ConnectTimeoutMs;
    options.writeTimeoutMs = WriteTimeoutMs;
    return options;
}

// A host with its event log, driven as the worker drives it.
struct Session {
    HostEventLog log;
    std::unique_ptr<QtBleHost> host = std::make_unique<QtBleHost>(testOptions());
    uint32_t connId = 0;
    uint16_t cccd = 0, reportHandle = 0, paramHandle = 0;

    int seen() const
    {
        const auto found = log.events(HostEventDeviceFound);
        return int(std::count_if(found.begin(), found.end(),
                                 [](const LoggedEvent &e) { return e.address == ControllerAddress; }));
    }
    // Started, with event 0 saying the adapter is ready.
    bool ready()
    {
        return host->init(log.target()) && host->start()
                && QTest::qWaitFor([this] { return log.count(HostEventReady) > 0; }, WaitDeadline)
                && log.events(HostEventReady).back().status != 0;
    }
    // Scans until the controller is seen (again).
    bool scanUntilSeen()
    {
        const int before = seen();
        return QTest::qWaitFor([this] { return host->startLeScan(); }, WaitDeadline)
                && QTest::qWaitFor([&] { return seen() > before; }, WaitDeadline);
    }
    // Connects with reports on.
    bool connectWithReports()
    {
        const int connects = log.count(HostEventConnectResult);
        const int databases = log.count(HostEventDatabase);
        if (!host->stopLeSearch() || !host->connect(makeBleAddress(ControllerAddress))
            || !QTest::qWaitFor([&] { return log.count(HostEventConnectResult) > connects; }, WaitDeadline))
            return false;
        const LoggedEvent result = log.events(HostEventConnectResult).back();
        if (result.status != 0 || !host->discoverDatabase(result.connId)
            || !QTest::qWaitFor([&] { return log.count(HostEventDatabase) > databases; }, WaitDeadline))
            return false;
        const LoggedEvent db = log.events(HostEventDatabase).back();
        connId = result.connId;
        cccd = db.cccd;
        reportHandle = db.valueHandle;
        paramHandle = db.paramHandle;
        const int streamed = log.count(HostEventNotification);
        return cccd && host->writeConfiguration(connId, cccd, reportHandle, 1)
                && QTest::qWaitFor([&] { return log.count(HostEventNotification) >= streamed + 20; }, WaitDeadline);
    }
    bool write(const QByteArray &frame)
    {
        return host->writeCharByHandle(connId, paramHandle, 0, uint16_t(frame.size()),
                                       reinterpret_cast<const uint8_t *>(frame.constData()));
    }
};

QByteArray frame(char tag)
{
    return QByteArray(19, tag) + '\xA5';
}

} // namespace

class TestQtBleHost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(standIn.start(&error), qPrintable(error));
    }
    void init() { QVERIFY(standIn.reset()); }
    void connectionFails_data();
    void connectionFails();
    void linkEndsThenAllWorksAgain_data();
    void linkEndsThenAllWorksAgain();
    void writeOutcomes_data();
    void writeOutcomes();
    void callsAndExitWhileBluetoothdHangs();
    void callsFromTheLayerThreadItself();

private:
    bool fault(const QString &name);
    bool heal(const QString &name);

    BluezStandIn standIn;
};

// Event 4 with a non-zero status, also when the attempt hangs; the next connection streams.
void TestQtBleHost::connectionFails_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<uint64_t>("address");
    QTest::addColumn<int>("status");
    QTest::newRow("Connect fails") << "fail" << ControllerAddress << int(HostStatusConnectFailed);
    QTest::newRow("Connect hangs") << "hang" << ControllerAddress << int(HostStatusConnectionTimeout);
    QTest::newRow("device never seen") << "ok" << uint64_t(0x00025BAAAAAAull) << int(HostStatusConnectFailed);
}

void TestQtBleHost::connectionFails()
{
    QFETCH(QString, mode);
    QFETCH(uint64_t, address);
    QFETCH(int, status);
    Session s;
    QVERIFY(s.ready() && s.scanUntilSeen());
    QVERIFY(standIn.setConnectMode(mode));
    QVERIFY(s.host->stopLeSearch());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(s.host->connect(makeBleAddress(address)));
    QTRY_COMPARE_WITH_TIMEOUT(s.log.count(HostEventConnectResult), 1, WaitDeadline);
    const LoggedEvent result = s.log.events(HostEventConnectResult).front();
    QCOMPARE(int(result.status), status);
    QCOMPARE(result.connId, 0u);
    QCOMPARE(result.address, address);
    QVERIFY(mode != "hang" || timer.elapsed() >= ConnectTimeoutMs - 50);
    QVERIFY(standIn.setConnectMode("ok"));
    QVERIFY(s.scanUntilSeen() && s.connectWithReports());
    QCOMPARE(s.log.count(HostEventFailure), 0);
}

bool TestQtBleHost::fault(const QString &name)
{
    QString error;
    if (name == "drop")
        return standIn.dropLink();
    if (name == "off")
        return standIn.setPowered(false);
    if (name == "removed")
        return standIn.setAdapterPresent(false);
    if (name == "restart")
        return standIn.restart(&error);
    if (name == "service changed")
        return standIn.removeService();
    return true;
}

bool TestQtBleHost::heal(const QString &name)
{
    if (name == "off")
        return standIn.setPowered(true);
    if (name == "removed")
        return standIn.setAdapterPresent(true);
    return true;
}

// However a link or a scan ends, the link is reported lost (event 10) at once; a search
// while the adapter is gone says so (zero and event 0 with 0); and once the adapter is back
// a search scans and a connection streams again.
void TestQtBleHost::linkEndsThenAllWorksAgain_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("connected");    // else scanning
    QTest::addColumn<bool>("adapterGone");  // until healed
    QTest::newRow("link drops") << "drop" << true << false;
    QTest::newRow("service changed") << "service changed" << true << false;
    QTest::newRow("adapter switched off") << "off" << true << true;
    QTest::newRow("adapter removed") << "removed" << true << true;
    QTest::newRow("bluetoothd restarts") << "restart" << true << false;
    QTest::newRow("bluetoothd restarts while scanning") << "restart" << false << false;
    QTest::newRow("adapter power-cycled while scanning") << "off" << false << true;
}

void TestQtBleHost::linkEndsThenAllWorksAgain()
{
    QFETCH(QString, fault);
    QFETCH(bool, connected);
    QFETCH(bool, adapterGone);
    Session s;
    QVERIFY(s.ready() && s.scanUntilSeen());
    if (connected)
        QVERIFY(s.connectWithReports());
    const uint32_t first = s.connId;
    QVERIFY(this->fault(fault));
    if (connected) {
        QTRY_COMPARE_WITH_TIMEOUT(s.log.count(HostEventFailure), 1, WaitDeadline);
        const LoggedEvent lost = s.log.events(HostEventFailure).front();
        QVERIFY(lost.status != 0);
        QCOMPARE(lost.connId, first);
    }
    if (adapterGone) {
        const int failed = s.log.count(HostEventReady);
        QVERIFY(QTest::qWaitFor([&] { return !s.host->startLeScan(); }, WaitDeadline));
        QTRY_VERIFY_WITH_TIMEOUT(s.log.count(HostEventReady) > failed, WaitDeadline);
        QCOMPARE(s.log.events(HostEventReady).back().status, uint16_t(0));
    }
    QVERIFY(heal(fault));
    QVERIFY(s.scanUntilSeen() && s.connectWithReports());
    QVERIFY(s.connId != first);
    QCOMPARE(s.log.events(HostEventNotification).back().connId, s.connId);
    QCOMPARE(s.log.count(HostEventFailure), int(connected));
}

// Each write's outcome is one event 267, and a write that was not confirmed in time never
// goes out later: writes A and B back to back, then D once the stand-in answers normally.
void TestQtBleHost::writeOutcomes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("status");        // of A and B
    QTest::addColumn<QString>("written");   // what reached the peer in the end
    QTest::newRow("confirmed") << "ok" << 0 << "ABCD";
    QTest::newRow("Failed") << "Failed" << int(HostStatusWriteFailed) << "D";
    QTest::newRow("NotPermitted") << "NotPermitted" << int(HostStatusWriteFailed) << "D";
    QTest::newRow("InProgress") << "InProgress" << int(HostStatusWriteFailed) << "D";
    QTest::newRow("link drops during the write") << "drop" << int(HostStatusWriteFailed) << "";
    QTest::newRow("no answer") << "hang" << int(HostStatusWriteTimeout) << "AD";
}

void TestQtBleHost::writeOutcomes()
{
    QFETCH(QString, mode);
    QFETCH(int, status);
    QFETCH(QString, written);
    Session s;
    QVERIFY(s.ready() && s.scanUntilSeen() && s.connectWithReports());
    QVERIFY(standIn.setWriteMode(mode));
    // (Once the link has dropped, there is nothing left to write to.)
    const int pair = mode == "drop" ? 1 : 2;
    QVERIFY(s.write(frame('A')) && (pair == 1 || s.write(frame('B'))));
    QTRY_COMPARE_WITH_TIMEOUT(s.log.count(HostEventWriteResult), pair, WaitDeadline);
    for (const LoggedEvent &e : s.log.events(HostEventWriteResult))
        QVERIFY(int(e.status) == status && e.connId == s.connId);
    // Behind a write the stack holds unanswered, a new one is refused at once.
    QCOMPARE(s.write(frame('C')), mode != "hang" && mode != "drop");
    QTRY_COMPARE_WITH_TIMEOUT(s.log.count(HostEventWriteResult), pair + int(mode != "hang" && mode != "drop"), WaitDeadline);
    QVERIFY(standIn.setWriteMode("ok"));
    if (mode == "drop") {
        QTRY_COMPARE_WITH_TIMEOUT(s.log.count(HostEventFailure), 1, WaitDeadline);
        QVERIFY(!s.write(frame('D')));
    } else {
        const int outcomes = s.log.count(HostEventWriteResult);
        // The held write now done with, writes go out again.
        QVERIFY(QTest::qWaitFor([&] { return s.write(frame('D')); }, WaitDeadline));
        QTRY_COMPARE_WITH_TIMEOUT(s.log.count(HostEventWriteResult), outcomes + 1, WaitDeadline);
        QCOMPARE(s.log.events(HostEventWriteResult).back().status, uint16_t(0));
    }
    QByteArrayList expected;
    for (const QChar tag : written)
        expected.append(frame(tag.toLatin1()));
    QCOMPARE(standIn.writes(), expected);
    QCOMPARE(s.log.count(HostEventFailure), int(mode == "drop"));
}

// A bluetoothd that stops answering holds no caller: every call returns in time (refused, or
// accepted with its outcome to come), also while the layer's thread waits in the stack, and
// so do the host's destruction and the end of the process. Run in a child process, which
// fails when a call takes too long and ends with the layer's thread still held.
void TestQtBleHost::callsAndExitWhileBluetoothdHangs()
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("IMU_HELD_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    while (!child.canReadLine() && child.waitForReadyRead(WaitDeadline)) {
    }
    QCOMPARE(child.readLine(), QByteArray("closing\n"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(child.waitForFinished(WaitDeadline));
    QVERIFY2(timer.elapsed() < CallLimitMs, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(standIn.reset());   // answers once bluetoothd is back
    QVERIFY(!standIn.writes().contains(frame('A')));
}

static int callsWhileBluetoothdHangs()
{
    BluezStandIn standIn;   // the parent's
    Session s;
    if (!s.ready() || !s.scanUntilSeen() || !s.connectWithReports() || !standIn.freeze(4000))
        return 2;
    bool quick = true;
    const auto timed = [&quick](const char *what, auto call) {
        QElapsedTimer timer;
        timer.start();
        const bool answer = call();
        qInfo("%s: %s after %lld ms", what, answer ? "yes" : "no", timer.elapsed());
        quick = quick && timer.elapsed() < CallLimitMs;
    };
    QtBleHost &h = *s.host;
    const BleAddress controller = makeBleAddress(ControllerAddress);
    // Qt asks bluetoothd about the characteristic before it switches notifications: the
    // layer's thread waits there from now on.
    timed("writeConfiguration", [&] { return h.writeConfiguration(s.connId, s.cccd, s.reportHandle, 0); });
    timed("startLeScan", [&] { return h.startLeScan(); });
    timed("write", [&] { return s.write(frame('A')); });
    timed("cancel", [&] { return h.cancel(); });
    timed("disconnect", [&] { return h.disconnect(s.connId); });
    timed("connect", [&] { return h.connect(controller); });
    timed("discoverDatabase", [&] { return h.discoverDatabase(s.connId); });
    timed("destruction", [&] { s.host.reset(); return true; });
    std::puts("closing");
    std::fflush(stdout);
    return quick ? 0 : 3;
}

class Trigger : public QObject
{
    Q_OBJECT
signals:
    void fired();
};

// A call made on the layer's own thread runs there at once instead of waiting for itself.
void TestQtBleHost::callsFromTheLayerThreadItself()
{
    HostEventLog log;
    QtBleHost host;
    auto *onLayer = new QObject;
    onLayer->moveToThread(host.layerThread());
    std::atomic<int> answer{0};
    // Queued through a signal, connected before it is sent, so that everything the layer's
    // thread runs was made before the hand-over (as ThreadSanitizer builds must see it).
    Trigger trigger;
    QObject::connect(&trigger, &Trigger::fired, onLayer, [&] {
        answer = host.init(log.target()) && host.start() && host.startLeScan() ? 1 : -1;
    }, Qt::QueuedConnection);
    emit trigger.fired();
    QTRY_VERIFY_WITH_TIMEOUT(answer != 0, WaitDeadline);
    QCOMPARE(answer.load(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventDeviceFound) > 0, WaitDeadline);
    onLayer->deleteLater();
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("IMU_HELD_CHILD"))
        return callsWhileBluetoothdHangs();
    TestQtBleHost test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_qtblehost.moc"
