#include "hostevents.h"
#include "hostlayer.h"
#include "hostqueue.h"

#include <QtTest>

#include <atomic>

namespace {

// Counts how many records are still alive.
struct Tracked {
    explicit Tracked(std::atomic<int> &alive) : alive(alive) { ++alive; }
    ~Tracked() { --alive; }
    std::atomic<int> &alive;
};

class InitOnlyBackend : public HostBackend
{
public:
    bool initResult = true;
    HostEventTarget target;
    bool init(const HostEventTarget &t) override { target = t; return initResult; }
    bool start() override { return true; }
    bool startLeScan() override { return true; }
    bool stopLeSearch() override { return true; }
    bool stopDeviceSearch() override { return true; }
    bool cancel() override { return true; }
    bool setConnectionParams(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) override { return true; }
    bool connect(const BleAddress &) override { return true; }
    bool disconnect(uint32_t) override { return true; }
    bool justWorksResult(const BleAddress &, uint8_t, uint8_t) override { return true; }
    bool acceptConnUpdate(uint32_t, uint16_t, uint8_t) override { return true; }
    bool discoverDatabase(uint32_t) override { return true; }
    bool writeConfiguration(uint32_t, uint16_t, uint16_t, uint16_t) override { return true; }
    bool writeCharByHandle(uint32_t, uint16_t, uint16_t, uint16_t, const uint8_t *) override { return true; }
};

} // namespace

class TestHostLayer : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setHostBackend(nullptr); }
    void queueIsFifoAndEndsOnQuit();
    void recordLivesUntilTheNextFetch();
    void postToAQueueThatIsGoneIsDropped();
    void initBindsTheCallingThread_data();
    void initBindsTheCallingThread();
    void databaseRecordsPointIntoTheirStorage();
};

void TestHostLayer::queueIsFifoAndEndsOnQuit()
{
    HostThreadQueue queue;
    HostAttachThreadQueue(&queue);
    for (uint32_t i = 1; i <= 3; ++i)
        HostPostThreadMessage(&queue, 7, i, i * 10);
    HostPostQuitMessage(&queue);
    HostPostThreadMessage(&queue, 7, 4, 40);

    HostMessage message{};
    for (uint32_t i = 1; i <= 3; ++i) {
        QVERIFY(HostGetMessage(&message));
        QCOMPARE(message.message, 7u);
        QCOMPARE(message.code, i);
        QCOMPARE(message.param, uintptr_t(i * 10));
    }
    QVERIFY(!HostGetMessage(&message));
    QVERIFY(HostGetMessage(&message));
    QCOMPARE(message.code, 4u);
    HostAttachThreadQueue(nullptr);
}

void TestHostLayer::recordLivesUntilTheNextFetch()
{
    std::atomic<int> alive{0};
    HostThreadQueue *queue = HostCurrentThreadQueue();
    HostPostThreadMessage(queue, 1, 2, 0, std::make_shared<Tracked>(alive));
    HostPostThreadMessage(queue, 1, 3, 0, std::make_shared<Tracked>(alive));
    QCOMPARE(alive.load(), 2);

    HostMessage message{};
    QVERIFY(HostGetMessage(&message));
    QCOMPARE(alive.load(), 2);      // the fetched record is still readable
    QVERIFY(HostGetMessage(&message));
    QCOMPARE(alive.load(), 1);      // the first one is released by the second fetch
    HostPostQuitMessage(queue);
    QVERIFY(!HostGetMessage(&message));
    QCOMPARE(alive.load(), 0);
}

void TestHostLayer::postToAQueueThatIsGoneIsDropped()
{
    std::atomic<int> alive{0};
    auto *queue = new HostThreadQueue;
    HostPostThreadMessage(queue, 1, 2, 0, std::make_shared<Tracked>(alive));
    delete queue;
    QCOMPARE(alive.load(), 0);
    // A backend thread may still hold the pointer: posting must not touch the freed queue.
    HostPostThreadMessage(queue, 1, 2, 0, std::make_shared<Tracked>(alive));
    HostPostQuitMessage(queue);
    QCOMPARE(alive.load(), 0);
}

void TestHostLayer::initBindsTheCallingThread_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("initResult");
    QTest::addColumn<bool>("succeeds");

    QTest::newRow("no backend") << false << true << false;
    QTest::newRow("backend refuses") << true << false << false;
    QTest::newRow("backend accepts") << true << true << true;
}

void TestHostLayer::initBindsTheCallingThread()
{
    QFETCH(bool, installed);
    QFETCH(bool, initResult);
    QFETCH(bool, succeeds);

    InitOnlyBackend backend;
    backend.initResult = initResult;
    if (installed)
        setHostBackend(&backend);

    HostThreadQueue queue;
    HostAttachThreadQueue(&queue);
    const CsrBleHostConfig config{};
    const uint32_t first = CsrBleHostInit(0, 0, &config);
    QCOMPARE(first != 0, succeeds);
    QCOMPARE(CsrBleHostStart(0) != 0, installed);
    if (succeeds) {
        QCOMPARE(backend.target.queue, &queue);
        QCOMPARE(backend.target.messageId, first);
        backend.target.post(hostReadyEvent(true));
        HostMessage message{};
        QVERIFY(HostGetMessage(&message));
        QCOMPARE(message.message, first);
        QCOMPARE(message.code, 0u);
        QCOMPARE(message.param, uintptr_t(1));
        // A second initialisation gets an identifier of its own.
        const uint32_t second = CsrBleHostInit(0, 0, &config);
        QVERIFY(second != 0);
        QVERIFY(second != first);
    }
    HostAttachThreadQueue(nullptr);
}

void TestHostLayer::databaseRecordsPointIntoTheirStorage()
{
    std::vector<HostServiceSpec> services(3);
    services[0].uuid = 0x1800;
    services[2].uuid = 0xFAEA;
    services[2].characteristics.resize(2);
    services[2].characteristics[0].valueHandle = 0x21;
    services[2].characteristics[0].descriptors = {{0x2902, 0x22}};
    services[2].characteristics[1].valueHandle = 0x24;
    HostEvent event = hostDatabaseEvent(0, services);
    services.clear();

    const auto *record = reinterpret_cast<const HostDatabaseEvent *>(event.param);
    QCOMPARE(record->serviceCount, uint16_t(3));
    QCOMPARE(record->services[0].characteristicCount, uint16_t(0));
    QCOMPARE(record->services[0].characteristics, nullptr);
    const HostService &controller = record->services[2];
    QCOMPARE(controller.uuid, uint16_t(0xFAEA));
    QCOMPARE(controller.characteristicCount, uint16_t(2));
    QCOMPARE(controller.characteristics[0].valueHandle, uint16_t(0x21));
    QCOMPARE(controller.characteristics[0].descriptorCount, uint16_t(1));
    QCOMPARE(controller.characteristics[0].descriptors[0].handle, uint16_t(0x22));
    QCOMPARE(controller.characteristics[1].valueHandle, uint16_t(0x24));
    QCOMPARE(controller.characteristics[1].descriptors, nullptr);

    // The 16-bit length field states what the record holds.
    const std::vector<uint8_t> big(70000, 0x55);
    HostEvent note = hostNotificationEvent(1, 2, big.data(), big.size());
    const auto *notification = reinterpret_cast<const HostNotificationEvent *>(note.param);
    QCOMPARE(notification->length, uint16_t(0xFFFF));
    QCOMPARE(notification->data[0xFFFE], uint8_t(0x55));
}

QTEST_GUILESS_MAIN(TestHostLayer)
#include "tst_hostlayer.moc"
