#include "addresstext.h"
#include "btthread.h"
#include "hostevents.h"

#include <QtTest>

#include <QElapsedTimer>
#include <QTemporaryFile>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

QString addressText(const BleAddress &address)
{
    char text[13];
    formatAddressText(address, text);
    return QString::fromLatin1(text);
}

BleAddress address(const QString &text)
{
    BleAddress parsed{};
    const QByteArray bytes = text.toLatin1();
    const bool ok = parseAddressText(bytes.constData(), &parsed);
    Q_ASSERT(ok);
    Q_UNUSED(ok);
    return parsed;
}

// The address of the sync marker: a pairing request the worker answers by a call.
const uint64_t MarkerAddress = 0xFFFFFFFFFFFFull;

// A host layer that records every call with its arguments and lets the test post events.
class ScriptedBackend : public HostBackend
{
public:
    std::atomic<bool> initOk{true}, startOk{true}, scanOk{true}, paramsOk{true},
            connectOk{true}, writeOk{true};
    std::atomic<int> markers{0};

    QStringList takeCalls()
    {
        std::lock_guard<std::mutex> lock(mutex);
        QStringList out;
        out.swap(calls);
        return out;
    }
    HostEventTarget eventTarget()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return target;
    }
    void post(HostEvent event) { eventTarget().post(std::move(event)); }

    bool init(const HostEventTarget &t) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        target = t;
        calls << "init";
        return initOk;
    }
    bool start() override { return record("start", startOk); }
    bool startLeScan() override { return record("scan", scanOk); }
    bool stopLeSearch() override { return record("stopLeSearch"); }
    bool stopDeviceSearch() override { return record("stopDeviceSearch"); }
    bool cancel() override { return record("cancel"); }
    bool setConnectionParams(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint16_t e,
                             uint16_t f) override
    {
        return record(QString::asprintf("params(%u,%u,%u,%u,%u,%u)", a, b, c, d, e, f), paramsOk);
    }
    bool connect(const BleAddress &a) override
    {
        return record(QString("connect(%1,kind %2)").arg(addressText(a)).arg(a.kind), connectOk);
    }
    bool disconnect(uint32_t id) override { return record(QString("disconnect(%1)").arg(id)); }
    bool justWorksResult(const BleAddress &a, uint8_t accept, uint8_t bond) override
    {
        if (bleAddressValue(a) == MarkerAddress)
            return ++markers;
        return record(QString("justWorks(%1,%2,%3)").arg(addressText(a)).arg(accept).arg(bond));
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
        const QByteArray bytes(reinterpret_cast<const char *>(data), length);
        return record(QString("write(%1,%2,%3,%4,%5)").arg(id).arg(handle).arg(offset).arg(length)
                      .arg(QString::fromLatin1(bytes.toHex(' ').toUpper())), writeOk);
    }

private:
    bool record(const QString &call, bool result = true)
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls << call;
        return result;
    }

    std::mutex mutex;
    QStringList calls;
    HostEventTarget target;
};

// Receives the worker's signals on the test's thread, through queued connections made by
// signature, as the window makes them.
class Recorder : public QObject
{
    Q_OBJECT
public:
    QStringList log;
public slots:
    void onBt(int code, char *text, char *addressText)
    {
        log << QString("bt %1|%2|%3").arg(code)
                   .arg(text ? QString::fromUtf8(text).replace('\n', "\\n") : QString("null"))
                   .arg(addressText ? QString::fromLatin1(addressText) : QString("null"));
    }
    void onPos(IMU_POS p)
    {
        log << QString::asprintf("pos %.1f,%.1f,%.1f", double(p.angle1), double(p.angle2),
                                 double(p.angle3));
    }
    void onRaw(IMU_RAW r)
    {
        log << QString::asprintf("raw %d,%d,%d,%d,%d,%d,%d,%d,%d", r.first_x, r.first_y,
                                 r.first_z, r.second_x, r.second_y, r.second_z, r.mag_x,
                                 r.mag_y, r.mag_z);
    }
    void onBtn(short btn, short trig, short x, short y)
    {
        log << QString::asprintf("btn %d,%d,%d,%d", btn, trig, x, y);
    }
};

// Standard output, captured into a file while the worker runs.
class ConsoleCapture
{
public:
    ConsoleCapture()
    {
        file.open();
        std::fflush(stdout);
        saved = dup(fileno(stdout));
        dup2(file.handle(), fileno(stdout));
    }
    QString finish()
    {
        std::fflush(stdout);
        dup2(saved, fileno(stdout));
        close(saved);
        file.seek(0);
        return QString::fromLatin1(file.readAll());
    }

private:
    QTemporaryFile file;
    int saved = -1;
};

// Keeps named attribute databases short in the data table.
std::vector<HostServiceSpec> database(const QString &name)
{
    HostServiceSpec gap{0x1800, 1, 7, {{0x2A00, 3, 0x02, {}}}};
    HostServiceSpec info{0x180A, 8, 12, {{0x2A29, 10, 0x02, {}}}};
    HostServiceSpec controller{0xFAEA, 13, 20,
                               {{0xFAE1, 15, 0x10, {{0x2902, 16}}}, {0xFAE2, 18, 0x08, {}}}};
    if (name == "controller")
        return {gap, info, controller};
    if (name == "no controller")
        return {gap, info};
    if (name == "two controllers") {
        HostServiceSpec other = controller;
        other.characteristics[0].valueHandle = 40;
        other.characteristics[0].descriptors[0].handle = 41;
        other.characteristics[1].valueHandle = 43;
        return {gap, controller, other};
    }
    if (name == "one characteristic") {
        controller.characteristics.resize(1);
        return {gap, controller};
    }
    if (name == "no descriptor") {
        controller.characteristics[0].descriptors.clear();
        return {controller};
    }
    if (name == "no characteristics") {
        controller.characteristics.clear();
        return {controller};
    }
    if (name == "controller at 254" || name == "controller at 255") {
        std::vector<HostServiceSpec> many(name.endsWith("254") ? 254 : 255, info);
        many.push_back(controller);
        return many;
    }
    qFatal("unknown database %s", qPrintable(name));
}

// A database record whose counts promise more than its pointers hold.
HostEvent inconsistentDatabase(const QString &name)
{
    struct Holder {
        HostDatabaseEvent record{};
        HostService service{};
    };
    auto holder = std::make_shared<Holder>();
    holder->record.type = 262;
    holder->record.serviceCount = 3;
    if (name == "null services") {
        holder->record.services = nullptr;
    } else {   // "null characteristics"
        holder->record.serviceCount = 1;
        holder->service.uuid = 0xFAEA;
        holder->service.characteristicCount = 2;
        holder->service.characteristics = nullptr;
        holder->record.services = &holder->service;
    }
    HostEvent event;
    event.code = HostEventDatabase;
    event.param = reinterpret_cast<uintptr_t>(&holder->record);
    event.storage = holder;
    return event;
}

QByteArray reportBytes(int type, const char *values, const char *controls = "00000000")
{
    QByteArray bytes = QByteArray::fromHex("550000") + QByteArray::fromHex(values)
            + QByteArray::fromHex("0000") + QByteArray::fromHex(controls)
            + QByteArray::fromHex("00");
    bytes.append(char(type));
    bytes.append(QByteArray::fromHex("000000"));
    return bytes;
}

HostEvent notification(const QByteArray &bytes)
{
    return hostNotificationEvent(1, 15, reinterpret_cast<const uint8_t *>(bytes.constData()),
                                 size_t(bytes.size()));
}

const QString started = "bt -2|Close All the button!\\n|null";
const QString ready = "bt 2|uEnergy Host library is intialized\\n|null";
const QString failed = "bt -1|Dongle failed to initialize!Please insert the dongle to computer!\\n|null";

} // namespace

Q_DECLARE_METATYPE(HostEvent)

class TestBtThread : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void events_data();
    void events();
    void saveParamWhenNotRunning();
    void saveParamTakesOneSecond();
    void stopEndsTheWorker_data();
    void stopEndsTheWorker();

private:
    void startWorker();
    bool sync();
    void run(const QString &command);

    ScriptedBackend *backend = nullptr;
    BtThread *worker = nullptr;
    Recorder *recorder = nullptr;
};

void TestBtThread::init()
{
    backend = new ScriptedBackend;
    setHostBackend(backend);
    worker = new BtThread;
    recorder = new Recorder;
    QVERIFY(connect(worker, SIGNAL(BtSender(int,char*,char*)), recorder,
                    SLOT(onBt(int,char*,char*)), Qt::QueuedConnection));
    QVERIFY(connect(worker, SIGNAL(posSender(IMU_POS)), recorder, SLOT(onPos(IMU_POS)),
                    Qt::QueuedConnection));
    QVERIFY(connect(worker, SIGNAL(rawSender(IMU_RAW)), recorder, SLOT(onRaw(IMU_RAW)),
                    Qt::QueuedConnection));
    QVERIFY(connect(worker, SIGNAL(btnSender(short,short,short,short)), recorder,
                    SLOT(onBtn(short,short,short,short)), Qt::QueuedConnection));
}

void TestBtThread::cleanup()
{
    delete worker;      // stops the thread
    worker = nullptr;
    delete recorder;
    setHostBackend(nullptr);
    delete backend;
}

void TestBtThread::startWorker()
{
    worker->start();
    QTRY_VERIFY(!recorder->log.isEmpty());
    QCOMPARE(recorder->log.takeFirst(), started);
}

// Waits until the worker has handled everything posted so far, and delivers its signals.
bool TestBtThread::sync()
{
    const int before = backend->markers;
    backend->post(hostJustWorksEvent(makeBleAddress(MarkerAddress)));
    const bool done = QTest::qWaitFor([&] { return backend->markers > before; }, 5000);
    QCoreApplication::sendPostedEvents(recorder, QEvent::MetaCall);
    return done;
}

void TestBtThread::run(const QString &command)
{
    const QString verb = command.section(' ', 0, 0);
    const QString arg1 = command.section(' ', 1, 1);
    const QString arg2 = command.section(' ', 2, 2);
    const QString rest = command.section(' ', 2);

    if (verb == "refuse") {
        const QString what = command.section(' ', 1);
        if (what == "scan") backend->scanOk = false;
        else if (what == "params") backend->paramsOk = false;
        else if (what == "connect") backend->connectOk = false;
        else if (what == "write") backend->writeOk = false;
        else qFatal("bad refuse %s", qPrintable(what));
    } else if (verb == "ready") {
        backend->post(hostReadyEvent(arg1 == "1"));
    } else if (verb == "found") {
        const QByteArray name = rest.toUtf8();
        backend->post(hostDeviceFoundEvent(address(arg1), rest.isEmpty() ? nullptr : name.constData()));
    } else if (verb == "conn") {
        backend->post(hostConnectResultEvent(uint16_t(arg1.toUInt()), arg2.toUInt()));
    } else if (verb == "jw") {
        backend->post(hostJustWorksEvent(address(arg1)));
    } else if (verb == "fail") {
        backend->post(hostFailureEvent(uint16_t(arg1.toUInt())));
    } else if (verb == "update") {
        backend->post(hostConnUpdateEvent(uint16_t(arg1.toUInt())));
    } else if (verb == "db") {
        backend->post(hostDatabaseEvent(uint16_t(arg1.toUInt()), database(rest)));
    } else if (verb == "baddb") {
        backend->post(inconsistentDatabase(command.section(' ', 1)));
    } else if (verb == "status") {
        backend->post(hostStatusEvent(uint16_t(arg1.toUInt())));
    } else if (verb == "note") {
        backend->post(notification(QByteArray::fromHex(command.section(' ', 1).toLatin1())));
    } else if (verb == "code") {
        // An event the worker does not know, with a record full of ones behind it.
        HostEvent event;
        event.code = arg1.toUInt();
        auto bytes = std::make_shared<std::array<uint8_t, 64>>();
        bytes->fill(0x01);
        event.param = reinterpret_cast<uintptr_t>(bytes->data());
        event.storage = bytes;
        backend->post(event);
    } else if (verb == "null") {
        HostEvent event;
        event.code = arg1.toUInt();
        backend->post(event);
    } else if (verb == "foreign") {
        // Library events under another identifier.
        const HostEventTarget target = backend->eventTarget();
        HostEventTarget other{target.queue, target.messageId + 1};
        other.post(hostReadyEvent(true));
        other.post(hostJustWorksEvent(address("123456789ABC")));
        other.post(hostConnectResultEvent(0, 99));
    } else if (verb == "connect") {
        QVERIFY(sync());
        const QByteArray text = command.section(' ', 1).toLatin1();
        worker->connectDevice(text.constData());
    } else if (verb == "disconnect") {
        QVERIFY(sync());
        QCOMPARE(worker->disconnectDevice(), 1);
    } else if (verb == "rescan") {
        QVERIFY(sync());
        worker->restartScan();
    } else if (verb == "save") {
        QVERIFY(sync());
        const QStringList v = command.section(' ', 1).split(' ');
        MAG_PARAM param;
        param.max_x = short(v[0].toShort());
        param.max_y = short(v[1].toShort());
        param.max_z = short(v[2].toShort());
        param.min_x = short(v[3].toShort());
        param.min_y = short(v[4].toShort());
        param.min_z = short(v[5].toShort());
        QVERIFY(worker->saveParam(param));
    } else {
        qFatal("bad command %s", qPrintable(command));
    }
}

void TestBtThread::events_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("calls");     // after init and start
    QTest::addColumn<QStringList>("emitted");   // after the start announcement
    QTest::addColumn<QString>("console");

    const QString full = "5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5";

    QTest::newRow("dongle ready starts the scan") << QStringList{"ready 1"}
        << QStringList{"scan"} << QStringList{ready} << "";
    QTest::newRow("scan refused") << QStringList{"refuse scan", "ready 1"}
        << QStringList{"scan"} << QStringList{ready} << "Unable to scan device.\n";
    QTest::newRow("dongle failed: no scan") << QStringList{"ready 0"}
        << QStringList() << QStringList{failed} << "";
    QTest::newRow("device found") << QStringList{"found 00AB0C00000D Alpha One", "found 00AB0C00000D"}
        << QStringList()
        << QStringList{"bt 3|Alpha One|00AB0C00000D", "bt 3|Alpha One|00AB0C00000D"} << "";
    QTest::newRow("nameless device announced once, also after a rescan")
        << QStringList{"found 123456789ABC", "rescan", "found 123456789ABC", "found 123456789ABC Beta"}
        << QStringList{"cancel", "disconnect(0)", "scan"}
        << QStringList{"bt 3|Unknown Device|123456789ABC"} << "";
    QTest::newRow("connected: discovery") << QStringList{"conn 0 7"}
        << QStringList{"discover(7)"} << QStringList() << "";
    QTest::newRow("connected with id 0: no discovery") << QStringList{"conn 0 0", "fail 1"}
        << QStringList{"cancel", "disconnect(0)"} << QStringList() << "";
    QTest::newRow("failed connection keeps the id") << QStringList{"conn 0 7", "conn 5 9", "fail 1"}
        << QStringList{"discover(7)", "cancel", "disconnect(7)"} << QStringList() << "";
    QTest::newRow("just works accepted") << QStringList{"jw 123456789ABC"}
        << QStringList{"justWorks(123456789ABC,1,1)"} << QStringList() << "";
    QTest::newRow("failure zero does nothing") << QStringList{"conn 0 7", "fail 0"}
        << QStringList{"discover(7)"} << QStringList() << "";
    QTest::newRow("failure before any connection") << QStringList{"fail 3"}
        << QStringList{"cancel", "disconnect(0)"} << QStringList() << "";
    QTest::newRow("connection update accepted") << QStringList{"conn 0 7", "update 42"}
        << QStringList{"discover(7)", "acceptUpdate(7,42,1)"} << QStringList() << "";
    QTest::newRow("database: reports switched on") << QStringList{"conn 0 7", "db 0 controller"}
        << QStringList{"discover(7)", "configure(7,16,15,1)"} << QStringList() << "";
    QTest::newRow("database with error status") << QStringList{"conn 0 7", "db 1 controller"}
        << QStringList{"discover(7)"} << QStringList() << "";
    QTest::newRow("database without the controller") << QStringList{"conn 0 7", "db 0 no controller"}
        << QStringList{"discover(7)"} << QStringList() << "";
    QTest::newRow("database: first controller service wins") << QStringList{"conn 0 7", "db 0 two controllers"}
        << QStringList{"discover(7)", "configure(7,16,15,1)"} << QStringList() << "";
    QTest::newRow("database: service at position 254") << QStringList{"conn 0 7", "db 0 controller at 254"}
        << QStringList{"discover(7)", "configure(7,16,15,1)"} << QStringList() << "";
    QTest::newRow("database: position 255 counts as none") << QStringList{"conn 0 7", "db 0 controller at 255"}
        << QStringList{"discover(7)"} << QStringList() << "";
    QTest::newRow("database: no descriptor, nothing switched on")
        << QStringList{"conn 0 7", "db 0 no descriptor", "save 0 0 0 0 0 0"}
        << QStringList{"discover(7)", "write(7,18,0,20,5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5)"}
        << QStringList() << "success!";
    QTest::newRow("database: one characteristic, no parameter handle")
        << QStringList{"conn 0 7", "db 0 controller", "db 0 one characteristic", "save 0 0 0 0 0 0"}
        << QStringList{"discover(7)", "configure(7,16,15,1)", "configure(7,16,15,1)",
                       "write(7,0,0,20,5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5)"}
        << QStringList() << "success!";
    QTest::newRow("database: no characteristics") << QStringList{"conn 0 7", "db 0 no characteristics"}
        << QStringList{"discover(7)"} << QStringList() << "";
    QTest::newRow("database: null services") << QStringList{"conn 0 7", "baddb null services"}
        << QStringList{"discover(7)"} << QStringList() << "";
    QTest::newRow("database: null characteristics") << QStringList{"conn 0 7", "baddb null characteristics"}
        << QStringList{"discover(7)"} << QStringList() << "";
    QTest::newRow("status 0 prints test") << QStringList{"status 0", "status 1"}
        << QStringList() << QStringList() << "test";
    QTest::newRow("orientation report")
        << QStringList{"note " + reportBytes(0, "0E118E11 7FFF", "058010F0").toHex()}
        << QStringList() << QStringList{"pos 0.1,-0.1,36.7", "btn 5,-128,-16,16"} << "";
    QTest::newRow("raw record assembled over three reports")
        << QStringList{"note " + reportBytes(2, "000100020003").toHex(),
                       "note " + reportBytes(3, "000400050006").toHex(),
                       "note " + reportBytes(4, "000780080009").toHex()}
        << QStringList() << QStringList{"raw 1,2,3,4,5,6,7,-8,9"} << "";
    QTest::newRow("acknowledgements, success also a report")
        << QStringList{"note 5501010000000000000000000000000000",
                       "note 55010100" "0100010001" "000000" "00000000" "7F"}
        << QStringList()
        << QStringList{"bt 4|Write data success!|null", "pos 0.0,0.0,0.0", "btn 0,0,0,0",
                       "bt 4|Write data fail!|null"} << "";
    QTest::newRow("short after long: no stale bytes")
        << QStringList{"note " + reportBytes(4, "000100010001").toHex(),
                       "note 55", "note 5501010000", "note 550000000A000A000A00000000000000"}
        << QStringList() << QStringList{"raw 0,0,0,0,0,0,1,1,1"} << "";
    QTest::newRow("oversized notification keeps its head")
        << QStringList{"note " + (reportBytes(0, "000A000A000A") + QByteArray(3000, char(0x55))).toHex()}
        << QStringList() << QStringList{"pos 1.0,1.0,1.0", "btn 0,0,0,0"} << "";
    QTest::newRow("null records are ignored")
        << QStringList{"null 2", "null 4", "null 9", "null 10", "null 12", "null 262", "null 265",
                       "null 266"}
        << QStringList() << QStringList() << "";
    QTest::newRow("unknown codes are ignored")
        << QStringList{"code 1", "code 3", "code 5", "code 11", "code 13", "code 261",
                       "code 263", "code 264", "code 267", "code 65536"}
        << QStringList() << QStringList() << "";
    QTest::newRow("another identifier is dropped") << QStringList{"foreign"}
        << QStringList() << QStringList() << "";
    QTest::newRow("connect") << QStringList{"connect 00AB0C00000D"}
        << QStringList{"stopLeSearch", "stopDeviceSearch", "params(65535,65535,6,6,0,500)",
                       "connect(00AB0C00000D,kind 0)"}
        << QStringList() << "OK\n";
    QTest::newRow("connect refused") << QStringList{"refuse connect", "connect 123456789ABC"}
        << QStringList{"stopLeSearch", "stopDeviceSearch", "params(65535,65535,6,6,0,500)",
                       "connect(123456789ABC,kind 0)"}
        << QStringList() << "Fail\n";
    QTest::newRow("connection parameters refused") << QStringList{"refuse params", "connect 123456789ABC"}
        << QStringList{"stopLeSearch", "stopDeviceSearch", "params(65535,65535,6,6,0,500)"}
        << QStringList() << "";
    QTest::newRow("connect with a bad address text")
        << QStringList{"connect 12345", "connect 123456789ABCD", "connect 12345678-ABC"}
        << QStringList() << QStringList() << "";
    QTest::newRow("disconnect and rescan use the connection id")
        << QStringList{"conn 0 7", "disconnect", "rescan"}
        << QStringList{"discover(7)", "disconnect(7)", "cancel", "disconnect(7)", "scan"}
        << QStringList() << "";
    QTest::newRow("parameter write")
        << QStringList{"conn 0 7", "db 0 controller", "save 120 35 200 -75 -200 -3"}
        << QStringList{"discover(7)", "configure(7,16,15,1)", "write(7,18,0,20," + full + ")"}
        << QStringList() << "success!";
    QTest::newRow("parameter write refused")
        << QStringList{"refuse write", "save 120 35 200 -75 -200 -3"}
        << QStringList{"write(0,0,0,20," + full + ")"} << QStringList() << "fail!";
}

void TestBtThread::events()
{
    QFETCH(QStringList, script);
    QFETCH(QStringList, calls);
    QFETCH(QStringList, emitted);
    QFETCH(QString, console);

    ConsoleCapture capture;
    startWorker();
    QCOMPARE(backend->takeCalls(), (QStringList{"init", "start"}));
    for (const QString &command : script) {
        run(command);
        if (QTest::currentTestFailed())
            break;
    }
    const bool synced = sync();
    worker->stop();
    QCoreApplication::sendPostedEvents(recorder, QEvent::MetaCall);
    const QString printed = capture.finish();

    QVERIFY(synced);
    QVERIFY(worker->isFinished());
    QCOMPARE(backend->takeCalls(), calls);
    QCOMPARE(recorder->log, emitted);
    QCOMPARE(printed, console);
}

void TestBtThread::saveParamWhenNotRunning()
{
    MAG_PARAM param;
    QVERIFY(!worker->saveParam(param));
    QVERIFY(backend->takeCalls().isEmpty());
}

void TestBtThread::saveParamTakesOneSecond()
{
    startWorker();
    QElapsedTimer timer;
    timer.start();
    MAG_PARAM param;
    param.max_x = -1;
    QVERIFY(worker->saveParam(param));
    QVERIFY(timer.elapsed() >= 1000);
    QCOMPARE(backend->takeCalls(), (QStringList{
        "init", "start", "write(0,0,0,20,5A 04 01 FF FF 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A5)"}));
}

void TestBtThread::stopEndsTheWorker_data()
{
    QTest::addColumn<bool>("initOk");
    QTest::addColumn<bool>("startOk");
    QTest::addColumn<QString>("console");

    QTest::newRow("running") << true << true << "";
    QTest::newRow("initialisation failed") << false << true << "Unable to initialise uEnergy Host.\n";
    QTest::newRow("start failed") << true << false << "Unable to start uEnergy Host.\n";
}

void TestBtThread::stopEndsTheWorker()
{
    QFETCH(bool, initOk);
    QFETCH(bool, startOk);
    QFETCH(QString, console);

    backend->initOk = initOk;
    backend->startOk = startOk;
    worker->stop();                     // before start: nothing to do
    ConsoleCapture capture;
    startWorker();
    // Events must not reach a worker whose initialisation failed, whatever the identifier.
    backend->post(hostReadyEvent(true));
    QElapsedTimer timer;
    timer.start();
    worker->stop();
    const QString printed = capture.finish();
    QVERIFY(worker->isFinished());
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(printed, console);
    QCoreApplication::sendPostedEvents(recorder, QEvent::MetaCall);
    QCOMPARE(recorder->log, initOk ? QStringList{ready} : QStringList());
}

QTEST_GUILESS_MAIN(TestBtThread)
#include "tst_btthread.moc"
