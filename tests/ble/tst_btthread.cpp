#include "btthread.h"
#include "hostevents.h"
#include "protocol.h"
#include "stdoutcapture.h"
#include "waits.h"

#include <QtTest>

#include <QElapsedTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

QString text(const BleAddress &address)
{
    char out[Protocol::AddressTextLength + 1];
    Protocol::formatAddressText(address, out);
    return QString::fromLatin1(out) + (address.kind ? QString(" kind %1").arg(address.kind) : QString());
}

// A pairing request from this address is the sync marker; the worker answers it by a call.
// One from the hold address keeps the worker in that call until released.
const uint64_t MarkerAddress = 0xFFFFFFFFFFFFull;
const uint64_t HoldAddress = 0xFFFFFFFFFFFEull;

// A host layer that records every call with its arguments; calls named in `refused` fail.
class ScriptedBackend : public HostBackend
{
public:
    std::atomic<int> markers{0};
    std::mutex mutex;
    std::condition_variable released;
    bool holding = false;
    QStringList calls, refused;
    HostEventTarget target;

    QStringList takeCalls() { std::lock_guard<std::mutex> lock(mutex); return std::exchange(calls, {}); }
    void refuse(const QString &name) { std::lock_guard<std::mutex> lock(mutex); refused << name; }
    void post(HostEvent event)
    {
        HostEventTarget t;
        { std::lock_guard<std::mutex> lock(mutex); t = target; }
        t.post(std::move(event));
    }
    bool record(const QString &call)
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls << call;
        return !refused.contains(call.section('(', 0, 0));
    }

    bool init(const HostEventTarget &t) override
    {
        { std::lock_guard<std::mutex> lock(mutex); target = t; }
        return record("init");
    }
    bool start() override { return record("start"); }
    bool startLeScan() override { return record("scan"); }
    bool stopLeSearch() override { return record("stopLeSearch"); }
    bool stopDeviceSearch() override { return record("stopDeviceSearch"); }
    bool cancel() override { return record("cancel"); }
    bool setConnectionParams(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint16_t e, uint16_t f) override
    {
        return record(QString::asprintf("params(%u,%u,%u,%u,%u,%u)", a, b, c, d, e, f));
    }
    bool connect(const BleAddress &a) override { return record(QString("connect(%1)").arg(text(a))); }
    bool disconnect(uint32_t id) override { return record(QString("disconnect(%1)").arg(id)); }
    bool justWorksResult(const BleAddress &a, uint8_t accept, uint8_t bond) override
    {
        if (bleAddressValue(a) == MarkerAddress)
            return ++markers;
        if (bleAddressValue(a) == HoldAddress) {
            std::unique_lock<std::mutex> lock(mutex);
            holding = true;
            released.wait(lock, [this] { return !holding; });
            return true;
        }
        return record(QString("justWorks(%1,%2,%3)").arg(text(a)).arg(accept).arg(bond));
    }
    bool acceptConnUpdate(uint32_t id, uint16_t value, uint8_t accept) override
    {
        return record(QString("acceptUpdate(%1,%2,%3)").arg(id).arg(value).arg(accept));
    }
    bool discoverDatabase(uint32_t id) override { return record(QString("discover(%1)").arg(id)); }
    bool writeConfiguration(uint32_t id, uint16_t desc, uint16_t value, uint16_t v) override
    {
        return record(QString("configure(%1,%2,%3,%4)").arg(id).arg(desc).arg(value).arg(v));
    }
    bool writeCharByHandle(uint32_t id, uint16_t handle, uint16_t offset, uint16_t length,
                           const uint8_t *data) override
    {
        const QByteArray bytes = QByteArray(reinterpret_cast<const char *>(data), length).toHex(' ').toUpper();
        return record(QString("write(%1,%2,%3,%4,%5)").arg(id).arg(handle).arg(offset).arg(length)
                      .arg(QString::fromLatin1(bytes)));
    }
};

std::vector<HostServiceDef> database(const QString &name)
{
    HostServiceDef gap{0x1800, 1, 7, {{0x2A00, 3, 0x02, {}}}};
    HostServiceDef info{0x180A, 8, 12, {{0x2A29, 10, 0x02, {}}}};
    HostServiceDef controller{0xFAEA, 13, 20, {{0xFAE1, 15, 0x10, {{0x2902, 16}}}, {0xFAE2, 18, 0x08, {}}}};
    HostServiceDef other{0xFAEA, 21, 44, {{0xFAE1, 40, 0x10, {{0x2902, 41}}}, {0xFAE2, 43, 0x08, {}}}};
    std::vector<HostServiceDef> many(name.endsWith("254") ? 254 : 255, info);
    many.push_back(controller);
    if (name == "no controller") return {gap, info};
    if (name == "two controllers") return {gap, controller, other};
    if (name.startsWith("controller at")) return many;
    return {gap, info, controller};
}

QString report(int type, const char *values, const char *controls = "00000000")
{
    return QString("note 550000") + values + "0000" + controls + "000" + QString::number(type) + "000000";
}

const QString failed = "bt -1|Dongle failed to initialize!Please insert the dongle to computer!\\n|null";

} // namespace

class TestBtThread : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void events_data();
    void events();

private:
    bool sync();
    void run(const QString &command);

    ScriptedBackend *backend = nullptr;
    BtThread *worker = nullptr;
    QObject *receiver = nullptr;
    QStringList log;
};

void TestBtThread::init()
{
    backend = new ScriptedBackend;
    setHostBackend(backend);
    worker = new BtThread;
    receiver = new QObject;
    log.clear();
    // Queued, as the window receives them.
    connect(worker, &BtThread::BtSender, receiver, [this](int code, char *text, char *address) {
        log << QString("bt %1|%2|%3").arg(code)
                   .arg(text ? QString::fromUtf8(text).replace('\n', "\\n") : QString("null"))
                   .arg(address ? QString::fromLatin1(address) : QString("null"));
    }, Qt::QueuedConnection);
    connect(worker, &BtThread::posSender, receiver, [this](IMU_POS p) {
        log << QString::asprintf("pos %.1f,%.1f,%.1f", double(p.angle1), double(p.angle2), double(p.angle3));
    }, Qt::QueuedConnection);
    connect(worker, &BtThread::rawSender, receiver, [this](IMU_RAW r) {
        log << QString::asprintf("raw %d,%d,%d,%d,%d,%d,%d,%d,%d", r.first_x, r.first_y, r.first_z,
                                 r.second_x, r.second_y, r.second_z, r.mag_x, r.mag_y, r.mag_z);
    }, Qt::QueuedConnection);
    connect(worker, &BtThread::btnSender, receiver, [this](short btn, short trig, short x, short y) {
        log << QString::asprintf("btn %d,%d,%d,%d", btn, trig, x, y);
    }, Qt::QueuedConnection);
}

void TestBtThread::cleanup()
{
    delete worker;      // stops the thread
    delete receiver;
    setHostBackend(nullptr);
    delete backend;
}

// Waits until the worker has handled everything posted so far, and delivers its signals.
bool TestBtThread::sync()
{
    const int before = backend->markers;
    backend->post(hostJustWorksEvent(makeBleAddress(MarkerAddress)));
    const bool done = QTest::qWaitFor([&] { return backend->markers > before; }, 5000);
    QCoreApplication::sendPostedEvents(receiver, QEvent::MetaCall);
    return done;
}

void TestBtThread::run(const QString &command)
{
    const QString verb = command.section(' ', 0, 0), arg = command.section(' ', 1, 1);
    const QString rest = command.section(' ', 1), tail = command.section(' ', 2);
    const QByteArray name = tail.toUtf8(), hex = QByteArray::fromHex(rest.toLatin1());
    const auto number = uint16_t(arg.toUInt());
    const BleAddress address = makeBleAddress(arg.toULongLong(nullptr, 16));

    if (verb == "refuse") {
        backend->refuse(rest);
    } else if (verb == "ready") {
        backend->post(hostReadyEvent(arg == "1"));
    } else if (verb == "found") {
        backend->post(hostDeviceFoundEvent(address, tail.isEmpty() ? nullptr : name.constData()));
    } else if (verb == "conn") {
        backend->post(hostConnectResultEvent(number, tail.toUInt()));
    } else if (verb == "jw") {
        backend->post(hostJustWorksEvent(address));
    } else if (verb == "fail") {
        backend->post(hostFailureEvent(number));
    } else if (verb == "update") {
        backend->post(hostConnUpdateEvent(number));
    } else if (verb == "db" || verb == "baddb") {
        HostEvent event = hostDatabaseEvent(verb == "db" ? number : 0, database(tail));
        // Counts that promise more than the pointers hold, or a controller service without entries.
        HostDatabaseEvent *record = reinterpret_cast<HostDatabaseEvent *>(event.param);
        if (rest == "null services")
            record->services = nullptr;
        else if (rest == "null characteristics")
            record->services[2].characteristics = nullptr;
        else if (rest == "no characteristics")
            record->services[2].characteristicCount = 0;
        backend->post(event);
    } else if (verb == "hold") {
        backend->post(hostJustWorksEvent(makeBleAddress(HoldAddress)));
        QTRY_VERIFY([this] { std::lock_guard<std::mutex> lock(backend->mutex); return backend->holding; }());
    } else if (verb == "release") {
        { std::lock_guard<std::mutex> lock(backend->mutex); backend->holding = false; }
        backend->released.notify_all();
    } else if (verb == "flood") {   // reports of a type that is not decoded
        for (int i = arg.toInt(); i > 0; --i)
            run(report(7, "000000000000"));
    } else if (verb == "wres") {
        backend->post(hostWriteResultEvent(number, 7, 18));
    } else if (verb == "status") {
        backend->post(hostStatusEvent(number));
    } else if (verb == "note") {
        backend->post(hostNotificationEvent(1, 15, reinterpret_cast<const uint8_t *>(hex.constData()),
                                            size_t(hex.size())));
    } else if (verb == "code" || verb == "null") {
        // An event the worker does not know, with a record full of ones behind it, or none.
        HostEvent event;
        event.code = arg.toUInt();
        if (verb == "code") {
            auto bytes = std::make_shared<std::array<uint8_t, 64>>();
            bytes->fill(0x01);
            event.param = reinterpret_cast<uintptr_t>(bytes->data());
            event.storage = bytes;
        }
        backend->post(event);
    } else {
        QVERIFY(sync());
        const QStringList v = rest.split(' ');
        if (verb == "connect")
            worker->connectDevice(rest.toLatin1().constData());
        else if (verb == "disconnect")
            QCOMPARE(worker->disconnectDevice(), 1);
        else if (verb == "rescan")
            worker->restartScan();
        else if (verb == "dropped")
            QCOMPARE(worker->droppedReports(), quint64(arg.toULongLong()));
        else if (verb == "save") {
            // Whether the frame went out, and whether the caller was held for the pause.
            QElapsedTimer held;
            held.start();
            const bool sent = worker->saveParam(MAG_PARAM{v[0].toShort(), v[1].toShort(), v[2].toShort(),
                                                          v[3].toShort(), v[4].toShort(), v[5].toShort()});
            log << QString("saved %1 held %2").arg(sent).arg(held.elapsed() >= 1000);
        } else
            qFatal("bad command %s", qPrintable(command));
    }
}

void TestBtThread::events_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("calls");     // after init and start
    QTest::addColumn<QStringList>("emitted");   // after the start announcement
    QTest::addColumn<QString>("console");

    QTest::newRow("dongle ready starts the scan") << QStringList{"ready 1"}
        << QStringList{"scan"} << QStringList{"bt 2|uEnergy Host library is intialized\\n|null"} << "";
    QTest::newRow("scan refused") << QStringList{"refuse scan", "ready 1"}
        << QStringList{"scan"} << QStringList{"bt 2|uEnergy Host library is intialized\\n|null"}
        << "Unable to scan device.\n";
    QTest::newRow("dongle failed: no scan") << QStringList{"ready 0"} << QStringList() << QStringList{failed} << "";
    QTest::newRow("device list: name then none, none then name, literal Unknown Device, rescan")
        << QStringList{"found 00AB0C00000D Alpha One", "found 00AB0C00000D", "found 123456789ABC", "rescan",
                       "found 123456789ABC", "found 123456789ABC Beta", "found 123456789ABC Beta",
                       "found 000000000001 Unknown Device", "found 000000000001 Gamma"}
        << QStringList{"cancel", "disconnect(0)", "scan"}
        << QStringList{"bt 3|Alpha One|00AB0C00000D", "bt 3|Alpha One|00AB0C00000D",
                       "bt 3|Unknown Device|123456789ABC", "bt 3|Beta|123456789ABC",
                       "bt 3|Unknown Device|000000000001"} << "";
    QTest::newRow("id 0 and failure 0 ignored, a failed connection keeps the id")
        << QStringList{"conn 0 0", "fail 0", "conn 0 7", "conn 5 9", "fail 1"}
        << QStringList{"discover(7)", "cancel", "disconnect(7)"} << QStringList{"bt 5|Link lost|null"} << "";
    QTest::newRow("bad address texts call nothing; attempts that fail end; a lost link's late reports are "
                  "not shown, the next link's are")
        << QStringList{"connect 123456789ABCD", "connect 12345678-ABC", "connect 00AB0C00000D", "conn 5 0", "refuse connect", "connect 00AB0C00000D", "conn 0 7",
                       report(0, "000A000A000A"), "fail 1", report(0, "0014000A000A"), "conn 0 8", report(0, "001E000A000A")}
        << QStringList{"stopLeSearch", "stopDeviceSearch", "params(65535,65535,6,6,0,500)", "connect(00AB0C00000D)",
                       "stopLeSearch", "stopDeviceSearch", "params(65535,65535,6,6,0,500)", "connect(00AB0C00000D)",
                       "discover(7)", "cancel", "disconnect(7)", "discover(8)"}
        << QStringList{"bt 5|Connection failed|null", "bt 5|Connection refused|null", "pos 1.0,1.0,1.0",
                       "btn 0,0,0,0", "bt 5|Link lost|null", "pos 3.0,1.0,1.0", "btn 0,0,0,0"} << "OK\nFail\n";
    // More than a second of notifications waiting: the oldest reports go; acknowledgements
    // and other events stay, in order.
    QTest::newRow("backlog") << QStringList{"hold", "note 5501010000000000000000000000000001", "flood 1000",
                                            report(0, "0014000A000A"), "conn 0 7", "release", "dropped 1"}
        << QStringList{"discover(7)"} << QStringList{"bt 4|Write data success!|null", "pos 2.0,1.0,1.0", "btn 0,0,0,0"}
        << "";
    QTest::newRow("just works and connection update accepted") << QStringList{"jw 123456789ABC", "update 42"}
        << QStringList{"justWorks(123456789ABC,1,1)", "acceptUpdate(0,42,1)"} << QStringList() << "";
    QTest::newRow("database: the first controller service switches reports on")
        << QStringList{"conn 0 7", "db 0 controller", "db 0 two controllers", "db 0 controller at 254"}
        << QStringList{"discover(7)", "configure(7,16,15,1)", "configure(7,16,15,1)", "configure(7,16,15,1)"}
        << QStringList() << "";
    QTest::newRow("database: nothing usable, nothing switched on")
        << QStringList{"conn 0 7", "db 1 controller", "db 0 no controller", "db 0 controller at 255",
                       "baddb no characteristics", "baddb null services", "baddb null characteristics"}
        << QStringList{"discover(7)"} << QStringList() << "";
    QTest::newRow("reports and acknowledgements")
        << QStringList{report(0, "0E118E117FFF", "058010F0"), report(2, "000100020003"),
                       report(3, "000400050006"), report(4, "000780080009"),
                       "note 5501010000000000000000000000000000", "note 550101000100010001000000000000007F"}
        << QStringList() << QStringList{"pos 0.1,-0.1,36.7", "btn 5,-128,-16,16", "raw 1,2,3,4,5,6,7,-8,9",
                                        "bt 4|Write data success!|null", "pos 0.0,0.0,0.0", "btn 0,0,0,0",
                                        "bt 4|Write data fail!|null"} << "";
    QTest::newRow("oversized keeps its head; short after long: no stale bytes")
        << QStringList{report(0, "000A000A000A") + QString(6000, '5'), report(4, "000100010001"),
                       "note 55", "note 5501010000", "note 550000000A000A000A00000000000000"}
        << QStringList() << QStringList{"pos 1.0,1.0,1.0", "btn 0,0,0,0", "raw 0,0,0,0,0,0,1,1,1"} << "";
    QTest::newRow("status 0 prints; null records and unknown codes are ignored")
        << QStringList{"status 0", "status 1", "null 2", "null 4", "null 9", "null 10", "null 12", "null 262",
                       "null 265", "null 266", "null 267", "code 1", "code 3", "code 5", "code 11", "code 13",
                       "code 261", "code 263", "code 264", "code 268", "code 65536"}
        << QStringList() << QStringList() << "test";
    QTest::newRow("disconnect and rescan use the connection id; each ends a link or an attempt once")
        << QStringList{"disconnect", "conn 0 7", "disconnect", "rescan", "connect 00AB0C00000D", "rescan"}
        << QStringList{"disconnect(0)", "discover(7)", "disconnect(7)", "cancel", "disconnect(7)", "scan",
                       "stopLeSearch", "stopDeviceSearch", "params(65535,65535,6,6,0,500)", "connect(00AB0C00000D)",
                       "cancel", "disconnect(7)", "scan"}
        << QStringList{"bt 5|Disconnected|null", "bt 5|Disconnected|null"} << "OK\n";
    // A frame goes out only over a link to a known characteristic; a write refused later is a
    // failed write.
    QTest::newRow("parameter write")
        << QStringList{"save 0 0 0 0 0 0", "conn 0 7", "save 0 0 0 0 0 0", "db 0 controller", "save 120 35 200 -75 -200 -3",
                       "wres 0", "wres 128", "wres 129", "refuse write", "save 0 0 0 0 0 0", "conn 0 8", "save 0 0 0 0 0 0"}
        << QStringList{"discover(7)", "configure(7,16,15,1)",
                       "write(7,18,0,20,5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5)",
                       "write(7,18,0,20,5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5)", "discover(8)"}
        << QStringList{"saved 0 held 0", "saved 0 held 0", "saved 1 held 1", "bt 4|Write data fail!|null",
                       "bt 4|Write data fail!|null", "saved 0 held 0", "saved 0 held 0"}
        << "fail!fail!success!fail!fail!";
}

void TestBtThread::events()
{
    QFETCH(QStringList, script);
    QFETCH(QStringList, calls);
    QFETCH(QStringList, emitted);
    QFETCH(QString, console);

    StdoutCapture capture;
    worker->start();
    QTRY_VERIFY(!log.isEmpty());
    QCOMPARE(log.takeFirst(), QString("bt -2|Close All the button!\\n|null"));
    QCOMPARE(backend->takeCalls(), (QStringList{"init", "start"}));
    for (const QString &command : script) {
        run(command);
        if (QTest::currentTestFailed())
            break;
    }
    const bool synced = sync();
    worker->stop();
    QCoreApplication::sendPostedEvents(receiver, QEvent::MetaCall);
    const QString printed = QString::fromLatin1(capture.text());

    QVERIFY(synced);
    QVERIFY(worker->isFinished());
    QCOMPARE(backend->takeCalls(), calls);
    QCOMPARE(log, emitted);
    QCOMPARE(printed, console);
}

QTEST_GUILESS_MAIN(TestBtThread)
#include "tst_btthread.moc"
