// Faults injected through the real-time virtual dongle while the window runs on it. The
// window must tell the user what they need to know, nothing more, and stay usable.
#include "windowfixture.h"

#include "stdoutcapture.h"

#include "btthread.h"
#include "calibthread.h"
#include "magthread.h"
#include "protocol.h"
#include "virtualdongle.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

const char ControllerA[] = "00025B0A1C01";
using Bytes = std::vector<uint8_t>;

// Counts the worker's disconnect calls: the sign that it has acted on a link failure.
class Dongle : public VirtualDongle
{
public:
    Dongle() : VirtualDongle(Clock::RealTime) {}
    bool disconnect(uint32_t connId) override
    {
        const bool done = VirtualDongle::disconnect(connId);
        ++disconnects;
        return done;
    }
    std::atomic<int> disconnects{0};
};

// What the dongle sends, noted on its own thread.
struct Sent
{
    std::mutex mutex;
    int all = 0, pos = 0, raw = 0;
    Bytes lastPos;
    int count(int Sent::*n) { std::lock_guard<std::mutex> l(mutex); return this->*n; }
};

bool samePosition(const IMU_POS &a, const IMU_POS &b)
{
    return a.angle1 == b.angle1 && a.angle2 == b.angle2 && a.angle3 == b.angle3;
}

// A type-0 report with angles no controller sends (333.3, -333.3, 222.2 degrees).
Bytes garbage(uint8_t marker, uint8_t type, size_t length)
{
    Bytes bytes(length, 0);
    const uint8_t head[] = {marker, 0x00, 0x00, 0x0D, 0x05, 0x8D, 0x05, 0x08, 0xAE};
    std::memcpy(bytes.data(), head, std::min(sizeof head, length));
    if (length > 16)
        bytes[16] = type;
    return bytes;
}

} // namespace


class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(pictures.isValid()); }
    void init();
    void cleanup();
    void dongleAbsent();
    void connectionRefused();
    void linkLostThenReconnect();
    void writeRefused();
    void silenceMidProcedure_data();
    void silenceMidProcedure();
    void malformedNotifications();
    void thousandAdvertisers();
    void noBoxAfterClosing_data();
    void noBoxAfterClosing();

private:
    QPushButton *button(const char *name) { return window->findChild<QPushButton *>(name); }
    QComboBox *combo() { return window->findChild<QComboBox *>("comboBox"); }
    void startWorker();
    void searchAndConnect()
    {
        startWorker();
        button("btn_connect")->click();
        QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > 5, 5000);
    }
    // Stops the reports and waits until everything sent has been shown.
    void pauseAndDrain()
    {
        dongle->setReportsPaused(true);
        QTRY_VERIFY_WITH_TIMEOUT(delivered.size() == sent->count(&Sent::pos)
                                         && deliveredRaw == sent->count(&Sent::raw), 5000);
    }
    bool showsLastSent()
    {
        std::lock_guard<std::mutex> l(sent->mutex);
        Protocol::ReportState state;
        Protocol::decodeReport(sent->lastPos.data(), sent->lastPos.size(), state);
        return samePosition(probe->posData(), state.posSample);
    }

    PictureDir pictures;
    std::unique_ptr<Dongle> dongle;
    std::unique_ptr<Sent> sent;
    std::unique_ptr<QObject> receiver;
    QVector<IMU_POS> delivered;
    int deliveredRaw = 0;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
};

void TestFaults::init()
{
    dongle.reset(new Dongle);
    dongle->setReportRate(300);
    sent.reset(new Sent);
    Sent *s = sent.get();
    dongle->setNotificationObserver([s](uint32_t, const uint8_t *data, size_t length) {
        std::lock_guard<std::mutex> l(s->mutex);
        ++s->all;
        const int type = length >= Protocol::ReportMinimumLength && data[0] == Protocol::ReportMarker ? data[16] : -1;
        if (type == 0)
            s->lastPos.assign(data, data + length);
        s->pos += type == 0;
        s->raw += type == 4;
    });
    setHostBackend(dongle.get());
    receiver.reset(new QObject);
    delivered.clear();
    deliveredRaw = 0;
    window.reset(new MainWindow);
    probe.reset(new MainWindowProbe{*window});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestFaults::cleanup()
{
    probe->stopWorkers();
    probe.reset();
    window.reset();
    receiver.reset();
    setHostBackend(nullptr);
    dongle.reset();
}

void TestFaults::startWorker()
{
    button("btn_search")->click();
    // Connected after the window's slots: a delivery counted here has been shown.
    connect(probe->btThread(), &BtThread::posSender, receiver.get(),
            [this](IMU_POS pos) { delivered.append(pos); });
    connect(probe->btThread(), &BtThread::rawSender, receiver.get(),
            [this](IMU_RAW) { ++deliveredRaw; });
    QTRY_VERIFY_WITH_TIMEOUT(button("btn_search")->isEnabled(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(combo()->findText(ControllerA) >= 0, 5000);
    combo()->setCurrentIndex(combo()->findText(ControllerA));
}

void TestFaults::dongleAbsent()
{
    dongle->faults().setDongleAbsent(true);
    BoxCatcher boxes;
    button("btn_search")->click();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 5000);
    QCOMPARE(boxes.seen.first().text,
             QStringLiteral("Dongle failed to initialize!Please insert the dongle to computer!\n"));
    QCOMPARE(boxes.seen.first().parent, window.get());
    QVERIFY(!button("btn_search")->isEnabled());
    QVERIFY(!button("btn_connect")->isEnabled());
    QCOMPARE(combo()->count(), 0);
}

// Reported on the console only; the next search and connect work.
void TestFaults::connectionRefused()
{
    startWorker();
    BoxCatcher boxes;
    dongle->faults().setConnectRefused(true);
    StdoutCapture refused;
    button("btn_connect")->click();
    QCOMPARE(refused.text(), QByteArray("Fail\n"));
    QCOMPARE(dongle->connectionId(0), 0u);
    QVERIFY(window->findChild<QLabel *>("lab_status")->text().contains("Status:Unconnected!"));

    dongle->faults().setConnectRefused(false);
    button("btn_search")->click();
    QTRY_COMPARE_WITH_TIMEOUT(combo()->count(), VirtualDongle::ControllerCount, 5000);
    combo()->setCurrentIndex(combo()->findText(ControllerA));
    StdoutCapture accepted;
    button("btn_connect")->click();
    QCOMPARE(accepted.text(), QByteArray("OK\n"));
    QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > 5, 5000);
    QCOMPARE(boxes.seen.size(), 0);
}

void TestFaults::linkLostThenReconnect()
{
    searchAndConnect();
    const uint32_t firstLink = dongle->connectionId(0);
    BoxCatcher boxes;
    const int disconnects = dongle->disconnects;
    dongle->faults().injectLinkFailure();
    QTRY_VERIFY_WITH_TIMEOUT(dongle->disconnects > disconnects, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), sent->count(&Sent::pos), 5000);
    const int before = delivered.size();

    button("btn_connect")->click();
    QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > before + 30, 5000);
    QVERIFY(dongle->connectionId(0) != 0 && dongle->connectionId(0) != firstLink);
    pauseAndDrain();
    QVERIFY(showsLastSent());
    QCOMPARE(boxes.seen.size(), 0);
}

void TestFaults::writeRefused()
{
    searchAndConnect();
    dongle->faults().setWriteRefused(true);
    BoxCatcher boxes;
    StdoutCapture console;
    button("btn_save_param")->click();
    QCOMPARE(console.text(), QByteArray("fail!"));
    // Any answer would come before the later reports.
    const int later = sent->count(&Sent::pos) + 5;
    QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > later, 5000);
    QCOMPARE(boxes.seen.size(), 0);
    QVERIFY(dongle->receivedFrames(0).empty());
}

// The controller falls silent mid-procedure: the ticker goes on, nothing on the window or in
// the procedure moves, and the procedure follows the stream once it returns.
void TestFaults::silenceMidProcedure_data()
{
    QTest::addColumn<bool>("check");
    QTest::newRow("stationary check") << true;
    QTest::newRow("calibration") << false;
}

void TestFaults::silenceMidProcedure()
{
    QFETCH(bool, check);
    searchAndConnect();
    BoxCatcher boxes;
    int ticks = 0;
    if (check) {
        button("btn_stationary_check")->click();
        QTRY_VERIFY_WITH_TIMEOUT(probe->checkCount() > 100, 5000);
        connect(probe->calibThread(), &CalibThread::calibSender, receiver.get(), [&] { ++ticks; });
    } else {
        button("btn_start_calib")->click();
        connect(probe->magThread(), &MagThread::magSender, receiver.get(), [&] { ++ticks; });
    }
    pauseAndDrain();
    // The first tick after the pause may still record the last sample.
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 1, 5000);
    auto state = [this] {
        QStringList s;
        for (QLabel *l : window->findChildren<QLabel *>())
            s << l->objectName() + l->text() + QString::number(l->geometry().height());
        for (int i = 0; i < 3; ++i)
            s << QString::number(probe->checkSum()[i]) << QString::number(probe->magMax()[i])
              << QString::number(probe->magMin()[i]);
        return s << QString::number(probe->checkCount());
    };
    const QStringList before = state();
    const int until = ticks + (check ? 300 : 2);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= until, 10000);
    QCOMPARE(state(), before);
    QCOMPARE(boxes.seen.size(), 0);

    const int rawBefore = deliveredRaw;
    dongle->setReportsPaused(false);
    if (check) {
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 15000);
        // Still all along: a pause must not fail the check.
        QCOMPARE(boxes.seen.first().text, QStringLiteral("Station check success!"));
        QCOMPARE(probe->checkCount(), 1001);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(deliveredRaw > rawBefore + 5, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window->findChild<QLabel *>("lab_magdata_x")->text(),
                                  QString::number(probe->rawData().mag_x), 5000);
    }
}

// Garbage between reports shows nothing and does not disturb the reports around it.
void TestFaults::malformedNotifications()
{
    Bytes oversized(2048);
    for (size_t i = 0; i < oversized.size(); ++i)
        oversized[i] = uint8_t(i * 7 + 1);
    const Bytes bad = garbage(0x55, 0, 20);
    const QList<Bytes> payloads{Bytes(), Bytes{0x55}, garbage(0x55, 0, 16),
                                Bytes{0x55, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}, garbage(0xAA, 0, 20),
                                garbage(0x55, 7, 20), oversized, Bytes(65535, 0xFF)};
    searchAndConnect();
    BoxCatcher boxes;
    for (int round = 0; round < 20; ++round) {
        for (const Bytes &payload : payloads) {
            const int before = sent->count(&Sent::all);
            dongle->faults().injectNotification(payload);
            QTRY_VERIFY_WITH_TIMEOUT(sent->count(&Sent::all) > before, 5000);
        }
        const int before = sent->count(&Sent::pos);
        QTRY_VERIFY_WITH_TIMEOUT(sent->count(&Sent::pos) > before, 5000);
    }
    pauseAndDrain();
    Protocol::ReportState state;
    Protocol::decodeReport(bad.data(), bad.size(), state);
    QVERIFY(std::none_of(delivered.begin(), delivered.end(),
                         [&](const IMU_POS &p) { return samePosition(p, state.posSample); }));
    QVERIFY(showsLastSent());
    QCOMPARE(boxes.seen.size(), 0);
}

// Each advertiser listed once, the GUI thread keeps up, a controller can still be connected.
void TestFaults::thousandAdvertisers()
{
    const int listed = 1000 + VirtualDongle::ControllerCount;
    dongle->faults().addAdvertisers(1000);
    QElapsedTimer sinceBeat;
    qint64 longestGap = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceBeat.restart()); });
    sinceBeat.start();
    heartbeat.start(10);

    startWorker();
    QTRY_COMPARE_WITH_TIMEOUT(combo()->count(), listed, 5000);
    const int64_t at = dongle->now();
    QTRY_VERIFY_WITH_TIMEOUT(dongle->now() > at + 4 * VirtualDongle::AdvertisingPeriodMs, 5000);
    QSet<QString> texts;
    for (int i = 0; i < listed; ++i)
        texts.insert(combo()->itemText(i));
    QCOMPARE(texts.size(), listed);
    combo()->setCurrentIndex(combo()->findText(ControllerA));
    button("btn_connect")->click();
    QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > 5, 5000);
    QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));
}

// An answer arriving after the window was closed: a box then would keep the closed tool from
// quitting until someone dismissed it.
void TestFaults::noBoxAfterClosing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("write acknowledged") << "save";
    QTest::newRow("dongle failed") << "dongle";
    QTest::newRow("check ended") << "check";
}

void TestFaults::noBoxAfterClosing()
{
    QFETCH(QString, answer);
    BoxCatcher boxes;
    if (answer != "dongle")
        searchAndConnect();
    if (answer == "save") {
        // The close click came while the save held the GUI thread.
        QMetaObject::invokeMethod(window.get(), "close", Qt::QueuedConnection);
        button("btn_save_param")->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->isHidden(), 5000);
        const int later = sent->count(&Sent::pos) + 5;
        QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > later, 5000);
        QCOMPARE(dongle->receivedFrames(0).size(), size_t(1));
    } else if (answer == "dongle") {
        dongle->faults().setDongleAbsent(true);
        button("btn_search")->click();
        int failures = 0;
        connect(probe->btThread(), &BtThread::BtSender, receiver.get(),
                [&failures](int code, char *, char *) { failures += code == -1; });
        window->close();
        QTRY_COMPARE_WITH_TIMEOUT(failures, 1, 5000);
    } else {
        button("btn_stationary_check")->click();
        QTRY_VERIFY_WITH_TIMEOUT(probe->checkCount() > 10, 5000);
        pauseAndDrain();
        probe->checkCount() = 1000;   // the next sample is the check's last
        window->close();
        dongle->setReportsPaused(false);
        QTRY_VERIFY_WITH_TIMEOUT(!probe->checkActive(), 5000);
        QCOMPARE(probe->checkCount(), 1001);
    }
    QCOMPARE(boxes.seen.size(), 0);
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
