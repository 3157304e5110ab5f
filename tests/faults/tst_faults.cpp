// Faults injected through the virtual dongle while the window runs on it in real time: a
// missing dongle, refused and failing connections, a link lost mid-stream, refused writes, a
// controller that falls silent mid-procedure, malformed notifications, and a crowd of
// advertising devices. The window must say what the user needs to know, nothing more, and
// stay usable.
#include "windowfixture.h"

#include "countingbackend.h"
#include "stdoutcapture.h"

#include "addresstext.h"
#include "btthread.h"
#include "calibthread.h"
#include "magthread.h"
#include "reportdecoder.h"
#include "virtualdongle.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int ReportRate = 300;
const char ControllerA[] = "00025B0A1C01";
const char DongleFailedText[] = "Dongle failed to initialize!Please insert the dongle to computer!\n";

using Bytes = std::vector<uint8_t>;

// What the dongle sends, seen on its own thread as each notification goes out.
class SentReports
{
public:
    void note(const uint8_t *data, size_t length)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++all;
        if (length >= ReportMinimumLength && data[0] == ReportMarker) {
            if (data[16] == 0) {
                ++pos;
                lastPos.assign(data, data + length);
            } else if (data[16] == 4) {
                ++raw;
            }
        }
    }
    int posCount() const { std::lock_guard<std::mutex> lock(mutex); return pos; }
    int rawCount() const { std::lock_guard<std::mutex> lock(mutex); return raw; }
    int allCount() const { std::lock_guard<std::mutex> lock(mutex); return all; }
    // The orientation the last type-0 report sent carries.
    IMU_POS lastPosition() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        ReportState state;
        decodeReport(lastPos.data(), lastPos.size(), state);
        return state.posSample;
    }

private:
    mutable std::mutex mutex;
    int all = 0;
    int pos = 0;
    int raw = 0;
    Bytes lastPos;
};

// What reaches the GUI thread, counted by a receiver connected after the window's slots.
struct Deliveries
{
    QObject context;
    int pos = 0;
    int raw = 0;
    QVector<IMU_POS> positions;
};

bool samePosition(const IMU_POS &a, const IMU_POS &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A type-0 report whose angles no controller sends (they stay within -180..180 degrees).
Bytes garbageOrientation(uint8_t marker, uint8_t type, size_t length)
{
    Bytes bytes(length, 0);
    const uint8_t head[] = {marker, 0x00, 0x00, 0x0D, 0x05, 0x8D, 0x05, 0x08, 0xAE};
    std::memcpy(bytes.data(), head, std::min(sizeof head, length));
    if (length > 16)
        bytes[16] = type;
    return bytes;
}
// 333.3, -333.3 and 222.2 degrees: what garbageOrientation() says if decoded.
const IMU_POS GarbagePosition = [] {
    IMU_POS p;
    p.angle1 = reportAngle(3333);
    p.angle2 = reportAngle(-3333);
    p.angle3 = reportAngle(2222);
    return p;
}();

} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dongleStart_data();
    void dongleStart();
    void connectionFails_data();
    void connectionFails();
    void linkLostMidStream_data();
    void linkLostMidStream();
    void parameterWrite_data();
    void parameterWrite();
    void silenceMidCheck();
    void silenceMidCalibration();
    void malformedNotifications_data();
    void malformedNotifications();
    void thousandAdvertisers();
    void answersAfterClosing_data();
    void answersAfterClosing();

private:
    QLabel *label(const char *name) { return window->findChild<QLabel *>(name); }
    QPushButton *button(const char *name) { return window->findChild<QPushButton *>(name); }
    QComboBox *combo() { return window->findChild<QComboBox *>("comboBox"); }
    // Presses search and waits for the dongle to be ready; counts deliveries from then on.
    void startWorker();
    void selectAndConnect();
    void searchAndConnect();
    // Stops the controller's reports and waits until everything sent has been shown.
    void pauseAndDrain();
    QByteArray connectCapturingConsole();

    std::unique_ptr<PictureDir> pictures;
    std::unique_ptr<VirtualDongle> dongle;
    std::unique_ptr<CountingBackend> backend;
    std::unique_ptr<SentReports> sent;
    std::unique_ptr<Deliveries> delivered;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
};

void TestFaults::initTestCase()
{
    pictures.reset(new PictureDir);
    QVERIFY(pictures->isValid());
}

void TestFaults::init()
{
    dongle.reset(new VirtualDongle(VirtualDongle::Clock::RealTime));
    dongle->setReportRate(ReportRate);
    sent.reset(new SentReports);
    SentReports *sink = sent.get();
    dongle->setNotificationObserver(
            [sink](uint32_t, const uint8_t *data, size_t length) { sink->note(data, length); });
    backend.reset(new CountingBackend(*dongle));
    setHostBackend(backend.get());
    delivered.reset(new Deliveries);
    window.reset(new MainWindow);
    probe.reset(new MainWindowProbe{*window});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestFaults::cleanup()
{
    if (probe)
        probe->stopWorkers();
    probe.reset();
    window.reset();
    delivered.reset();
    setHostBackend(nullptr);
    dongle.reset();
    backend.reset();
    sent.reset();
}

void TestFaults::startWorker()
{
    button("btn_search")->click();
    BtThread *worker = probe->btThread();
    QVERIFY(worker);
    Deliveries *d = delivered.get();
    connect(worker, &BtThread::posSender, &d->context, [d](IMU_POS pos) {
        ++d->pos;
        d->positions.append(pos);
    });
    connect(worker, &BtThread::rawSender, &d->context, [d](IMU_RAW) { ++d->raw; });
    QTRY_VERIFY_WITH_TIMEOUT(button("btn_search")->isEnabled(), 5000);
}

void TestFaults::selectAndConnect()
{
    QTRY_VERIFY_WITH_TIMEOUT(combo()->findText(ControllerA) >= 0, 5000);
    combo()->setCurrentIndex(combo()->findText(ControllerA));
    const int before = delivered->pos;
    button("btn_connect")->click();
    QTRY_VERIFY_WITH_TIMEOUT(delivered->pos > before + 5, 5000);
}

void TestFaults::searchAndConnect()
{
    startWorker();
    selectAndConnect();
}

void TestFaults::pauseAndDrain()
{
    dongle->setReportsPaused(true);
    QTRY_VERIFY_WITH_TIMEOUT(delivered->pos == sent->posCount()
                                     && delivered->raw == sent->rawCount(),
                             5000);
}

QByteArray TestFaults::connectCapturingConsole()
{
    StdoutCapture console;
    if (!console.isValid())
        return "(standard output could not be captured)";
    button("btn_connect")->click();
    return console.text();
}

// The dongle's start result decides between the failure box with both buttons left off, and
// the ready dongle with both buttons on and a scan under way.
void TestFaults::dongleStart_data()
{
    QTest::addColumn<bool>("absent");
    QTest::newRow("dongle absent") << true;
    QTest::newRow("dongle present") << false;
}

void TestFaults::dongleStart()
{
    QFETCH(bool, absent);
    dongle->setDongleAbsent(absent);
    BoxCatcher boxes;
    button("btn_search")->click();
    QVERIFY(!button("btn_search")->isEnabled());
    QVERIFY(!button("btn_connect")->isEnabled());

    if (absent) {
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 5000);
        QCOMPARE(boxes.seen.first().text, QString::fromLatin1(DongleFailedText));
        QCOMPARE(boxes.seen.first().title, QString());
        QCOMPARE(boxes.seen.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(boxes.seen.first().parent, window.get());
        // The failure was the dongle's last word: the buttons stay off and nothing scans.
        QVERIFY(!button("btn_search")->isEnabled());
        QVERIFY(!button("btn_connect")->isEnabled());
        QCOMPARE(backend->count("startLeScan"), 0);
        QCOMPARE(combo()->count(), 0);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(button("btn_search")->isEnabled(), 5000);
        QVERIFY(button("btn_connect")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(combo()->count(), VirtualDongle::ControllerCount, 5000);
        QCOMPARE(boxes.seen.size(), 0);
    }
}

// A connection that cannot be made is reported on the console only; the user can search and
// connect again at once.
void TestFaults::connectionFails_data()
{
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QByteArray>("console");
    QTest::newRow("refused at once") << true << QByteArray("Fail\n");
    QTest::newRow("no answer") << false << QByteArray("OK\n");
}

void TestFaults::connectionFails()
{
    QFETCH(bool, refused);
    QFETCH(QByteArray, console);
    startWorker();
    QTRY_VERIFY_WITH_TIMEOUT(combo()->findText(ControllerA) >= 0, 5000);
    combo()->setCurrentIndex(combo()->findText(ControllerA));

    BoxCatcher boxes;
    if (refused)
        dongle->setConnectRefused(true);
    else
        dongle->setConnectFails(true);
    const int64_t pressed = dongle->now();
    QCOMPARE(connectCapturingConsole(), console);
    if (!refused) {
        // The attempt runs out and its failed result reaches the worker.
        QTRY_VERIFY_WITH_TIMEOUT(dongle->now() > pressed + VirtualDongle::ConnectTimeoutMs + 50,
                                 5000);
    }
    QCOMPARE(dongle->connectionId(0), 0u);
    QVERIFY(label("lab_status")->text().contains("Status:Unconnected!"));
    QCOMPARE(delivered->pos, 0);
    QCOMPARE(boxes.seen.size(), 0);

    // Still usable: a new search lists the controllers again and a connection now works.
    dongle->setConnectRefused(false);
    dongle->setConnectFails(false);
    button("btn_search")->click();
    QCOMPARE(combo()->count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(combo()->count(), VirtualDongle::ControllerCount, 5000);
    combo()->setCurrentIndex(combo()->findText(ControllerA));
    QCOMPARE(connectCapturingConsole(), QByteArray("OK\n"));
    QTRY_VERIFY_WITH_TIMEOUT(delivered->pos > 5, 5000);
    QVERIFY(dongle->connectionId(0) != 0);
    QCOMPARE(boxes.seen.size(), 0);
}

// The link drops mid-stream; connecting again, straight away or after a new search, brings
// the reports back and the display follows them.
void TestFaults::linkLostMidStream_data()
{
    QTest::addColumn<bool>("searchFirst");
    QTest::newRow("connect again") << false;
    QTest::newRow("search, then connect") << true;
}

void TestFaults::linkLostMidStream()
{
    QFETCH(bool, searchFirst);
    searchAndConnect();
    const uint32_t firstLink = dongle->connectionId(0);
    QTRY_VERIFY_WITH_TIMEOUT(delivered->pos > 30, 5000);

    BoxCatcher boxes;
    const int cancels = backend->count("cancel");
    const int disconnects = backend->count("disconnect");
    dongle->injectLinkFailure();
    // The worker drops what is left of the link when the failure event reaches it.
    QTRY_VERIFY_WITH_TIMEOUT(backend->count("cancel") > cancels
                                     && backend->count("disconnect") > disconnects,
                             5000);
    QCOMPARE(dongle->connectionId(0), 0u);
    QTRY_COMPARE_WITH_TIMEOUT(delivered->pos, sent->posCount(), 5000);
    const int beforeReconnect = delivered->pos;

    if (searchFirst) {
        button("btn_search")->click();
        QTRY_VERIFY_WITH_TIMEOUT(combo()->findText(ControllerA) >= 0, 5000);
        combo()->setCurrentIndex(combo()->findText(ControllerA));
    }
    QCOMPARE(combo()->currentText(), QString::fromLatin1(ControllerA));
    button("btn_connect")->click();
    QTRY_VERIFY_WITH_TIMEOUT(delivered->pos > beforeReconnect + 30, 5000);
    QVERIFY(dongle->connectionId(0) != 0);
    QVERIFY(dongle->connectionId(0) != firstLink);

    pauseAndDrain();
    QVERIFY(samePosition(probe->posData(), sent->lastPosition()));
    QCOMPARE(boxes.seen.size(), 0);
}

// Saving writes the frame; the console says whether the dongle took it, and only an answer
// from the controller reaches the user.
void TestFaults::parameterWrite_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QByteArray>("console");
    QTest::addColumn<QString>("box");
    QTest::newRow("accepted") << true << false << QByteArray("success!")
                              << QStringLiteral("Write data success!");
    QTest::newRow("refused by the dongle") << true << true << QByteArray("fail!") << QString();
    QTest::newRow("not connected") << false << false << QByteArray("fail!") << QString();
}

void TestFaults::parameterWrite()
{
    QFETCH(bool, connected);
    QFETCH(bool, refused);
    QFETCH(QByteArray, console);
    QFETCH(QString, box);
    if (connected)
        searchAndConnect();
    else
        startWorker();
    dongle->setWriteRefused(refused);

    BoxCatcher boxes;
    QByteArray printed;
    {
        StdoutCapture capture;
        QVERIFY(capture.isValid());
        button("btn_save_param")->click();
        printed = capture.text();
    }
    QCOMPARE(printed, console);

    if (connected) {
        // An acknowledgement goes out right after the write, before any later report; once
        // later reports are shown, any answer has been shown too.
        const int sentAfterSave = sent->posCount();
        QTRY_VERIFY_WITH_TIMEOUT(delivered->pos > sentAfterSave + 5, 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), box.isEmpty() ? 0 : 1, 5000);
    if (!box.isEmpty())
        QCOMPARE(boxes.seen.first().text, box);
    QCOMPARE(dongle->receivedFrames(0).size(), size_t(box.isEmpty() ? 0 : 1));
}

// The controller stops sending in the middle of a check: nothing moves while the ticker keeps
// ticking, and the check completes once the reports return.
void TestFaults::silenceMidCheck()
{
    searchAndConnect();
    BoxCatcher boxes;
    button("btn_stationary_check")->click();
    QTRY_VERIFY_WITH_TIMEOUT(probe->checkCount() > 100, 5000);

    pauseAndDrain();
    const int count = probe->checkCount();
    const double sums[3] = {probe->checkSum()[0], probe->checkSum()[1], probe->checkSum()[2]};
    const QString percent = label("lab_count")->text();
    const QRect progress = label("lab_check_progress")->geometry();

    int ticks = 0;
    QObject tickCounter;
    connect(probe->calibThread(), &CalibThread::calibSender, &tickCounter, [&ticks] { ++ticks; });
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 300, 10000);

    QCOMPARE(probe->checkCount(), count);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(probe->checkSum()[i], sums[i]);
    QCOMPARE(label("lab_count")->text(), percent);
    QCOMPARE(label("lab_check_progress")->geometry(), progress);
    QVERIFY(probe->checkActive());
    QCOMPARE(boxes.seen.size(), 0);

    dongle->setReportsPaused(false);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 15000);
    QCOMPARE(boxes.seen.first().title, QStringLiteral("Stationary"));
    // Still all along, so a pause in the stream must not turn into a failed check.
    QCOMPARE(boxes.seen.first().text, QStringLiteral("Station check success!"));
    QCOMPARE(probe->checkCount(), 1001);
    QCOMPARE(label("lab_check_progress")->width(), 655);
}

// The controller stops sending while the calibration records: the ticks go on, nothing on
// the page changes, and the recording follows the stream again once it returns.
void TestFaults::silenceMidCalibration()
{
    searchAndConnect();
    button("btn_start_calib")->click();
    QTRY_VERIFY_WITH_TIMEOUT(label("lab_max_x")->text() != "0" || label("lab_min_x")->text() != "-0"
                                     || label("lab_max_y")->text() != "0"
                                     || label("lab_min_y")->text() != "-0",
                             3000);

    pauseAndDrain();
    // The next tick records the last sample that came in; from then on nothing may change.
    int ticks = 0;
    QObject tickCounter;
    connect(probe->magThread(), &MagThread::magSender, &tickCounter, [&ticks] { ++ticks; });
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 1, 3000);
    const char *const watched[] = {"lab_max_x", "lab_max_y", "lab_max_z", "lab_min_x",
                                   "lab_min_y", "lab_min_z", "lab_magdata_x", "lab_magdata_y",
                                   "lab_magdata_z", "lab_block_x", "lab_block_y",
                                   "lab_block_z", "lab_status"};
    QStringList texts;
    QList<QRect> places;
    for (const char *name : watched) {
        texts << label(name)->text();
        places << label(name)->geometry();
    }
    const int16_t max0[3] = {probe->magMax()[0], probe->magMax()[1], probe->magMax()[2]};
    const int16_t min0[3] = {probe->magMin()[0], probe->magMin()[1], probe->magMin()[2]};

    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 5000);

    for (int i = 0; i < int(sizeof watched / sizeof *watched); ++i) {
        QVERIFY2(label(watched[i])->text() == texts.at(i), watched[i]);
        QVERIFY2(label(watched[i])->geometry() == places.at(i), watched[i]);
    }
    for (int axis = 0; axis < 3; ++axis) {
        QCOMPARE(probe->magMax()[axis], max0[axis]);
        QCOMPARE(probe->magMin()[axis], min0[axis]);
    }

    const int rawBefore = delivered->raw;
    dongle->setReportsPaused(false);
    QTRY_VERIFY_WITH_TIMEOUT(delivered->raw > rawBefore + 5, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(label("lab_magdata_x")->text(),
                              QString::number(probe->rawData().mag_x), 5000);
}

// Malformed and oversized notifications between the controller's reports: the display goes
// on with the reports and shows nothing decoded from the rest. A long notification that
// starts as a whole report is a report (the bytes past a report's end are not read).
void TestFaults::malformedNotifications_data()
{
    QTest::addColumn<QList<Bytes>>("payloads");
    QTest::addColumn<bool>("isReport");

    const Bytes empty;
    const Bytes markerOnly{0x55};
    const Bytes oneShort = garbageOrientation(0x55, 0, 16);
    const Bytes ackOneShort{0x55, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes badMarker = garbageOrientation(0xAA, 0, 20);
    const Bytes unknownType = garbageOrientation(0x55, 7, 20);
    Bytes oversized(2048);
    for (size_t i = 0; i < oversized.size(); ++i)
        oversized[i] = uint8_t(i * 7 + 1);
    const Bytes longest(65535, 0xFF);
    const Bytes longReport = garbageOrientation(0x55, 0, 1500);

    QTest::newRow("empty") << QList<Bytes>{empty} << false;
    QTest::newRow("marker only") << QList<Bytes>{markerOnly} << false;
    QTest::newRow("report one byte short") << QList<Bytes>{oneShort} << false;
    QTest::newRow("acknowledgement one byte short") << QList<Bytes>{ackOneShort} << false;
    QTest::newRow("bad marker") << QList<Bytes>{badMarker} << false;
    QTest::newRow("unknown type") << QList<Bytes>{unknownType} << false;
    QTest::newRow("2048 bytes") << QList<Bytes>{oversized} << false;
    QTest::newRow("65535 bytes") << QList<Bytes>{longest} << false;
    QTest::newRow("all of them") << QList<Bytes>{empty, markerOnly, oneShort, ackOneShort,
                                                 badMarker, unknownType, oversized, longest}
                                 << false;
    QTest::newRow("1500 bytes starting with a report") << QList<Bytes>{longReport} << true;
}

void TestFaults::malformedNotifications()
{
    QFETCH(QList<Bytes>, payloads);
    QFETCH(bool, isReport);
    searchAndConnect();
    BoxCatcher boxes;

    constexpr int Rounds = 20;
    for (int round = 0; round < Rounds; ++round) {
        for (const Bytes &payload : payloads) {
            const int sentBefore = sent->allCount();
            dongle->injectNotification(payload);
            QTRY_VERIFY_WITH_TIMEOUT(sent->allCount() > sentBefore, 5000);
        }
        // A real report after each round, so the garbage sits between reports.
        const int posBefore = sent->posCount();
        QTRY_VERIFY_WITH_TIMEOUT(sent->posCount() > posBefore, 5000);
    }
    // Everything sent has been through the worker once the last report is shown.
    pauseAndDrain();

    int garbageShown = 0;
    for (const IMU_POS &pos : delivered->positions)
        garbageShown += samePosition(pos, GarbagePosition) ? 1 : 0;
    QCOMPARE(garbageShown, isReport ? Rounds : 0);
    QVERIFY(samePosition(probe->posData(), sent->lastPosition()));
    QVERIFY(!samePosition(probe->posData(), GarbagePosition));
    QCOMPARE(boxes.seen.size(), 0);
    QVERIFY(label("lab_status")->text().contains("Status:Normal!")
            || label("lab_status")->text().contains("Status:Calibration!"));
}

// A thousand devices advertising besides the controllers: each is listed once, the GUI thread
// keeps up while the list fills, and a controller can still be picked and connected.
void TestFaults::thousandAdvertisers()
{
    constexpr int Advertisers = 1000;
    constexpr int Listed = Advertisers + VirtualDongle::ControllerCount;
    dongle->addAdvertisers(Advertisers);

    // The longest wait between two beats of a 10 ms timer on the GUI thread.
    QElapsedTimer sinceBeat;
    qint64 longestGap = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceBeat.restart());
    });
    sinceBeat.start();
    heartbeat.start(10);

    QElapsedTimer filling;
    filling.start();
    startWorker();
    QTRY_COMPARE_WITH_TIMEOUT(combo()->count(), Listed, 5000);
    qInfo("%d devices listed in %lld ms", Listed, filling.elapsed());

    // Several more rounds of advertising add nobody twice.
    const int64_t listed = dongle->now();
    QTRY_VERIFY_WITH_TIMEOUT(dongle->now() > listed + 4 * VirtualDongle::AdvertisingPeriodMs,
                             5000);
    QCOMPARE(combo()->count(), Listed);
    QSet<QString> texts;
    for (int i = 0; i < combo()->count(); ++i)
        texts.insert(combo()->itemText(i));
    QCOMPARE(texts.size(), Listed);
    QCOMPARE(probe->deviceAddresses().size(), Listed);
    QCOMPARE(probe->deviceNames().size(), Listed);
    for (int i = 0; i < VirtualDongle::ControllerCount; ++i) {
        char text[13];
        formatAddressText(VirtualDongle::controllerAddress(i), text);
        QVERIFY2(texts.contains(QString::fromLatin1(text)), text);
    }

    selectAndConnect();
    heartbeat.stop();
    qInfo("longest gap between GUI timer beats: %lld ms", longestGap);
    QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));
}

// The user closes the window while an answer is on its way: a save's acknowledgement (the
// close click waited while the save held the GUI thread), the dongle's failure right after a
// search, the last sample of a check. Nobody is left to read a box, and a box up at that
// moment would keep the closed tool from quitting until someone dismissed it.
void TestFaults::answersAfterClosing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("write acknowledged") << "save";
    QTest::newRow("dongle failed") << "dongle";
    QTest::newRow("check ended") << "check";
}

void TestFaults::answersAfterClosing()
{
    QFETCH(QString, answer);
    BoxCatcher boxes;
    if (answer == "save") {
        searchAndConnect();
        QMetaObject::invokeMethod(window.get(), "close", Qt::QueuedConnection);
        button("btn_save_param")->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->isHidden(), 5000);
        // The acknowledgement went out before any later report.
        const int sentAfterSave = sent->posCount();
        QTRY_VERIFY_WITH_TIMEOUT(delivered->pos > sentAfterSave + 5, 5000);
        QCOMPARE(dongle->receivedFrames(0).size(), size_t(1));
    } else if (answer == "dongle") {
        dongle->setDongleAbsent(true);
        button("btn_search")->click();
        int failures = 0;
        connect(probe->btThread(), &BtThread::BtSender, &delivered->context,
                [&failures](int code, char *, char *) { failures += code == -1 ? 1 : 0; });
        window->close();
        QTRY_COMPARE_WITH_TIMEOUT(failures, 1, 5000);
    } else {
        searchAndConnect();
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
