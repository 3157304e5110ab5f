// The simulated dongle as the worker sees it: the events it posts for each call, on the
// manual clock, and its fault injection.
#include "hostevents.h"
#include "hostqueue.h"
#include "paramframe.h"
#include "reportdecoder.h"
#include "virtualdongle.h"

#include <QtTest>

#include <map>
#include <set>

namespace {

constexpr uint32_t DrainMarker = 0xFFFFFFFFu;

// A copy of one posted event: the record is only valid until the next message is fetched.
struct Seen {
    uint32_t code = 0;
    uintptr_t value = 0;    // event 0
    uint64_t address = 0;   // events 2, 4, 9
    bool named = false;     // event 2
    QByteArray text;        // event 2: the name; 262: the database; 266: the bytes
    uint16_t status = 0;    // events 4, 10 (its failure value), 262
    uint32_t connId = 0;    // events 4, 9, 10, 12, 266
    uint16_t extra = 0;     // event 12: identifier; 266: handle
};

// The database as text: "uuid:value handle[descriptor uuid@handle],...;" per service.
QByteArray databaseText(const HostDatabaseEvent *e)
{
    QByteArray out;
    for (uint16_t i = 0; i < e->serviceCount; ++i) {
        const HostService &svc = e->services[i];
        out += QByteArray::number(svc.uuid, 16) + ":";
        for (uint16_t c = 0; c < svc.characteristicCount; ++c) {
            const HostCharacteristic &ch = svc.characteristics[c];
            out += (c ? "," : "") + QByteArray::number(ch.uuid, 16) + "@" + QByteArray::number(ch.valueHandle, 16);
            for (uint16_t d = 0; d < ch.descriptorCount; ++d)
                out += "[" + QByteArray::number(ch.descriptors[d].uuid, 16) + "@"
                        + QByteArray::number(ch.descriptors[d].handle, 16) + "]";
        }
        out += ";";
    }
    return out;
}

Seen copyEvent(uint32_t code, uintptr_t param)
{
    Seen s;
    s.code = code;
    if (code == HostEventReady) {
        s.value = param;
    } else if (code == HostEventDeviceFound) {
        const auto *e = reinterpret_cast<const HostDeviceFoundEvent *>(param);
        s.address = bleAddressValue(e->address);
        s.named = e->name != nullptr;
        s.text = e->name;
    } else if (code == HostEventConnectResult) {
        const auto *e = reinterpret_cast<const HostConnectResultEvent *>(param);
        s.address = bleAddressValue(e->address);
        s.status = e->status;
        s.connId = e->connId;
    } else if (code == HostEventJustWorks) {
        const auto *e = reinterpret_cast<const HostJustWorksEvent *>(param);
        s.address = bleAddressValue(e->address);
    } else if (code == HostEventFailure) {
        const auto *e = reinterpret_cast<const HostFailureEvent *>(param);
        s.status = e->failure;
        s.connId = e->connId;
    } else if (code == HostEventConnUpdate) {
        const auto *e = reinterpret_cast<const HostConnUpdateEvent *>(param);
        s.extra = e->identifier;
        s.connId = e->connId;
    } else if (code == HostEventDatabase) {
        const auto *e = reinterpret_cast<const HostDatabaseEvent *>(param);
        s.status = e->status;
        s.text = databaseText(e);
    } else if (code == HostEventNotification) {
        const auto *e = reinterpret_cast<const HostNotificationEvent *>(param);
        s.connId = e->connId;
        s.extra = e->handle;
        s.text = QByteArray(reinterpret_cast<const char *>(e->data), e->length);
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
        HostPostThreadMessage(target.queue, target.messageId, DrainMarker, 0);
        std::vector<Seen> seen;
        HostMessage m{};
        while (HostGetMessage(&m) && !(m.message == target.messageId && m.code == DrainMarker)) {
            if (m.message == target.messageId)
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

QVector<int> codes(const std::vector<Seen> &events)
{
    QVector<int> out;
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
    void linkEnds_data();
    void linkEnds();
    void injectedNotifications_data();
    void injectedNotifications();
    void pauseAndResume();
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
    QCOMPARE(codes(seen), QVector<int>{HostEventReady});
    QCOMPARE(seen[0].value != 0, !absent);
    QCOMPARE(rig.dongle.startLeScan(), !absent);
    QCOMPARE(rig.dongle.connect(VirtualDongle::controllerAddress(0)), !absent);
}

void TestVirtualDongle::announcements()
{
    Rig rig;
    rig.bringUp(true);
    // Two scans: each starts over, with the third controller first seen without its name.
    for (int scan = 0; scan < 2; ++scan) {
        std::map<uint64_t, std::vector<Seen>> byAddress;
        for (const Seen &s : rig.run(3000))
            byAddress[s.address].push_back(s);
        QCOMPARE(byAddress.size(), size_t(3));
        for (int i = 0; i < VirtualDongle::ControllerCount; ++i) {
            const std::vector<Seen> &sightings = byAddress[controllerAddress(i)];
            // About once per advertising period.
            QVERIFY2(sightings.size() >= 9 && sightings.size() <= 11,
                     qPrintable(QString::number(sightings.size())));
            for (size_t k = 0; k < sightings.size(); ++k) {
                const bool nameless = (i == 2 && k == 0);
                QCOMPARE(sightings[k].code, uint32_t(HostEventDeviceFound));
                QCOMPARE(sightings[k].named, !nameless);
                QCOMPARE(sightings[k].text, nameless ? QByteArray() : QByteArray(VirtualDongle::controllerName(i)));
            }
        }
        QVERIFY(rig.dongle.startLeScan());
    }
}

void TestVirtualDongle::scanStops_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QVector<int>>("stillAdvertising");
    QTest::newRow("stop LE search") << "stopLeSearch" << QVector<int>{};
    QTest::newRow("stop device search") << "stopDeviceSearch" << QVector<int>{};
    QTest::newRow("cancel leaves the scan running") << "cancel" << QVector<int>{0, 1, 2};
    // A connected controller stops advertising; the others go on.
    QTest::newRow("connecting") << "connect" << QVector<int>{1, 2};
}

void TestVirtualDongle::scanStops()
{
    QFETCH(QString, call);
    QFETCH(QVector<int>, stillAdvertising);
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
        rig.connect(0, false);
    std::set<uint64_t> seen, expected;
    for (const Seen &s : rig.run(1000))
        seen.insert(s.address);
    for (int i : stillAdvertising)
        expected.insert(controllerAddress(i));
    QCOMPARE(seen, expected);
}

void TestVirtualDongle::advertisingFlood()
{
    Rig rig;
    rig.bringUp(true);
    rig.dongle.addAdvertisers(500);
    std::set<uint64_t> addresses;
    for (const Seen &s : rig.run(VirtualDongle::AdvertisingPeriodMs))
        addresses.insert(s.address);
    QCOMPARE(addresses.size(), size_t(503));

    // They are no controllers: a connection attempt times out.
    addresses.erase(controllerAddress(0));
    QVERIFY(rig.dongle.connect(makeBleAddress(*addresses.rbegin())));
    rig.dongle.stopLeSearch();
    const std::vector<Seen> seen = rig.run(VirtualDongle::ConnectTimeoutMs);
    QCOMPARE(codes(seen), QVector<int>{HostEventConnectResult});
    QVERIFY(seen[0].status != 0);
}

void TestVirtualDongle::connect_data()
{
    QTest::addColumn<quint64>("address");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QVector<int>>("sequence");

    const quint64 known = controllerAddress(1);
    QTest::newRow("known controller") << known << false << false << true << QVector<int>{9, 4, 12};
    QTest::newRow("unknown address") << quint64(0x112233445566ull) << false << false << true
                                     << QVector<int>{4};
    QTest::newRow("connection refused") << known << true << false << false << QVector<int>{};
    QTest::newRow("connection failed") << known << false << true << true << QVector<int>{4};
}

void TestVirtualDongle::connect()
{
    QFETCH(quint64, address);
    QFETCH(bool, refused);
    QFETCH(bool, fails);
    QFETCH(bool, started);
    QFETCH(QVector<int>, sequence);
    const bool connects = sequence.size() == 3;

    Rig rig;
    rig.bringUp();
    rig.dongle.setConnectRefused(refused);
    rig.dongle.setConnectFails(fails);
    QCOMPARE(rig.dongle.connect(makeBleAddress(address)), started);

    std::vector<Seen> seen = rig.run(VirtualDongle::ConnectTimeoutMs - 1);
    if (!connects) {
        // A failure only shows once the attempt has timed out.
        QVERIFY(seen.empty());
        seen = rig.run(1);
    }
    QCOMPARE(codes(seen), sequence);
    if (sequence.isEmpty())
        return;

    const Seen &result = seen[size_t(sequence.indexOf(4))];
    QCOMPARE(result.address, address);
    QCOMPARE(result.status == 0, connects);
    QCOMPARE(rig.dongle.connectionId(1), result.connId);
    if (connects) {
        QVERIFY(result.connId != 0);
        QCOMPARE(seen[0].address, address);         // the pairing request names the peer
        QCOMPARE(seen[2].connId, result.connId);    // the update request is for this link
        QVERIFY(rig.dongle.justWorksResult(makeBleAddress(address), 1, 1));
        QVERIFY(rig.dongle.acceptConnUpdate(result.connId, seen[2].extra, 1));
    }
}

void TestVirtualDongle::cancelDropsPendingConnection()
{
    Rig rig;
    rig.bringUp();
    QVERIFY(rig.dongle.connect(VirtualDongle::controllerAddress(0)));
    QVERIFY(!rig.dongle.connect(VirtualDongle::controllerAddress(1)));  // one attempt at a time
    QCOMPARE(codes(rig.run(VirtualDongle::PairingDelayMs)), QVector<int>{HostEventJustWorks});
    QVERIFY(rig.dongle.cancel());
    QVERIFY(rig.run(VirtualDongle::ConnectTimeoutMs).empty());
    QCOMPARE(rig.dongle.connectionId(0), 0u);

    QVERIFY(rig.dongle.connect(VirtualDongle::controllerAddress(1)));
    QCOMPARE(codes(rig.run(VirtualDongle::ConnUpdateDelayMs)), (QVector<int>{9, 4, 12}));
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
    QCOMPARE(codes(seen), QVector<int>{HostEventDatabase});
    QCOMPARE(seen[0].status, uint16_t(0));
    QCOMPARE(seen[0].text, QByteArray("1800:2a00@3,2a01@5;180a:2a29@8,2a24@a;faea:fae1@d[2902@e],fae2@10;"));
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
    std::vector<QByteArray> observed;
    rig.dongle.setNotificationObserver([&](uint32_t, const uint8_t *data, size_t length) {
        observed.emplace_back(reinterpret_cast<const char *>(data), int(length));
    });
    rig.bringUp();
    rig.dongle.setReportRate(rate);
    const uint32_t id = rig.connect(0, false);
    QCOMPARE(rig.dongle.writeConfiguration(id + uint32_t(connOffset), uint16_t(descriptor),
                                           uint16_t(valueHandle), uint16_t(value)),
             accepted);
    const std::vector<Seen> seen = rig.run(1000);
    // Each orientation report but every fourth is followed by one sensor report.
    QCOMPARE(int(seen.size()), 2 * orientationPerSecond - orientationPerSecond / 4);
    QCOMPARE(observed.size(), seen.size());
    ReportState state;
    int orientation = 0;
    for (size_t i = 0; i < seen.size(); ++i) {
        const Seen &s = seen[i];
        QCOMPARE(s.code, uint32_t(HostEventNotification));
        QCOMPARE(s.connId, id);
        QCOMPARE(s.extra, VirtualDongle::ReportHandle);
        QCOMPARE(s.text.size(), 20);
        QCOMPARE(observed[i], s.text);
        if (decodeReport(reinterpret_cast<const uint8_t *>(s.text.constData()), 20, state).pos)
            ++orientation;
    }
    QCOMPARE(orientation, orientationPerSecond);
    if (orientation) {
        // The last report is the model's state now.
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
    QTest::addColumn<QByteArray>("ackHead");   // empty: the write is refused

    const QByteArray good = frameBytes(MAG_PARAM{120, 35, 200, -75, -200, -3});
    QByteArray badSum = good;
    badSum[18] = char(badSum[18] ^ 0x01);
    const int p = VirtualDongle::ParamHandle, r = VirtualDongle::ReportHandle;
    const QByteArray success = "550101000000000000000000";
    const QByteArray fail = "550101000100010001000000";

    QTest::newRow("valid frame") << 0 << p << 0 << good << false << success;
    QTest::newRow("bad checksum") << 0 << p << 0 << badSum << false << fail;
    QTest::newRow("short frame") << 0 << p << 0 << good.left(10) << false << fail;
    QTest::newRow("unknown connection") << 5 << p << 0 << good << false << QByteArray();
    QTest::newRow("report handle") << 0 << r << 0 << good << false << QByteArray();
    QTest::newRow("non-zero offset") << 0 << p << 4 << good << false << QByteArray();
    QTest::newRow("no data") << 0 << p << 0 << QByteArray() << false << QByteArray();
    QTest::newRow("write refused") << 0 << p << 0 << good << true << QByteArray();
}

void TestVirtualDongle::parameterWrite()
{
    QFETCH(int, connOffset);
    QFETCH(int, handle);
    QFETCH(int, offset);
    QFETCH(QByteArray, data);
    QFETCH(bool, refusedByFault);
    QFETCH(QByteArray, ackHead);
    const bool accepted = !ackHead.isEmpty();

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
    QCOMPARE(seen.size(), size_t(accepted ? 1 : 0));
    QCOMPARE(frames.size(), size_t(accepted ? 1 : 0));
    if (accepted) {
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(frames[0].data()), int(frames[0].size())), data);
        QCOMPARE(seen[0].code, uint32_t(HostEventNotification));
        QCOMPARE(seen[0].text.left(12).toHex(), ackHead);
    }
}

void TestVirtualDongle::linkEnds_data()
{
    QTest::addColumn<bool>("byFailure");
    QTest::newRow("disconnect") << false;
    QTest::newRow("link failure") << true;
}

void TestVirtualDongle::linkEnds()
{
    QFETCH(bool, byFailure);
    Rig rig;
    rig.bringUp();
    const uint32_t id = rig.connect(2, true);
    QVERIFY(countCode(rig.run(100), HostEventNotification) > 0);
    if (byFailure) {
        rig.dongle.injectLinkFailure();
        const std::vector<Seen> seen = rig.run(0);
        QCOMPARE(codes(seen), QVector<int>{HostEventFailure});
        QVERIFY(seen[0].status != 0);
        QCOMPARE(seen[0].connId, id);
    } else {
        QVERIFY(rig.dongle.disconnect(id));
    }
    // The reports stop and the old id is gone for good.
    QVERIFY(rig.run(1000).empty());
    QCOMPARE(rig.dongle.connectionId(2), 0u);
    QVERIFY(!rig.dongle.disconnect(id));
    const QByteArray f = frameBytes(MAG_PARAM{});
    QVERIFY(!rig.dongle.writeCharByHandle(id, VirtualDongle::ParamHandle, 0, 20,
                                          reinterpret_cast<const uint8_t *>(f.constData())));

    // The controller can be connected again, under a new id.
    const uint32_t again = rig.connect(2, true);
    QVERIFY(again != 0 && again != id);
    QVERIFY(countCode(rig.run(100), HostEventNotification) > 0);
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
    // In stream order: the injected bytes, then the next orientation and sensor reports.
    const std::vector<Seen> seen = rig.run(5);
    QCOMPARE(seen.size(), size_t(3));
    QCOMPARE(seen[0].connId, id);
    QCOMPARE(seen[0].text, bytes);
    QCOMPARE(seen[1].text.size(), 20);
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
    QVERIFY(rig.run(9).empty());    // no backlog burst
    QCOMPARE(countCode(rig.run(991), HostEventNotification), 175);
}

QTEST_GUILESS_MAIN(TestVirtualDongle)
#include "tst_virtualdongle.moc"
