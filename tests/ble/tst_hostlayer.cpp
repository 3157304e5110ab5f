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

} // namespace

class TestHostLayer : public QObject
{
    Q_OBJECT

private slots:
    void queueIsFifoAndEndsOnQuit();
    void recordLivesUntilTheNextFetch();
    void postToAQueueThatIsGoneIsDropped();
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
    // A backend thread may still hold the pointer after the queue is gone: posting through
    // it must not touch the freed queue. Keep only its value, as such a thread would.
    volatile quintptr stale = reinterpret_cast<quintptr>(queue);
    delete queue;
    QCOMPARE(alive.load(), 0);
    HostPostThreadMessage(reinterpret_cast<HostThreadQueue *>(stale), 1, 2, 0,
                          std::make_shared<Tracked>(alive));
    HostPostQuitMessage(reinterpret_cast<HostThreadQueue *>(stale));
    QCOMPARE(alive.load(), 0);
}

QTEST_GUILESS_MAIN(TestHostLayer)
#include "tst_hostlayer.moc"
