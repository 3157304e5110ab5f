// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The worker against a host layer that records every call: what it calls, announces and
// prints for the events the host layer posts, alone and among the window's calls.
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
class RecordingBackend : public HostBackend
{
public:
    std::atomic<int> markers{0};
    std::atomic<int> inits{0};
    std::mutex mutex;
    std::condition_variable released;
    bool holding = false;
    QStringList calls, refused;
    HostEventTarget target, first;   // the latest initialisation's, and the first one's

    QStringList takeCalls() { std::lock_guard<std::mutex> lock(mutex); return std::exchange(calls, {}); }
    void refuse(const QString &name) { std::lock_guard<std::mutex> lock(mutex); refused << name; }
    bool isHolding() { std::lock_guard<std::mutex> lock(mutex); return holding; }
    void release()
    {
        { std::lock_guard<std::mutex> lock(mutex); holding = false; }
        released.notify_all();
    }
    void post(HostEvent event, bool toFirst = false)
    {
        HostEventTarget t;
        { std::lock_guard<std::mutex> lock(mutex); t = toFirst ? first : target; }
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
        {
            std::lock_guard<std::mutex> lock(mutex);
            target = t;
            if (!first.messageId)
                first = t;
        }
        const bool accepted = record("init");
        ++inits;
        return accepted;
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

// One step of a row: an event the host layer posts, a call it refuses from then on, one of the
// window's calls on the GUI thread, or the worker held in (and released from) a host call.
// A stale event is posted for the worker's first initialisation.
struct Step
{
    enum Kind { Post, Stale, Refuse, Connect, Disconnect, Rescan, Restart, Save, Hold, Release };
    Step() = default;
    Step(HostEvent event) : event(std::move(event)) {}   // implicit: a row lists its events as steps
    Step(Kind kind, const char *text = "", MAG_PARAM param = {}) : kind(kind), text(text), param(param) {}
    Kind kind = Post;
    HostEvent event;
    QByteArray text;   // Refuse: the call's name; Connect: the address text
    MAG_PARAM param;   // Save
};
using Steps = QVector<Step>;

Step refuse(const char *call) { return {Step::Refuse, call}; }
Step connectTo(const char *address) { return {Step::Connect, address}; }
Step save(MAG_PARAM param) { return {Step::Save, "", param}; }
Step stale(HostEvent event) { Step step(std::move(event)); step.kind = Step::Stale; return step; }
const Step disconnectLink(Step::Disconnect), rescan(Step::Rescan), restart(Step::Restart), hold(Step::Hold),
        release(Step::Release);

// Events, by the host layer's builders.
HostEvent found(uint64_t address, const char *name = nullptr) { return hostDeviceFoundEvent(makeBleAddress(address), name); }
QByteArray report(Protocol::ReportType type, const std::array<int16_t, 3> &values,
                  const Protocol::Controls &controls = {})
{
    const Protocol::Report r = Protocol::encodeReport(type, values, controls);
    return QByteArray(reinterpret_cast<const char *>(r.data()), int(r.size()));
}
HostEvent notification(const QByteArray &bytes)
{
    return hostNotificationEvent(1, 15, reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
}
QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }
// An event the worker does not know, with a record full of ones behind it, or with none.
HostEvent unknownEvent(uint32_t code, bool withRecord)
{
    auto ones = std::make_shared<std::array<uint8_t, 64>>();
    ones->fill(0x01);
    return withRecord ? HostEvent{code, reinterpret_cast<uintptr_t>(ones->data()), ones} : HostEvent{code, 0, {}};
}

// Attribute databases: the controller's service after others, twice, or not at all.
const HostServiceDef Gap{0x1800, 1, 7, {{0x2A00, 3, 0x02, {}}}};
const HostServiceDef Info{0x180A, 8, 12, {{0x2A29, 10, 0x02, {}}}};
const HostServiceDef Controller{0xFAEA, 13, 20, {{0xFAE1, 15, 0x10, {{0x2902, 16}}}, {0xFAE2, 18, 0x08, {}}}};
const HostServiceDef OtherController{0xFAEA, 21, 44, {{0xFAE1, 40, 0x10, {{0x2902, 41}}}, {0xFAE2, 43, 0x08, {}}}};
std::vector<HostServiceDef> controllerAfter(size_t others)
{
    std::vector<HostServiceDef> services(others, Info);
    services.push_back(Controller);
    return services;
}
// The usual database, its record changed so that its counts promise more than it holds.
HostEvent tamperedDatabase(void (*tamper)(HostDatabaseEvent &))
{
    HostEvent event = hostDatabaseEvent(0, {Gap, Info, Controller});
    tamper(*reinterpret_cast<HostDatabaseEvent *>(event.param));
    return event;
}

// The calls of a connection attempt to `address`.
QStringList connecting(const char *address)
{
    return {"stopLeSearch", "stopDeviceSearch", "params(65535,65535,6,6,0,500)", QString("connect(%1)").arg(address)};
}

// What the worker announced, as the receiver records it.
QString bt(int code, const char *text, const char *address = nullptr)
{
    return QString("bt %1|%2|%3").arg(code).arg(text ? QString::fromUtf8(text) : "null", address ? address : "null");
}
QString pos(double a, double b, double c) { return QString::asprintf("pos %.1f,%.1f,%.1f", a, b, c); }
QString btn(int b, int t, int x, int y) { return QString::asprintf("btn %d,%d,%d,%d", b, t, x, y); }
QString raw(const std::array<int, 9> &v)
{
    return QString::asprintf("raw %d,%d,%d,%d,%d,%d,%d,%d,%d", v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
}
QString answer(BtThread::WriteOutcome outcome)
{
    return QStringLiteral("answer ") + QMetaEnum::fromType<BtThread::WriteOutcome>().valueToKey(int(outcome));
}
// A save's result, and whether it held the caller for the pause after a frame.
QString saved(bool sent, bool held) { return QString("saved %1 held %2").arg(sent).arg(held); }

const char Ready[] = "uEnergy Host library is intialized\n";
const char DongleFailed[] = "Dongle failed to initialize!Please insert the dongle to computer!\n";
const char WriteSuccess[] = "Write data success!";
const char WriteFail[] = "Write data fail!";
const char NoWrite[] = "Write answer without a write\n";

} // namespace

Q_DECLARE_METATYPE(Steps)

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
    void run(const Step &step);

    RecordingBackend *backend = nullptr;
    BtThread *worker = nullptr;
    QObject *receiver = nullptr;
    QStringList log;
};

void TestBtThread::init()
{
    backend = new RecordingBackend;
    setHostBackend(backend);
    worker = new BtThread;
    receiver = new QObject;
    log.clear();
    // Queued, as the window receives them.
    connect(worker, &BtThread::BtSender, receiver, [this](int code, char *text, char *address) {
        log << bt(code, text, address);
    }, Qt::QueuedConnection);
    connect(worker, &BtThread::posSender, receiver, [this](IMU_POS p) {
        log << pos(double(p.angle1), double(p.angle2), double(p.angle3));
    }, Qt::QueuedConnection);
    connect(worker, &BtThread::rawSender, receiver, [this](IMU_RAW r) {
        log << raw({r.first_x, r.first_y, r.first_z, r.second_x, r.second_y, r.second_z, r.mag_x, r.mag_y, r.mag_z});
    }, Qt::QueuedConnection);
    connect(worker, &BtThread::btnSender, receiver, [this](short b, short t, short x, short y) {
        log << btn(b, t, x, y);
    }, Qt::QueuedConnection);
    connect(worker, &BtThread::writeAnswered, receiver, [this](BtThread::WriteOutcome outcome) {
        log << answer(outcome);
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
    const bool done = QTest::qWaitFor([&] { return backend->markers > before; }, WaitDeadline);
    QCoreApplication::sendPostedEvents(receiver, QEvent::MetaCall);
    return done;
}

void TestBtThread::run(const Step &step)
{
    switch (step.kind) {
    case Step::Post:
    case Step::Stale:
        backend->post(step.event, step.kind == Step::Stale);
        return;
    case Step::Refuse:
        backend->refuse(QString::fromLatin1(step.text));
        return;
    case Step::Hold:
        backend->post(hostJustWorksEvent(makeBleAddress(HoldAddress)));
        QTRY_VERIFY_WITH_TIMEOUT(backend->isHolding(), WaitDeadline);
        return;
    case Step::Release:
        backend->release();
        return;
    default:
        break;
    }
    // The window's calls come once the worker has handled everything before them.
    QVERIFY(sync());
    if (step.kind == Step::Connect) {
        worker->connectDevice(step.text.constData());
    } else if (step.kind == Step::Disconnect) {
        QCOMPARE(worker->disconnectDevice(), 1);
    } else if (step.kind == Step::Rescan) {
        worker->restartScan();
    } else if (step.kind == Step::Restart) {
        // Later events go to the new initialisation, so they are posted once it is made.
        const int inits = backend->inits;
        worker->restartDongle();
        QTRY_VERIFY_WITH_TIMEOUT(backend->inits > inits, WaitDeadline);
    } else {
        QElapsedTimer held;
        held.start();
        const bool sent = worker->saveParam(step.param);
        log << saved(sent, held.elapsed() >= 1000);
    }
}

void TestBtThread::events_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QStringList>("calls");     // after init and start
    QTest::addColumn<QStringList>("emitted");   // after the start announcement
    QTest::addColumn<QString>("console");
    QTest::addColumn<quint64>("dropped");       // notifications dropped unread

    // The dongle and the devices it finds.
    QTest::newRow("dongle ready starts the scan") << Steps{hostReadyEvent(true)}
        << QStringList{"scan"} << QStringList{bt(2, Ready)} << "" << quint64(0);
    QTest::newRow("scan refused") << Steps{refuse("scan"), hostReadyEvent(true)}
        << QStringList{"scan"} << QStringList{bt(2, Ready)} << "Unable to scan device.\n" << quint64(0);
    QTest::newRow("dongle failed: no scan") << Steps{hostReadyEvent(false)}
        << QStringList() << QStringList{bt(-1, DongleFailed)} << "" << quint64(0);
    // A dongle started again, by the window after it failed: what its first start still posts
    // is not taken; a link ends; a start refused is a failed dongle, as no event 0 follows.
    QTest::newRow("dongle restarted")
        << Steps{hostReadyEvent(false), restart, stale(hostReadyEvent(true)), stale(found(0x00AB0C00000D, "Alpha")),
                 hostReadyEvent(true), found(0x123456789ABC, "Beta"), hostConnectResultEvent(0, 7), refuse("start"),
                 restart}
        << QStringList{"init", "start", "scan", "discover(7)", "init", "start"}
        << QStringList{bt(-1, DongleFailed), bt(2, Ready), bt(3, "Beta", "123456789ABC"), bt(5, "Disconnected"),
                       bt(-1, DongleFailed)} << "Unable to start uEnergy Host.\n" << quint64(0);
    QTest::newRow("device list: name then none, none then name, literal Unknown Device, rescan")
        << Steps{found(0x00AB0C00000D, "Alpha One"), found(0x00AB0C00000D), found(0x123456789ABC), rescan,
                 found(0x123456789ABC), found(0x123456789ABC, "Beta"), found(0x123456789ABC, "Beta"),
                 found(0x000000000001, "Unknown Device"), found(0x000000000001, "Gamma")}
        << QStringList{"cancel", "disconnect(0)", "scan"}
        << QStringList{bt(3, "Alpha One", "00AB0C00000D"), bt(3, "Alpha One", "00AB0C00000D"),
                       bt(3, "Unknown Device", "123456789ABC"), bt(3, "Beta", "123456789ABC"),
                       bt(3, "Unknown Device", "000000000001")} << "" << quint64(0);

    // Links: made, failed, lost and ended by the window.
    QTest::newRow("id 0 and failure 0 ignored, a failed connection keeps the id")
        << Steps{hostConnectResultEvent(0, 0), hostFailureEvent(0), hostConnectResultEvent(0, 7),
                 hostConnectResultEvent(5, 9), hostFailureEvent(1)}
        << QStringList{"discover(7)", "cancel", "disconnect(7)"} << QStringList{bt(5, "Link lost")} << "" << quint64(0);
    QTest::newRow("bad address texts call nothing; attempts that fail end; a lost link's late reports are "
                  "not shown, the next link's are")
        << Steps{connectTo("123456789ABCD"), connectTo("12345678-ABC"), connectTo("00AB0C00000D"),
                 hostConnectResultEvent(5, 0), refuse("connect"), connectTo("00AB0C00000D"),
                 hostConnectResultEvent(0, 7), notification(report(Protocol::OrientationReport, {10, 10, 10})),
                 hostFailureEvent(1), notification(report(Protocol::OrientationReport, {20, 10, 10})),
                 hostConnectResultEvent(0, 8), notification(report(Protocol::OrientationReport, {30, 10, 10}))}
        << connecting("00AB0C00000D") + connecting("00AB0C00000D")
               + QStringList{"discover(7)", "cancel", "disconnect(7)", "discover(8)"}
        << QStringList{bt(5, "Connection failed"), bt(5, "Connection refused"), pos(1, 1, 1), btn(0, 0, 0, 0),
                       bt(5, "Link lost"), pos(3, 1, 1), btn(0, 0, 0, 0)} << "OK\nFail\n" << quint64(0);
    QTest::newRow("just works and connection update accepted")
        << Steps{hostJustWorksEvent(makeBleAddress(0x123456789ABC)), hostConnUpdateEvent(42)}
        << QStringList{"justWorks(123456789ABC,1,1)", "acceptUpdate(0,42,1)"} << QStringList() << "" << quint64(0);
    QTest::newRow("disconnect and rescan use the connection id; each ends a link or an attempt once")
        << Steps{disconnectLink, hostConnectResultEvent(0, 7), disconnectLink,
                 notification(report(Protocol::OrientationReport, {10, 10, 10})), rescan, connectTo("00AB0C00000D"), rescan}
        << QStringList{"disconnect(0)", "discover(7)", "disconnect(7)", "cancel", "disconnect(7)", "scan"}
               + connecting("00AB0C00000D") + QStringList{"cancel", "disconnect(7)", "scan"}
        << QStringList{bt(5, "Disconnected"), bt(5, "Disconnected")} << "OK\n" << quint64(0);

    // The controller's database: where its reports are switched on.
    QTest::newRow("database: the first controller service switches reports on")
        << Steps{hostConnectResultEvent(0, 7), hostDatabaseEvent(0, {Gap, Info, Controller}),
                 hostDatabaseEvent(0, {Gap, Controller, OtherController}), hostDatabaseEvent(0, controllerAfter(254))}
        << QStringList{"discover(7)", "configure(7,16,15,1)", "configure(7,16,15,1)", "configure(7,16,15,1)"}
        << QStringList() << "" << quint64(0);
    QTest::newRow("database: nothing usable, nothing switched on")
        << Steps{hostConnectResultEvent(0, 7), hostDatabaseEvent(1, {Gap, Info, Controller}),
                 hostDatabaseEvent(0, {Gap, Info}), hostDatabaseEvent(0, controllerAfter(255)),
                 tamperedDatabase([](HostDatabaseEvent &db) { db.services[2].characteristicCount = 0; }),
                 tamperedDatabase([](HostDatabaseEvent &db) { db.services = nullptr; }),
                 tamperedDatabase([](HostDatabaseEvent &db) { db.services[2].characteristics = nullptr; })}
        << QStringList{"discover(7)"} << QStringList() << "" << quint64(0);

    // Reports, and acknowledgements that answer no write: a console line each, nothing
    // announced (a success acknowledgement is still an orientation report).
    QTest::newRow("reports; acknowledgements nobody waits for")
        << Steps{notification(report(Protocol::OrientationReport, {3601, -3601, 32767}, {5, -128, -16, 16})),
                 notification(report(Protocol::AccelReport, {1, 2, 3})),
                 notification(report(Protocol::GyroReport, {4, 5, 6})),
                 notification(report(Protocol::MagReport, {7, -8, 9})),
                 notification(hex("5501010000000000000000000000000000")),
                 notification(hex("550101000100010001000000000000007F"))}
        << QStringList() << QStringList{pos(0.1, -0.1, 36.7), btn(5, -128, -16, 16), raw({1, 2, 3, 4, 5, 6, 7, -8, 9}),
                                        pos(0, 0, 0), btn(0, 0, 0, 0)}
        << QString(NoWrite) + NoWrite << quint64(0);
    QTest::newRow("oversized keeps its head; short after long: no stale bytes")
        << Steps{notification(report(Protocol::OrientationReport, {10, 10, 10}) + QByteArray(3000, '\x55')),
                 notification(report(Protocol::MagReport, {1, 1, 1})), notification(hex("55")),
                 notification(hex("5501010000")), notification(hex("550000000A000A000A00000000000000"))}
        << QStringList() << QStringList{pos(1, 1, 1), btn(0, 0, 0, 0), raw({0, 0, 0, 0, 0, 0, 1, 1, 1})}
        << "" << quint64(0);
    // More than a second of notifications waiting: the oldest reports go; acknowledgements
    // and other events stay, in order.
    Steps backlog{hostConnectResultEvent(0, 7), hostDatabaseEvent(0, {Gap, Info, Controller}),
                  save({1, 2, 3, -4, -5, -6}), hold, notification(hex("5501010000000000000000000000000001"))};
    for (int i = 0; i < 1000; ++i)
        backlog << notification(report(Protocol::ReportType(7), {0, 0, 0}));
    backlog << notification(report(Protocol::OrientationReport, {20, 10, 10})) << hostConnectResultEvent(0, 7) << release;
    QTest::newRow("backlog")
        << backlog
        << QStringList{"discover(7)", "configure(7,16,15,1)",
                       "write(7,18,0,20,5A 04 01 00 01 FF FC 00 02 FF FB 00 03 FF FA 00 00 00 F9 A5)", "discover(7)"}
        << QStringList{saved(true, true), answer(BtThread::WriteOutcome::Acknowledged), bt(4, WriteSuccess),
                       pos(2, 1, 1), btn(0, 0, 0, 0)} << "success!" << quint64(1);

    // Events without a record, and events the worker does not know.
    Steps ignored{hostStatusEvent(0), hostStatusEvent(1)};
    for (uint32_t code : {2, 4, 9, 10, 12, 262, 265, 266, 267})
        ignored << unknownEvent(code, false);
    for (uint32_t code : {1, 3, 5, 11, 13, 261, 263, 264, 268, 65536})
        ignored << unknownEvent(code, true);
    QTest::newRow("status 0 prints; null records and unknown codes are ignored")
        << ignored << QStringList() << QStringList() << "test" << quint64(0);

    // A frame goes out only over a link to a known characteristic. Its first outcome answers
    // it: the controller's acknowledgement, or the stack's word that it was not delivered
    // (128) or never confirmed (129); whatever comes after that answers nothing.
    QTest::newRow("parameter write")
        << Steps{save({0, 0, 0, 0, 0, 0}), hostConnectResultEvent(0, 7), save({0, 0, 0, 0, 0, 0}),
                 hostDatabaseEvent(0, {Gap, Info, Controller}), save({120, 35, 200, -75, -200, -3}),
                 hostWriteResultEvent(0, 7, 18), notification(hex("550101000100010001000000000000007F")),
                 notification(hex("550101000100010001000000000000007F")),
                 save({0, 0, 0, 0, 0, 0}), hostWriteResultEvent(128, 7, 18), hostWriteResultEvent(129, 7, 18),
                 save({0, 0, 0, 0, 0, 0}), hostWriteResultEvent(129, 7, 18),
                 refuse("write"), save({0, 0, 0, 0, 0, 0}), hostFailureEvent(1), save({0, 0, 0, 0, 0, 0}),
                 hostConnectResultEvent(0, 8), save({0, 0, 0, 0, 0, 0})}
        << QStringList{"discover(7)", "configure(7,16,15,1)",
                       "write(7,18,0,20,5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5)",
                       "write(7,18,0,20,5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5)",
                       "write(7,18,0,20,5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5)",
                       "write(7,18,0,20,5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5)",
                       "cancel", "disconnect(7)", "discover(8)"}
        << QStringList{saved(false, false), saved(false, false), saved(true, true),
                       answer(BtThread::WriteOutcome::Rejected), bt(4, WriteFail),
                       saved(true, true), answer(BtThread::WriteOutcome::NotDelivered), bt(4, WriteFail),
                       saved(true, true), answer(BtThread::WriteOutcome::Unconfirmed), bt(4, WriteFail),
                       saved(false, false), bt(5, "Link lost"), saved(false, false), saved(false, false)}
        << QString("fail!fail!success!") + NoWrite + "success!" + NoWrite + "success!fail!fail!fail!" << quint64(0);
}

void TestBtThread::events()
{
    QFETCH(Steps, steps);
    QFETCH(QStringList, calls);
    QFETCH(QStringList, emitted);
    QFETCH(QString, console);
    QFETCH(quint64, dropped);

    StdoutCapture capture;
    worker->start();
    QTRY_VERIFY_WITH_TIMEOUT(!log.isEmpty(), WaitDeadline);
    QCOMPARE(log.takeFirst(), bt(-2, "Close All the button!\n"));
    QCOMPARE(backend->takeCalls(), (QStringList{"init", "start"}));
    for (const Step &step : steps) {
        run(step);
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
    QCOMPARE(quint64(worker->droppedReports()), dropped);
}

QTEST_GUILESS_MAIN(TestBtThread)
#include "tst_btthread.moc"
