// The Qt Bluetooth host layer against the stand-in BlueZ: the events that follow its calls,
// failure paths included.
#include "hosteventlog.h"
#include "qtblehost.h"
#include "standin.h"

#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>

namespace {
constexpr uint64_t ControllerAddress = 0x00025B0A1C01ull;
constexpr int ConnectTimeoutMs = 1500;
constexpr int Wait = 10000;
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
    void failureThenReconnect_data();
    void failureThenReconnect();
    void callsFromTheLayerThreadItself();

private:
    BluezStandIn standIn;
};

// Connects with reports on; the connection id, or 0.
static uint32_t connectWithReports(QtBleHost &host, HostEventLog &log)
{
    const int connects = log.count(HostEventConnectResult);
    const int databases = log.count(HostEventDatabase);
    if (!host.stopLeSearch() || !host.connect(makeBleAddress(ControllerAddress))
        || !QTest::qWaitFor([&] { return log.count(HostEventConnectResult) > connects; }, Wait))
        return 0;
    const LoggedEvent result = log.events(HostEventConnectResult).back();
    if (result.status != 0 || result.address != ControllerAddress || !host.discoverDatabase(result.connId)
        || !QTest::qWaitFor([&] { return log.count(HostEventDatabase) > databases; }, Wait))
        return 0;
    const LoggedEvent db = log.events(HostEventDatabase).back();
    return db.cccd && host.writeConfiguration(result.connId, db.cccd, db.valueHandle, 1)
            ? result.connId : 0;
}

// Event 4 with a non-zero status (also when the attempt hangs), or event 10 for a link that
// drops under a stream; either way the next connection streams.
void TestQtBleHost::failureThenReconnect_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<uint64_t>("address");
    QTest::addColumn<int>("status");
    QTest::newRow("Connect fails") << "fail" << ControllerAddress << int(HostStatusConnectFailed);
    QTest::newRow("Connect hangs") << "hang" << ControllerAddress << int(HostStatusConnectionTimeout);
    QTest::newRow("device never seen") << "ok" << uint64_t(0x00025BAAAAAAull) << int(HostStatusConnectFailed);
    QTest::newRow("link drops") << "drop" << ControllerAddress << 0;
}

void TestQtBleHost::failureThenReconnect()
{
    QFETCH(QString, mode);
    QFETCH(uint64_t, address);
    QFETCH(int, status);
    HostEventLog log;
    QtBleHost::Options options;
    options.connectTimeoutMs = ConnectTimeoutMs;
    QtBleHost host(options);
    QVERIFY(host.init(log.target()) && host.start() && host.startLeScan());
    const auto seen = [&log] {
        const auto found = log.events(HostEventDeviceFound);
        return std::any_of(found.begin(), found.end(),
                           [](const LoggedEvent &e) { return e.address == ControllerAddress; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(seen(), Wait);
    uint32_t first = 0;
    if (mode == "drop") {
        first = connectWithReports(host, log);
        QVERIFY(first != 0);
        QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventNotification) >= 20, Wait);
        for (const LoggedEvent &e : log.events(HostEventNotification))
            QVERIFY(e.connId == first && e.data.size() == 20);
        QVERIFY(standIn.dropLink());
        QTRY_COMPARE_WITH_TIMEOUT(log.count(HostEventFailure), 1, Wait);
        const LoggedEvent lost = log.events(HostEventFailure).front();
        QVERIFY(lost.status != 0);
        QCOMPARE(lost.connId, first);
    } else {
        QVERIFY(standIn.setConnectMode(mode));
        QVERIFY(host.stopLeSearch());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(host.connect(makeBleAddress(address)));
        QTRY_COMPARE_WITH_TIMEOUT(log.count(HostEventConnectResult), 1, Wait);
        const LoggedEvent result = log.events(HostEventConnectResult).front();
        QCOMPARE(int(result.status), status);
        QCOMPARE(result.connId, 0u);
        QCOMPARE(result.address, address);
        QVERIFY(mode != "hang" || timer.elapsed() >= ConnectTimeoutMs - 50);
        QVERIFY(standIn.setConnectMode("ok"));
    }
    const int streamed = log.count(HostEventNotification);
    const uint32_t second = connectWithReports(host, log);
    QVERIFY(second != 0 && second != first);
    QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventNotification) >= streamed + 20, Wait);
    QCOMPARE(log.events(HostEventNotification).back().connId, second);
    QCOMPARE(log.count(HostEventFailure), int(mode == "drop"));
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
    QTRY_VERIFY_WITH_TIMEOUT(answer != 0, Wait);
    QCOMPARE(answer.load(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventDeviceFound) > 0, Wait);
    onLayer->deleteLater();
}

QTEST_GUILESS_MAIN(TestQtBleHost)
#include "tst_qtblehost.moc"
