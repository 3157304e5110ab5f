// The Qt Bluetooth host layer against the stand-in BlueZ: the events that follow its calls,
// failure paths included.
#include "hosteventlog.h"
#include "qtblehost.h"
#include "qtblelink.h"
#include "standin.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <memory>

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
    void scanReportsDevices();
    void connectFailures_data();
    void connectFailures();
    void linkLossAndReconnect();
    void callsFromTheLayerThreadItself();

private:
    // A started layer whose scan has seen the controller.
    std::unique_ptr<QtBleHost> startedHost(HostEventLog &log);
    // Connects with reports on; the connection id, or 0.
    uint32_t connectWithReports(QtBleHost &host, HostEventLog &log);

    BluezStandIn standIn;
};

std::unique_ptr<QtBleHost> TestQtBleHost::startedHost(HostEventLog &log)
{
    QtBleHost::Options options;
    options.connectTimeoutMs = ConnectTimeoutMs;
    auto host = std::make_unique<QtBleHost>(options);
    if (!host->init(log.target()) || !host->start() || !host->startLeScan())
        return nullptr;
    const bool seen = QTest::qWaitFor([&log] {
        for (const LoggedEvent &e : log.events(HostEventDeviceFound))
            if (e.address == ControllerAddress)
                return true;
        return false;
    }, Wait);
    return seen ? std::move(host) : nullptr;
}

uint32_t TestQtBleHost::connectWithReports(QtBleHost &host, HostEventLog &log)
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
    const LoggedEvent database = log.events(HostEventDatabase).back();
    for (const HostServiceSpec &s : database.services) {
        if (s.uuid == 0xFAEA && !s.characteristics.empty()
            && !s.characteristics[0].descriptors.empty()
            && host.writeConfiguration(result.connId, s.characteristics[0].descriptors[0].handle,
                                       s.characteristics[0].valueHandle, 1))
            return result.connId;
    }
    return 0;
}

// The controller is announced with its name; the beacon, whose alias BlueZ fills with its
// address, without one.
void TestQtBleHost::scanReportsDevices()
{
    HostEventLog log;
    auto host = startedHost(log);
    QVERIFY(host);
    auto sightings = [&log](uint64_t address) {
        std::vector<LoggedEvent> out;
        for (const LoggedEvent &e : log.events(HostEventDeviceFound))
            if (e.address == address)
                out.push_back(e);
        return out;
    };
    QTRY_VERIFY_WITH_TIMEOUT(sightings(0x00025BF00001ull).size() >= 2, Wait);
    for (const LoggedEvent &e : sightings(ControllerAddress))
        QVERIFY(e.named && e.name == "IMU Controller A");
    for (const LoggedEvent &e : sightings(0x00025BF00001ull))
        QVERIFY2(!e.named, e.name.constData());
}

// Event 4 with a non-zero status, also when the attempt hangs; the next attempt works.
void TestQtBleHost::connectFailures_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<uint64_t>("address");
    QTest::addColumn<int>("status");
    QTest::newRow("Connect fails") << "fail" << ControllerAddress
                                   << int(QtBleLink::ConnectFailedStatus);
    QTest::newRow("Connect hangs") << "hang" << ControllerAddress
                                   << int(QtBleLink::ConnectTimeoutStatus);
    QTest::newRow("device never seen") << "ok" << uint64_t(0x00025BAAAAAAull)
                                       << int(QtBleLink::ConnectFailedStatus);
}

void TestQtBleHost::connectFailures()
{
    QFETCH(QString, mode);
    QFETCH(uint64_t, address);
    QFETCH(int, status);
    HostEventLog log;
    auto host = startedHost(log);
    QVERIFY(host);
    QVERIFY(standIn.setConnectMode(mode));
    QVERIFY(host->stopLeSearch());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(host->connect(makeBleAddress(address)));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(HostEventConnectResult), 1, Wait);
    const LoggedEvent result = log.events(HostEventConnectResult).front();
    QCOMPARE(int(result.status), status);
    QCOMPARE(result.connId, 0u);
    QCOMPARE(result.address, address);
    if (mode == "hang")
        QVERIFY(timer.elapsed() >= ConnectTimeoutMs - 50);

    QVERIFY(standIn.setConnectMode("ok"));
    QVERIFY(connectWithReports(*host, log) != 0);
}

// The link drops under a stream: event 10 for that link; a new connection streams again.
void TestQtBleHost::linkLossAndReconnect()
{
    HostEventLog log;
    auto host = startedHost(log);
    QVERIFY(host);
    const uint32_t first = connectWithReports(*host, log);
    QVERIFY(first != 0);
    QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventNotification) >= 20, Wait);
    for (const LoggedEvent &e : log.events(HostEventNotification))
        QVERIFY(e.connId == first && e.data.size() == 20);

    QVERIFY(standIn.dropLink());
    QTRY_COMPARE_WITH_TIMEOUT(log.count(HostEventFailure), 1, Wait);
    const LoggedEvent lost = log.events(HostEventFailure).front();
    QVERIFY(lost.status != 0);
    QCOMPARE(lost.connId, first);
    const int streamed = log.count(HostEventNotification);

    const uint32_t second = connectWithReports(*host, log);
    QVERIFY(second != 0 && second != first);
    QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventNotification) >= streamed + 20, Wait);
    QCOMPARE(log.events(HostEventNotification).back().connId, second);
    QCOMPARE(log.count(HostEventFailure), 1);
}

// A call made on the layer's own thread runs there at once instead of waiting for itself.
void TestQtBleHost::callsFromTheLayerThreadItself()
{
    HostEventLog log;
    QtBleHost host;
    auto *onLayer = new QObject;
    onLayer->moveToThread(host.layerThread());
    std::atomic<int> answer{0};
    QMetaObject::invokeMethod(onLayer, [&] {
        answer = host.init(log.target()) && host.start() && host.startLeScan() ? 1 : -1;
    }, Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(answer != 0, Wait);
    QCOMPARE(answer.load(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventDeviceFound) > 0, Wait);
    onLayer->deleteLater();
}

QTEST_GUILESS_MAIN(TestQtBleHost)
#include "tst_qtblehost.moc"
