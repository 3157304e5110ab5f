// The Qt Bluetooth host layer against the stand-in BlueZ, call by call: what each call
// answers and which events follow, including the failure paths.
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
constexpr uint64_t BeaconAddress = 0x00025BF00001ull;
constexpr int ConnectTimeoutMs = 1500;
constexpr int Wait = 10000;

const HostServiceSpec *findService(const std::vector<HostServiceSpec> &services, uint16_t uuid)
{
    for (const HostServiceSpec &s : services) {
        if (s.uuid == uuid)
            return &s;
    }
    return nullptr;
}

} // namespace

class TestQtBleHost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void adapterState_data();
    void adapterState();
    void scanReportsDevices();
    void connectFailures_data();
    void connectFailures();
    void databaseNotificationsLinkLossAndReconnect();
    void writeByHandle_data();
    void writeByHandle();
    void callsFromTheLayerThreadItself();

private:
    // A layer, initialised and started on `log`, with the scan running; the controller has
    // been seen.
    std::unique_ptr<QtBleHost> startedHost(HostEventLog &log);
    // Connects to the controller and switches its reports on; returns the connection id.
    uint32_t connectWithReports(QtBleHost &host, HostEventLog &log);

    BluezStandIn standIn;
    uint16_t reportHandle = 0;
    uint16_t configHandle = 0;
    uint16_t paramHandle = 0;
};

void TestQtBleHost::initTestCase()
{
    QString error;
    QVERIFY2(standIn.start(&error), qPrintable(error));
}

void TestQtBleHost::init()
{
    QVERIFY(standIn.reset());
}

void TestQtBleHost::cleanupTestCase()
{
    standIn.stop();
}

std::unique_ptr<QtBleHost> TestQtBleHost::startedHost(HostEventLog &log)
{
    QtBleHost::Options options;
    options.connectTimeoutMs = ConnectTimeoutMs;
    auto host = std::make_unique<QtBleHost>(options);
    if (!host->init(log.target()) || !host->start() || !host->startLeScan())
        return nullptr;
    const bool seen = QTest::qWaitFor([&log] {
        for (const LoggedEvent &e : log.events(HostEventDeviceFound)) {
            if (e.address == ControllerAddress)
                return true;
        }
        return false;
    }, Wait);
    return seen ? std::move(host) : nullptr;
}

uint32_t TestQtBleHost::connectWithReports(QtBleHost &host, HostEventLog &log)
{
    const int connects = log.count(HostEventConnectResult);
    const int databases = log.count(HostEventDatabase);
    if (!host.stopLeSearch() || !host.connect(makeBleAddress(ControllerAddress)))
        return 0;
    if (!QTest::qWaitFor([&] { return log.count(HostEventConnectResult) > connects; }, Wait))
        return 0;
    const LoggedEvent result = log.events(HostEventConnectResult).back();
    if (result.status != 0 || result.connId == 0 || result.address != ControllerAddress)
        return 0;
    if (!host.discoverDatabase(result.connId)
        || !QTest::qWaitFor([&] { return log.count(HostEventDatabase) > databases; }, Wait))
        return 0;
    const LoggedEvent database = log.events(HostEventDatabase).back();
    const HostServiceSpec *service = findService(database.services, 0xFAEA);
    if (database.status != 0 || !service || service->characteristics.size() != 2
        || service->characteristics[0].descriptors.empty())
        return 0;
    reportHandle = service->characteristics[0].valueHandle;
    configHandle = service->characteristics[0].descriptors[0].handle;
    paramHandle = service->characteristics[1].valueHandle;
    if (!host.writeConfiguration(result.connId, configHandle, reportHandle, 1))
        return 0;
    return result.connId;
}

// Event 0 tells whether the adapter can be used; without it no scan starts.
void TestQtBleHost::adapterState_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<bool>("powered");
    QTest::addColumn<bool>("ready");

    QTest::newRow("adapter present and powered") << true << true << true;
    QTest::newRow("adapter powered off") << true << false << false;
    QTest::newRow("no adapter") << false << false << false;
}

void TestQtBleHost::adapterState()
{
    QFETCH(bool, present);
    QFETCH(bool, powered);
    QFETCH(bool, ready);
    QVERIFY(standIn.setPowered(powered));
    QVERIFY(standIn.setAdapterPresent(present));

    HostEventLog log;
    QtBleHost host;
    QVERIFY(host.init(log.target()));
    QVERIFY(host.start());
    QTRY_COMPARE_WITH_TIMEOUT(log.count(HostEventReady), 1, Wait);
    QCOMPARE(log.events(HostEventReady).front().value != 0, ready);
    QCOMPARE(host.startLeScan(), ready);
    QCOMPARE(standIn.log().contains("StartDiscovery"), ready);
}

// Every sighting is announced with the address and the name; a device without a name (BlueZ
// shows its address as the alias) is announced without one.
void TestQtBleHost::scanReportsDevices()
{
    HostEventLog log;
    auto host = startedHost(log);
    QVERIFY(host);
    auto sightings = [&log](uint64_t address) {
        std::vector<LoggedEvent> out;
        for (const LoggedEvent &e : log.events(HostEventDeviceFound)) {
            if (e.address == address)
                out.push_back(e);
        }
        return out;
    };
    QTRY_VERIFY_WITH_TIMEOUT(sightings(ControllerAddress).size() >= 3
                                     && sightings(BeaconAddress).size() >= 3, Wait);
    for (const LoggedEvent &e : sightings(ControllerAddress)) {
        QVERIFY(e.named);
        QCOMPARE(e.name, QByteArray("IMU Controller A"));
    }
    for (const LoggedEvent &e : sightings(BeaconAddress))
        QVERIFY2(!e.named, e.name.constData());

    QVERIFY(host->stopLeSearch());
    QTRY_VERIFY_WITH_TIMEOUT(standIn.log().contains("StopDiscovery"), Wait);
}

// A connection that cannot be made ends in event 4 with a non-zero status, also when the
// attempt hangs; the layer takes a new attempt after it.
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
        QVERIFY2(timer.elapsed() >= ConnectTimeoutMs - 50, qPrintable(QString::number(timer.elapsed())));

    // The failed attempt is over: the next one goes through.
    QVERIFY(standIn.setConnectMode("ok"));
    QVERIFY(host->connect(makeBleAddress(ControllerAddress)));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(HostEventConnectResult), 2, Wait);
    QCOMPARE(log.events(HostEventConnectResult).back().status, uint16_t(0));
}

// The whole life of a link: the database with its handles, notifications switched on at the
// configuration descriptor, the link dropping under a stream (event 10), and a new
// connection that streams again.
void TestQtBleHost::databaseNotificationsLinkLossAndReconnect()
{
    HostEventLog log;
    auto host = startedHost(log);
    QVERIFY(host);
    const uint32_t first = connectWithReports(*host, log);
    QVERIFY(first != 0);

    // The database: both services, each handle once, in GATT order.
    const LoggedEvent database = log.events(HostEventDatabase).back();
    QVERIFY(findService(database.services, 0x180A));
    const HostServiceSpec *service = findService(database.services, 0xFAEA);
    QCOMPARE(service->characteristics[0].uuid, uint16_t(0xFAE1));
    QCOMPARE(service->characteristics[0].descriptors[0].uuid, uint16_t(0x2902));
    QCOMPARE(service->characteristics[1].uuid, uint16_t(0xFAE2));
    QVERIFY(service->characteristics[0].properties & 0x10);     // notify
    QVERIFY(service->characteristics[1].properties & 0x08);     // write
    QVERIFY(service->startHandle < reportHandle && reportHandle < configHandle
            && configHandle < paramHandle && paramHandle <= service->endHandle);

    QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventNotification) >= 20, Wait);
    for (const LoggedEvent &e : log.events(HostEventNotification)) {
        QCOMPARE(e.connId, first);
        QCOMPARE(e.handle, reportHandle);
        QCOMPARE(e.data.size(), 20);
    }
    QVERIFY(standIn.log().contains("StartNotify"));

    // The link drops in the middle of the stream.
    QVERIFY(standIn.dropLink());
    QTRY_COMPARE_WITH_TIMEOUT(log.count(HostEventFailure), 1, Wait);
    const LoggedEvent lost = log.events(HostEventFailure).front();
    QVERIFY(lost.status != 0);
    QCOMPARE(lost.connId, first);
    QVERIFY(!host->disconnect(first));      // gone already
    const int streamed = log.count(HostEventNotification);

    // A later connection works and streams again, under a new id.
    const uint32_t second = connectWithReports(*host, log);
    QVERIFY(second != 0);
    QVERIFY(second != first);
    QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventNotification) >= streamed + 20, Wait);
    QCOMPARE(log.events(HostEventNotification).back().connId, second);
    QCOMPARE(log.count(HostEventFailure), 1);

    // Our own disconnection is no link loss; connecting after it works as well.
    QVERIFY(host->disconnect(second));
    QTRY_VERIFY_WITH_TIMEOUT(!standIn.connected(), Wait);
    QVERIFY(connectWithReports(*host, log) != 0);
    QCOMPARE(log.count(HostEventFailure), 1);
}

// A write by handle reports what became of it: confirmed by the controller or not.
void TestQtBleHost::writeByHandle_data()
{
    QTest::addColumn<bool>("controllerFails");
    QTest::addColumn<int>("handleOffset");      // added to the parameter handle
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("ownConnection");
    QTest::addColumn<bool>("written");

    QTest::newRow("confirmed") << false << 0 << 0 << true << true;
    QTest::newRow("refused by the controller") << true << 0 << 0 << true << false;
    QTest::newRow("no characteristic at the handle") << false << 1 << 0 << true << false;
    QTest::newRow("at an offset") << false << 0 << 2 << true << false;
    QTest::newRow("other connection id") << false << 0 << 0 << false << false;
}

void TestQtBleHost::writeByHandle()
{
    QFETCH(bool, controllerFails);
    QFETCH(int, handleOffset);
    QFETCH(int, offset);
    QFETCH(bool, ownConnection);
    QFETCH(bool, written);

    HostEventLog log;
    auto host = startedHost(log);
    QVERIFY(host);
    const uint32_t connId = connectWithReports(*host, log);
    QVERIFY(connId != 0);
    QVERIFY(standIn.setWriteFails(controllerFails));

    const QByteArray frame = QByteArray::fromHex("5A040100C8FF3800C8FF3800C8FF3800000002A5");
    QCOMPARE(host->writeCharByHandle(ownConnection ? connId : connId + 1,
                                     uint16_t(paramHandle + handleOffset), uint16_t(offset),
                                     uint16_t(frame.size()),
                                     reinterpret_cast<const uint8_t *>(frame.constData())),
             written);
    QCOMPARE(standIn.writes(), written ? QByteArrayList{frame} : QByteArrayList{});
}

// A call made on the layer's own thread runs there at once instead of waiting for that
// thread, which would wait forever.
void TestQtBleHost::callsFromTheLayerThreadItself()
{
    HostEventLog log;
    QtBleHost host;
    auto *onLayer = new QObject;
    onLayer->moveToThread(host.layerThread());
    std::atomic<int> answers{0};
    QMetaObject::invokeMethod(onLayer, [&] {
        if (host.init(log.target()) && host.start() && host.startLeScan())
            answers = 1;
        else
            answers = -1;
    }, Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(answers != 0, Wait);
    QCOMPARE(answers.load(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(log.count(HostEventDeviceFound) > 0, Wait);
    onLayer->deleteLater();
}

QTEST_GUILESS_MAIN(TestQtBleHost)
#include "tst_qtblehost.moc"
