// The simulated dongle as the worker sees it: the events it posts for each call, on the
// manual clock, and its fault injection.
#include "hostevents.h"
#include "hostqueue.h"
#include "paramframe.h"
#include "reportdecoder.h"
#include "virtualdongle.h"

#include <QtTest>

#include <atomic>
#include <map>
#include <set>

namespace {

constexpr uint32_t DrainMarker = 0xFFFFFFFFu;

struct SeenCharacteristic {
    uint16_t uuid = 0;
    uint16_t valueHandle = 0;
    std::vector<std::pair<uint16_t, uint16_t>> descriptors;   // uuid, handle
};

struct SeenService {
    uint16_t uuid = 0;
    std::vector<SeenCharacteristic> characteristics;
};

// A copy of one posted event: the record is only valid until the next message is fetched.
struct Seen {
    uint32_t code = 0;
    uintptr_t value = 0;            // event 0
    uint64_t address = 0;           // events 2, 4, 9
    bool named = false;             // event 2
    QByteArray name;
    uint16_t status = 0;            // events 4, 262
    uint32_t connId = 0;            // events 4, 9, 10, 12, 266
    uint16_t identifier = 0;        // event 12
    uint16_t failure = 0;           // event 10
    uint16_t handle = 0;            // event 266
    QByteArray bytes;               // event 266
    std::vector<SeenService> services;  // event 262
};

Seen copyEvent(uint32_t code, uintptr_t param)
{
    Seen s;
    s.code = code;
    switch (code) {
    case HostEventReady:
        s.value = param;
        break;
    case HostEventDeviceFound: {
        const auto *e = reinterpret_cast<const HostDeviceFoundEvent *>(param);
        s.address = bleAddressValue(e->address);
        s.named = e->name != nullptr;
        if (e->name)
            s.name = e->name;
        break;
    }
    case HostEventConnectResult: {
        const auto *e = reinterpret_cast<const HostConnectResultEvent *>(param);
        s.status = e->status;
        s.connId = e->connId;
        s.address = bleAddressValue(e->address);
        break;
    }
    case HostEventJustWorks: {
        const auto *e = reinterpret_cast<const HostJustWorksEvent *>(param);
        s.address = bleAddressValue(e->address);
        s.connId = e->connId;
        break;
    }
    case HostEventFailure: {
        const auto *e = reinterpret_cast<const HostFailureEvent *>(param);
        s.failure = e->failure;
        s.connId = e->connId;
        break;
    }
    case HostEventConnUpdate: {
        const auto *e = reinterpret_cast<const HostConnUpdateEvent *>(param);
        s.identifier = e->identifier;
        s.connId = e->connId;
        break;
    }
    case HostEventDatabase: {
        const auto *e = reinterpret_cast<const HostDatabaseEvent *>(param);
        s.status = e->status;
        for (uint16_t i = 0; i < e->serviceCount; ++i) {
            const HostService &svc = e->services[i];
            SeenService seen;
            seen.uuid = svc.uuid;
            for (uint16_t c = 0; c < svc.characteristicCount; ++c) {
                const HostCharacteristic &ch = svc.characteristics[c];
                SeenCharacteristic sc;
                sc.uuid = ch.uuid;
                sc.valueHandle = ch.valueHandle;
                for (uint16_t d = 0; d < ch.descriptorCount; ++d)
                    sc.descriptors.emplace_back(ch.descriptors[d].uuid, ch.descriptors[d].handle);
                seen.characteristics.push_back(sc);
            }
            s.services.push_back(seen);
        }
        break;
    }
    case HostEventNotification: {
        const auto *e = reinterpret_cast<const HostNotificationEvent *>(param);
        s.connId = e->connId;
        s.handle = e->handle;
        s.bytes = QByteArray(reinterpret_cast<const char *>(e->data), e->length);
        break;
    }
    default:
        break;
    }
    return s;
}

// A dongle on the manual clock, posting into this thread's queue under an identifier of its
// own, so leftovers of other tests are told apart.
struct Rig {
    VirtualDongle dongle{VirtualDongle::Clock::Manual};
    HostEventTarget target;

    Rig()
    {
        static uint32_t nextId = 0x7100;
        target.queue = HostCurrentThreadQueue();
        target.messageId = ++nextId;
        dongle.init(target);
    }

    // Advances the clock and returns what was posted meanwhile.
    std::vector<Seen> run(int64_t ms)
    {
        dongle.advance(ms);
        return drain();
    }

    std::vector<Seen> drain()
    {
        HostPostThreadMessage(target.queue, target.messageId, DrainMarker, 0);
        std::vector<Seen> seen;
        HostMessage m{};
        while (HostGetMessage(&m)) {
            if (m.message != target.messageId)
                continue;
            if (m.code == DrainMarker)
                break;
            seen.push_back(copyEvent(m.code, m.param));
        }
        return seen;
    }

    void bringUp(bool scan = false)
    {
        dongle.start();
        run(VirtualDongle::ReadyDelayMs);
        if (scan)
            dongle.startLeScan();
    }

    uint32_t connect(int index, bool reports)
    {
        dongle.connect(VirtualDongle::controllerAddress(index));
        run(VirtualDongle::ConnUpdateDelayMs);
        const uint32_t id = dongle.connectionId(index);
        if (reports)
            dongle.writeConfiguration(id, VirtualDongle::ReportConfigHandle,
                                      VirtualDongle::ReportHandle, 1);
        return id;
    }
};

std::vector<int> codes(const std::vector<Seen> &events)
{
    std::vector<int> out;
    for (const Seen &s : events)
        out.push_back(int(s.code));
    return out;
}

int countCode(const std::vector<Seen> &events, uint32_t code)
{
    return int(std::count_if(events.begin(), events.end(),
                             [code](const Seen &s) { return s.code == code; }));
}

uint64_t controllerAddress(int index)
{
    return bleAddressValue(VirtualDongle::controllerAddress(index));
}

QByteArray frameBytes(const MAG_PARAM &p)
{
    const ParamFrame f = buildParamFrame(p);
    return QByteArray(reinterpret_cast<const char *>(f.data()), int(f.size()));
}

} // namespace

class TestVirtualDongle : public QObject
{
    Q_OBJECT

private slots:
    void readyAfterStart_data();
    void readyAfterStart();
    void announcements();
    void scanStops_data();
    void scanStops();
    void advertisingFlood();
    void connect_data();
    void connect();
    void cancelDropsPendingConnection();
    void database();
    void reportConfiguration_data();
    void reportConfiguration();
    void parameterWrite_data();
    void parameterWrite();
    void disconnectStopsReports();
    void linkFailure();
    void injectedNotifications_data();
    void injectedNotifications();
    void pauseAndResume();
    void observerSeesEveryNotification();
    void realTimeClock();
};

void TestVirtualDongle::readyAfterStart_data()
{
    QTest::addColumn<bool>("absent");
    QTest::newRow("dongle present") << false;
    QTest::newRow("dongle absent") << true;
}

void TestVirtualDongle::readyAfterStart()
{
    QFETCH(bool, absent);
    Rig rig;
    rig.dongle.setDongleAbsent(absent);
    QVERIFY(!rig.dongle.startLeScan());     // not before the dongle is up
    QVERIFY(rig.dongle.start());
    QVERIFY(rig.run(VirtualDongle::ReadyDelayMs - 1).empty());
    const std::vector<Seen> seen = rig.run(1);
    QCOMPARE(codes(seen), std::vector<int>{HostEventReady});
    QCOMPARE(seen[0].value != 0, !absent);
    QCOMPARE(rig.dongle.startLeScan(), !absent);
    QCOMPARE(rig.dongle.connect(VirtualDongle::controllerAddress(0)), !absent);
}

void TestVirtualDongle::announcements()
{
    Rig rig;
    rig.bringUp(true);
    std::map<uint64_t, std::vector<Seen>> byAddress;
    for (const Seen &s : rig.run(3000)) {
        QCOMPARE(s.code, uint32_t(HostEventDeviceFound));
        byAddress[s.address].push_back(s);
    }
    QCOMPARE(byAddress.size(), size_t(3));
    for (int i = 0; i < VirtualDongle::ControllerCount; ++i) {
        const std::vector<Seen> &sightings = byAddress[controllerAddress(i)];
        // Every advertising period, roughly.
        QVERIFY2(sightings.size() >= 9 && sightings.size() <= 11,
                 qPrintable(QString::number(sightings.size())));
        for (size_t k = 0; k < sightings.size(); ++k) {
            const bool nameless = (i == 2 && k == 0);
            QCOMPARE(sightings[k].named, !nameless);
            if (!nameless)
                QCOMPARE(sightings[k].name, QByteArray(VirtualDongle::controllerName(i)));
        }
    }

    // A new scan starts over: the third controller is first seen without its name again.
    QVERIFY(rig.dongle.startLeScan());
    bool first = true;
    for (const Seen &s : rig.run(1000)) {
        if (s.address == controllerAddress(2)) {
            QCOMPARE(s.named, !first);
            first = false;
        }
    }
    QVERIFY(!first);
}

void TestVirtualDongle::scanStops_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("stops");
    QTest::newRow("stop LE search") << "stopLeSearch" << true;
    QTest::newRow("stop device search") << "stopDeviceSearch" << true;
    QTest::newRow("cancel leaves the scan running") << "cancel" << false;
    QTest::newRow("connecting leaves the scan running") << "connect" << false;
}

void TestVirtualDongle::scanStops()
{
    QFETCH(QString, call);
    QFETCH(bool, stops);
    Rig rig;
    rig.bringUp(true);
    QVERIFY(!rig.run(1000).empty());
    if (call == "stopLeSearch")
        QVERIFY(rig.dongle.stopLeSearch());
    else if (call == "stopDeviceSearch")
        QVERIFY(rig.dongle.stopDeviceSearch());
    else if (call == "cancel")
        QVERIFY(rig.dongle.cancel());
    else
        QVERIFY(rig.dongle.connect(VirtualDongle::controllerAddress(0)));
    const std::vector<Seen> after = rig.run(1000);
    QCOMPARE(countCode(after, HostEventDeviceFound) == 0, stops);
    if (call == "connect") {
        // The connected controller no longer advertises; the others still do.
        std::set<uint64_t> seen;
        for (const Seen &s : rig.run(1000))
            seen.insert(s.address);
        QCOMPARE(seen, (std::set<uint64_t>{controllerAddress(1), controllerAddress(2)}));
    }
}

void TestVirtualDongle::advertisingFlood()
{
    Rig rig;
    rig.bringUp(true);
    rig.dongle.addAdvertisers(500);
    std::set<uint64_t> addresses;
    for (const Seen &s : rig.run(VirtualDongle::AdvertisingPeriodMs)) {
        QCOMPARE(s.code, uint32_t(HostEventDeviceFound));
        QVERIFY(s.named || s.address == controllerAddress(2));
        addresses.insert(s.address);
    }
    QCOMPARE(addresses.size(), size_t(503));

    // They are no controllers: a connection attempt times out.
    uint64_t beacon = 0;
    for (uint64_t a : addresses) {
        if (a != controllerAddress(0) && a != controllerAddress(1) && a != controllerAddress(2))
            beacon = a;
    }
    rig.dongle.stopLeSearch();
    QVERIFY(rig.dongle.connect(makeBleAddress(beacon)));
    const std::vector<Seen> seen = rig.run(VirtualDongle::ConnectTimeoutMs);
    QCOMPARE(codes(seen), std::vector<int>{HostEventConnectResult});
    QVERIFY(seen[0].status != 0);
}

void TestVirtualDongle::connect_data()
{
    QTest::addColumn<quint64>("address");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QVector<int>>("sequence");
    QTest::addColumn<bool>("connected");

    const quint64 known = controllerAddress(1);
    QTest::newRow("known controller") << known << false << false << true
                                      << QVector<int>{9, 4, 12} << true;
    QTest::newRow("unknown address") << quint64(0x112233445566ull) << false << false << true
                                     << QVector<int>{4} << false;
    QTest::newRow("connection refused") << known << true << false << false
                                        << QVector<int>{} << false;
    QTest::newRow("connection failed") << known << false << true << true
                                       << QVector<int>{4} << false;
}

void TestVirtualDongle::connect()
{
    QFETCH(quint64, address);
    QFETCH(bool, refused);
    QFETCH(bool, fails);
    QFETCH(bool, started);
    QFETCH(QVector<int>, sequence);
    QFETCH(bool, connected);

    Rig rig;
    rig.bringUp();
    rig.dongle.setConnectRefused(refused);
    rig.dongle.setConnectFails(fails);
    QCOMPARE(rig.dongle.connect(makeBleAddress(address)), started);

    std::vector<Seen> seen = rig.run(VirtualDongle::ConnectTimeoutMs - 1);
    if (!connected) {
        // A failure only shows once the attempt has timed out.
        QVERIFY(seen.empty());
        const std::vector<Seen> late = rig.run(1);
        seen.insert(seen.end(), late.begin(), late.end());
    }
    std::vector<int> got = codes(seen);
    QCOMPARE(QVector<int>(got.begin(), got.end()), sequence);
    if (sequence.isEmpty())
        return;

    const Seen &result = seen[size_t(sequence.indexOf(4))];
    QCOMPARE(result.address, address);
    if (!connected) {
        QVERIFY(result.status != 0);
        QCOMPARE(rig.dongle.connectionId(1), 0u);
        return;
    }
    QCOMPARE(result.status, uint16_t(0));
    QVERIFY(result.connId != 0);
    QCOMPARE(rig.dongle.connectionId(1), result.connId);
    QCOMPARE(seen[0].address, address);         // pairing request names the peer
    QCOMPARE(seen[2].connId, result.connId);    // update request for this link
    QVERIFY(rig.dongle.justWorksResult(makeBleAddress(address), 1, 1));
    QVERIFY(rig.dongle.acceptConnUpdate(result.connId, seen[2].identifier, 1));
}

void TestVirtualDongle::cancelDropsPendingConnection()
{
    Rig rig;
    rig.bringUp();
    QVERIFY(rig.dongle.connect(VirtualDongle::controllerAddress(0)));
    // One attempt at a time.
    QVERIFY(!rig.dongle.connect(VirtualDongle::controllerAddress(1)));
    QCOMPARE(codes(rig.run(VirtualDongle::PairingDelayMs)), std::vector<int>{HostEventJustWorks});
    QVERIFY(rig.dongle.cancel());
    QVERIFY(rig.run(VirtualDongle::ConnectTimeoutMs).empty());
    QCOMPARE(rig.dongle.connectionId(0), 0u);

    QVERIFY(rig.dongle.connect(VirtualDongle::controllerAddress(1)));
    QCOMPARE(codes(rig.run(VirtualDongle::ConnUpdateDelayMs)), (std::vector<int>{9, 4, 12}));
    QVERIFY(rig.dongle.connectionId(1) != 0);
}

void TestVirtualDongle::database()
{
    Rig rig;
    rig.bringUp();
    const uint32_t id = rig.connect(0, false);
    QVERIFY(!rig.dongle.discoverDatabase(0));
    QVERIFY(!rig.dongle.discoverDatabase(id + 1));
    QVERIFY(rig.dongle.discoverDatabase(id));
    QVERIFY(rig.run(VirtualDongle::DiscoveryDelayMs - 1).empty());
    const std::vector<Seen> seen = rig.run(1);
    QCOMPARE(codes(seen), std::vector<int>{HostEventDatabase});
    const Seen &db = seen[0];
    QCOMPARE(db.status, uint16_t(0));
    QCOMPARE(db.services.size(), size_t(3));
    QCOMPARE(db.services[0].uuid, uint16_t(0x1800));
    QCOMPARE(db.services[1].uuid, uint16_t(0x180A));
    const SeenService &own = db.services[2];
    QCOMPARE(own.uuid, uint16_t(0xFAEA));
    QCOMPARE(own.characteristics.size(), size_t(2));
    QCOMPARE(own.characteristics[0].valueHandle, VirtualDongle::ReportHandle);
    QCOMPARE(own.characteristics[0].descriptors.size(), size_t(1));
    QCOMPARE(own.characteristics[0].descriptors[0],
             (std::pair<uint16_t, uint16_t>(0x2902, VirtualDongle::ReportConfigHandle)));
    QCOMPARE(own.characteristics[1].valueHandle, VirtualDongle::ParamHandle);
}

void TestVirtualDongle::reportConfiguration_data()
{
    QTest::addColumn<int>("connOffset");
    QTest::addColumn<int>("descriptor");
    QTest::addColumn<int>("valueHandle");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("orientationPerSecond");

    const int d = VirtualDongle::ReportConfigHandle, v = VirtualDongle::ReportHandle;
    QTest::newRow("switch on") << 0 << d << v << 1 << 100 << true << 100;
    QTest::newRow("switch on at 50 per second") << 0 << d << v << 1 << 50 << true << 50;
    QTest::newRow("switch off") << 0 << d << v << 0 << 100 << true << 0;
    QTest::newRow("indications") << 0 << d << v << 2 << 100 << false << 0;
    QTest::newRow("wrong descriptor") << 0 << d + 1 << v << 1 << 100 << false << 0;
    QTest::newRow("wrong characteristic") << 0 << d << int(VirtualDongle::ParamHandle) << 1 << 100 << false << 0;
    QTest::newRow("unknown connection") << 7 << d << v << 1 << 100 << false << 0;
}

void TestVirtualDongle::reportConfiguration()
{
    QFETCH(int, connOffset);
    QFETCH(int, descriptor);
    QFETCH(int, valueHandle);
    QFETCH(int, value);
    QFETCH(int, rate);
    QFETCH(bool, accepted);
    QFETCH(int, orientationPerSecond);

    Rig rig;
    rig.bringUp();
    rig.dongle.setReportRate(rate);
    const uint32_t id = rig.connect(0, false);
    QCOMPARE(rig.dongle.writeConfiguration(id + uint32_t(connOffset), uint16_t(descriptor),
                                           uint16_t(valueHandle), uint16_t(value)),
             accepted);
    const std::vector<Seen> seen = rig.run(1000);
    // Each orientation report but every fourth is followed by one sensor report.
    QCOMPARE(int(seen.size()), 2 * orientationPerSecond - orientationPerSecond / 4);
    ReportState state;
    int orientation = 0;
    for (const Seen &s : seen) {
        QCOMPARE(s.code, uint32_t(HostEventNotification));
        QCOMPARE(s.connId, id);
        QCOMPARE(s.handle, VirtualDongle::ReportHandle);
        QCOMPARE(s.bytes.size(), 20);
        if (decodeReport(reinterpret_cast<const uint8_t *>(s.bytes.constData()),
                         size_t(s.bytes.size()), state).pos)
            ++orientation;
    }
    QCOMPARE(orientation, orientationPerSecond);
    if (orientation) {
        // The last report is the model's state at the end of the second.
        const VirtualController::Truth truth = rig.dongle.controllerTruth(0, rig.dongle.now());
        QCOMPARE(state.posSample.angle2, float(truth.angleTenths[1]) * 0.1f);
    }
}

void TestVirtualDongle::parameterWrite_data()
{
    QTest::addColumn<int>("connOffset");
    QTest::addColumn<int>("handle");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("refusedByFault");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("ackHead");

    const QByteArray good = frameBytes(MAG_PARAM{120, 35, 200, -75, -200, -3});
    QByteArray badSum = good;
    badSum[18] = char(badSum[18] ^ 0x01);
    const int p = VirtualDongle::ParamHandle;
    const QByteArray success = "550101000000000000000000";
    const QByteArray fail = "550101000100010001000000";

    QTest::newRow("valid frame") << 0 << p << 0 << good << false << true << success;
    QTest::newRow("bad checksum") << 0 << p << 0 << badSum << false << true << fail;
    QTest::newRow("short frame") << 0 << p << 0 << good.left(10) << false << true << fail;
    QTest::newRow("unknown connection") << 5 << p << 0 << good << false << false << QByteArray();
    QTest::newRow("report handle") << 0 << int(VirtualDongle::ReportHandle) << 0 << good << false
                                   << false << QByteArray();
    QTest::newRow("non-zero offset") << 0 << p << 4 << good << false << false << QByteArray();
    QTest::newRow("no data") << 0 << p << 0 << QByteArray() << false << false << QByteArray();
    QTest::newRow("write refused") << 0 << p << 0 << good << true << false << QByteArray();
}

void TestVirtualDongle::parameterWrite()
{
    QFETCH(int, connOffset);
    QFETCH(int, handle);
    QFETCH(int, offset);
    QFETCH(QByteArray, data);
    QFETCH(bool, refusedByFault);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, ackHead);

    Rig rig;
    rig.bringUp();
    const uint32_t id = rig.connect(0, true);
    rig.run(105);
    rig.dongle.setWriteRefused(refusedByFault);
    // "No data" claims 20 bytes behind a null pointer.
    const uint16_t length = data.isEmpty() ? 20 : uint16_t(data.size());
    const auto *bytes = data.isEmpty() ? nullptr : reinterpret_cast<const uint8_t *>(data.constData());
    QCOMPARE(rig.dongle.writeCharByHandle(id + uint32_t(connOffset), uint16_t(handle),
                                          uint16_t(offset), length, bytes),
             accepted);

    // The answer comes at once, ahead of the next report.
    const std::vector<Seen> seen = rig.run(0);
    const std::vector<std::vector<uint8_t>> frames = rig.dongle.receivedFrames(0);
    if (!accepted) {
        QVERIFY(seen.empty());
        QVERIFY(frames.empty());
        return;
    }
    QCOMPARE(frames.size(), size_t(1));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(frames[0].data()), int(frames[0].size())), data);
    QCOMPARE(seen.size(), size_t(1));
    QCOMPARE(seen[0].code, uint32_t(HostEventNotification));
    QCOMPARE(seen[0].bytes.left(12).toHex(), ackHead);
}

void TestVirtualDongle::disconnectStopsReports()
{
    Rig rig;
    rig.bringUp();
    const uint32_t id = rig.connect(0, true);
    QVERIFY(countCode(rig.run(200), HostEventNotification) > 0);
    QVERIFY(rig.dongle.disconnect(id));
    QVERIFY(!rig.dongle.reportsOn(0));
    QVERIFY(rig.run(1000).empty());
    QCOMPARE(rig.dongle.connectionId(0), 0u);
    QVERIFY(!rig.dongle.disconnect(id));
    QVERIFY(!rig.dongle.disconnect(0));
    // Writes on the old link are refused.
    const QByteArray f = frameBytes(MAG_PARAM{});
    QVERIFY(!rig.dongle.writeCharByHandle(id, VirtualDongle::ParamHandle, 0, 20,
                                          reinterpret_cast<const uint8_t *>(f.constData())));

    // The controller can be connected again, under a new id.
    const uint32_t again = rig.connect(0, true);
    QVERIFY(again != 0 && again != id);
    QVERIFY(countCode(rig.run(200), HostEventNotification) > 0);
}

void TestVirtualDongle::linkFailure()
{
    Rig rig;
    rig.bringUp();
    const uint32_t id = rig.connect(2, true);
    rig.run(100);
    rig.dongle.injectLinkFailure();
    const std::vector<Seen> seen = rig.run(0);
    QCOMPARE(codes(seen), std::vector<int>{HostEventFailure});
    QVERIFY(seen[0].failure != 0);
    QCOMPARE(seen[0].connId, id);
    QVERIFY(rig.run(1000).empty());
    QCOMPARE(rig.dongle.connectionId(2), 0u);
}

void TestVirtualDongle::injectedNotifications_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("too short") << QByteArray::fromHex("550000");
    QTest::newRow("no marker") << QByteArray(20, char(0xAA));
    QTest::newRow("oversized") << QByteArray(2000, char(0x55));
    QTest::newRow("empty") << QByteArray();
}

void TestVirtualDongle::injectedNotifications()
{
    QFETCH(QByteArray, bytes);
    Rig rig;
    rig.bringUp();
    const uint32_t id = rig.connect(1, true);
    rig.run(5);
    rig.dongle.injectNotification(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const std::vector<Seen> seen = rig.run(5);
    QCOMPARE(seen.size(), size_t(3));   // the injected one, then one orientation and one sensor report
    QCOMPARE(seen[0].connId, id);
    QCOMPARE(seen[0].bytes, bytes);
    QCOMPARE(seen[1].bytes.size(), 20);
}

void TestVirtualDongle::pauseAndResume()
{
    Rig rig;
    rig.bringUp();
    rig.connect(0, true);
    QCOMPARE(countCode(rig.run(1000), HostEventNotification), 175);
    rig.dongle.setReportsPaused(true);
    QVERIFY(rig.run(2000).empty());
    QVERIFY(rig.dongle.reportsOn(0));
    rig.dongle.setReportsPaused(false);
    QCOMPARE(countCode(rig.run(9), HostEventNotification), 0);   // no backlog burst
    QCOMPARE(countCode(rig.run(991), HostEventNotification), 175);
}

void TestVirtualDongle::observerSeesEveryNotification()
{
    Rig rig;
    std::vector<QByteArray> observed;
    rig.dongle.setNotificationObserver([&](uint32_t, const uint8_t *data, size_t length) {
        observed.emplace_back(reinterpret_cast<const char *>(data), int(length));
    });
    rig.bringUp();
    rig.connect(0, true);
    std::vector<QByteArray> posted;
    for (const Seen &s : rig.run(500))
        posted.push_back(s.bytes);
    QCOMPARE(posted.size(), size_t(88));
    QCOMPARE(observed, posted);
}

void TestVirtualDongle::realTimeClock()
{
    // On its own clock the dongle comes up, connects and streams without anyone stepping it.
    HostThreadQueue queue;
    VirtualDongle dongle;
    HostEventTarget target;
    target.queue = &queue;
    target.messageId = 0x7FFF;
    std::atomic<int> notifications{0};
    dongle.setNotificationObserver([&](uint32_t, const uint8_t *, size_t) { ++notifications; });
    QVERIFY(dongle.init(target));
    QVERIFY(dongle.start());
    QTRY_VERIFY_WITH_TIMEOUT(dongle.startLeScan(), 2000);
    QVERIFY(dongle.connect(VirtualDongle::controllerAddress(0)));
    QTRY_VERIFY_WITH_TIMEOUT(dongle.connectionId(0) != 0, 2000);
    QVERIFY(dongle.writeConfiguration(dongle.connectionId(0), VirtualDongle::ReportConfigHandle,
                                      VirtualDongle::ReportHandle, 1));
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY_WITH_TIMEOUT(notifications.load() >= 175, 5000);
    // 175 notifications take one second at the default rate; much less would mean a burst.
    QVERIFY2(timer.elapsed() >= 900, qPrintable(QString::number(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestVirtualDongle)
#include "tst_virtualdongle.moc"
