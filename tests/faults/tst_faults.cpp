// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Faults injected through the real-time virtual dongle while the window runs on it. The
// window must tell the user what they need to know, nothing more, stay usable, and close at
// once.
#include "boxcatcher.h"
#include "picturedir.h"
#include "residentmemory.h"
#include "waits.h"
#include "windowprobe.h"

#include "btthread.h"
#include "calibthread.h"
#include "magthread.h"
#include "protocol.h"
#include "recordfile.h"
#include "virtualdongle.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <mutex>

namespace {

const char ControllerA[] = "00025B0A1C01";

// Sanitizer builds run several times slower and hold freed memory for a while: limits in time
// and in memory stretch by this much.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int Slowdown = 5;
#else
constexpr int Slowdown = 1;
#endif

// What the dongle sends, noted on its own thread.
struct Sent
{
    std::mutex mutex;
    int pos = 0, raw = 0;
    std::vector<uint8_t> lastPos;
    int count(int Sent::*n) { std::lock_guard<std::mutex> l(mutex); return this->*n; }
};

// The status, the controller picture's lights, trigger bar and joystick cross, as text.
QStringList look(QWidget *window)
{
    QStringList shown;
    for (const char *name : {"lab_status", "lab_light_left", "lab_light_middle", "lab_light_right", "lab_light_power",
                             "lab_light_back", "lab_trigger_stick", "lab_rocker_light", "lab_trigger_progress",
                             "lab_rocker_cross"}) {
        const QLabel *l = window->findChild<QLabel *>(name);
        shown << QString("%1 %2 %3 %4,%5 %6,%7 %8").arg(name, l->text()).arg(l->pixmap(Qt::ReturnByValue).isNull())
                         .arg(l->x()).arg(l->y()).arg(l->contentsMargins().top()).arg(l->contentsMargins().bottom())
                         .arg(int(l->alignment()));
    }
    return shown;
}

QList<QJsonObject> recordLines(const QString &path)
{
    QList<QJsonObject> lines;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        }
    }
    return lines;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(pictures.isValid()); }
    void init();
    void cleanup();
    void dongleFails_data();
    void dongleFails();
    void linkEnds_data();
    void linkEnds();
    void saveFails_data();
    void saveFails();
    void unaskedAnswers();
    void closing_data();
    void closing();
    void remoteFloods_data();
    void remoteFloods();

private:
    QPushButton *button(const char *name) { return window->findChild<QPushButton *>(name); }
    QComboBox *combo() { return window->findChild<QComboBox *>("comboBox"); }
    // Codes -1, 4 and 5 announced since the worker started, with their texts.
    void listen()
    {
        connect(probe->btThread(), &BtThread::BtSender, receiver.get(), [this](int code, char *text, char *) {
            if (code == -1 || code >= 4)
                announced << QString::number(code) + " " + QString::fromUtf8(text);
        });
    }
    void startWorker();
    void searchAndConnect()
    {
        startWorker();
        button("btn_connect")->click();
        QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > 5, WaitDeadline);
    }
    // Stops the reports and waits until everything sent has been shown.
    void pauseAndDrain()
    {
        dongle->setReportsPaused(true);
        QTRY_VERIFY_WITH_TIMEOUT(delivered.size() == sent->count(&Sent::pos)
                                         && deliveredRaw == sent->count(&Sent::raw), WaitDeadline);
    }
    bool showsLastSent()
    {
        std::lock_guard<std::mutex> l(sent->mutex);
        Protocol::ReportState state;
        Protocol::decodeReport(sent->lastPos.data(), sent->lastPos.size(), state);
        const IMU_POS &shown = probe->posData();
        return shown.angle1 == state.posSample.angle1 && shown.angle2 == state.posSample.angle2
               && shown.angle3 == state.posSample.angle3;
    }

    PictureDir pictures;
    std::unique_ptr<VirtualDongle> dongle;
    std::unique_ptr<Sent> sent;
    std::unique_ptr<QObject> receiver;
    QVector<IMU_POS> delivered;
    int deliveredRaw = 0;
    QStringList announced;
    QTemporaryDir recordDir;
    std::unique_ptr<RecordFile> record;   // outlives the window that writes to it
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;

    const RecordFile &recordToFile()
    {
        record.reset(new RecordFile(recordDir.filePath("units.jsonl"), "virtual"));
        QFile::remove(record->path());
        window->setRecordFile(record.get());
        return *record;
    }
};

void TestFaults::init()
{
    dongle.reset(new VirtualDongle(VirtualDongle::Clock::RealTime));
    dongle->setReportRate(300);
    sent.reset(new Sent);
    Sent *s = sent.get();
    dongle->setNotificationObserver([s](uint32_t, const uint8_t *data, size_t length) {
        std::lock_guard<std::mutex> l(s->mutex);
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
    announced.clear();
    window.reset(new MainWindow);
    probe.reset(new MainWindowProbe{*window});
    QVERIFY(showAndWait(window.get()));
}

void TestFaults::cleanup()
{
    if (window)
        probe->stopWorkers();
    probe.reset();
    window.reset();
    record.reset();
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
    listen();
    QTRY_VERIFY_WITH_TIMEOUT(button("btn_search")->isEnabled(), WaitDeadline);
    QTRY_VERIFY_WITH_TIMEOUT(combo()->findText(ControllerA) >= 0, WaitDeadline);
    combo()->setCurrentIndex(combo()->findText(ControllerA));
}

// "Dongle failed…", at the first search or at a later one once the adapter has gone, leaves
// Search usable. Each later search starts the dongle again (both buttons off until it
// answers) and fails while it is missing; the first one after it is back lists the
// controllers.
void TestFaults::dongleFails_data()
{
    QTest::addColumn<bool>("later");
    QTest::newRow("absent at the first search, then plugged in") << false;
    QTest::newRow("gone later, then back") << true;
}

void TestFaults::dongleFails()
{
    QFETCH(bool, later);
    if (later)
        startWorker();
    dongle->faults().setAdapterGone(later);
    dongle->faults().setDongleAbsent(!later);
    BoxCatcher boxes;
    for (int search = 1; search <= 2; ++search) {
        button("btn_search")->click();
        // A scan asked of an adapter that was up keeps the buttons on.
        QCOMPARE(button("btn_search")->isEnabled(), later && search == 1);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), search, WaitDeadline);
        QCOMPARE(boxes.seen.last().text,
                 QStringLiteral("Dongle failed to initialize!Please insert the dongle to computer!\n"));
        QCOMPARE(boxes.seen.last().parent, window.get());
        QVERIFY(button("btn_search")->isEnabled());
        QCOMPARE(combo()->count(), 0);
    }
    dongle->faults().setAdapterGone(false);
    dongle->faults().setDongleAbsent(false);
    button("btn_search")->click();
    QTRY_COMPARE_WITH_TIMEOUT(combo()->count(), VirtualDongle::ControllerCount, WaitDeadline);
    QVERIFY(button("btn_connect")->isEnabled());
    QCOMPARE(boxes.seen.size(), 2);
}

// The controller falls silent, or its link ends however it ends: nothing a check or a
// calibration under way shows or counts moves while its ticker ticks on, the status tells why
// it waits, and it follows the stream again once reports come back (a still controller passes
// its check). An ended link also brings back the look the window has before any connection,
// and ends a check under way without a verdict: one check never spans two links.
void TestFaults::linkEnds_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("procedure");
    QTest::addColumn<QStringList>("why");   // codes 5 announced; none: the link stays
    QTest::addColumn<QString>("waiting");   // what the status adds to "Status:Unconnected!"
    QTest::newRow("silence, check") << "silence" << "check" << QStringList() << "";
    QTest::newRow("silence, calibration") << "silence" << "calibration" << QStringList() << "";
    QTest::newRow("link failure, check") << "link" << "check" << QStringList{"5 Link lost"} << "";
    QTest::newRow("adapter gone, calibration")
        << "adapter" << "calibration" << QStringList{"5 Link lost"} << " Calibration waits";
    QTest::newRow("later search, both") << "search" << "both" << QStringList{"5 Disconnected"}
                                        << " Calibration waits";
    QTest::newRow("connection refused") << "refused" << "" << QStringList{"5 Disconnected", "5 Connection refused"}
                                        << "";
    QTest::newRow("connection unanswered") << "unanswered" << ""
                                           << QStringList{"5 Disconnected", "5 Connection failed"} << "";
}

void TestFaults::linkEnds()
{
    QFETCH(QString, cause);
    QFETCH(QString, procedure);
    QFETCH(QStringList, why);
    QFETCH(QString, waiting);
    QStringList unconnected = look(window.get());
    unconnected[0].replace("Status:Unconnected!", "Status:Unconnected!" + waiting);
    searchAndConnect();
    BoxCatcher boxes;
    const bool check = procedure == "check" || procedure == "both";
    if (check)
        button("btn_stationary_check")->click();
    if (procedure == "calibration" || procedure == "both")
        button("btn_start_calib")->click();
    pauseAndDrain();
    // From the first ticks sent after the last report on, nothing may move.
    int checkTicks = 0, magTicks = 0;
    if (check)
        connect(probe->calibThread(), &CalibThread::calibSender, receiver.get(), [&] { ++checkTicks; });
    if (probe->magThread())
        connect(probe->magThread(), &MagThread::magSender, receiver.get(), [&] { ++magTicks; });
    auto ticked = [&](int checks, int seconds) {
        return (checkTicks >= checks || !check) && (magTicks >= seconds || !probe->magThread());
    };
    QTRY_VERIFY_WITH_TIMEOUT(ticked(1, 1), WaitDeadline);
    probe->btnData(0x01, 127, 127, -128);   // every light on, bar and cross moved
    const QStringList lit = look(window.get());
    auto progress = [this] {
        QStringList s;
        for (QLabel *l : window->findChildren<QLabel *>(QRegularExpression("^lab_(count|check|max|min|block)")))
            s << l->objectName() + l->text() + QString::number(l->geometry().height());
        for (int i = 0; i < 3; ++i)
            s << QString::number(probe->checkSum()[i]) << QString::number(probe->magMax()[i] - probe->magMin()[i]);
        return s << QString::number(probe->checkCount());
    };
    const QStringList before = progress();

    if (cause == "link")
        dongle->faults().injectLinkFailure();
    else if (cause == "adapter")
        dongle->faults().setAdapterGone(true);
    else if (cause == "search")
        button("btn_search")->click();
    dongle->faults().setConnectRefused(cause == "refused");
    dongle->faults().setConnectFails(cause == "unanswered");
    if (cause == "refused" || cause == "unanswered")
        button("btn_connect")->click();
    QTRY_COMPARE_WITH_TIMEOUT(announced, why, WaitDeadline);
    // A check that the link's end has ended ticks no more.
    const bool checkEnded = check && !why.isEmpty();
    const int checkUntil = checkTicks + (checkEnded ? 0 : 300), magUntil = magTicks + 2;
    QTRY_VERIFY_WITH_TIMEOUT(ticked(checkUntil, magUntil), WaitDeadline);
    QCOMPARE(look(window.get()), why.isEmpty() ? lit : unconnected);
    QCOMPARE(progress(), before);
    QCOMPARE(boxes.seen.size(), int(checkEnded));
    if (checkEnded)
        QCOMPARE(boxes.seen.first().text, QStringLiteral("Station check not judged: the link ended during the check."));

    dongle->faults().setConnectRefused(false);
    dongle->faults().setConnectFails(false);
    dongle->faults().setAdapterGone(false);
    dongle->setReportsPaused(false);
    const int shown = delivered.size();
    if (!why.isEmpty()) {
        button("btn_search")->click();
        QTRY_VERIFY_WITH_TIMEOUT(combo()->findText(ControllerA) >= 0, WaitDeadline);
        combo()->setCurrentIndex(combo()->findText(ControllerA));
        button("btn_connect")->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > shown + 5, WaitDeadline);
    QVERIFY(!look(window.get()).first().contains("Unconnected"));
    if (check && !checkEnded) {
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, WaitDeadline);
        QCOMPARE(boxes.seen.first().text, QStringLiteral("Station check success!"));
    }
}

// A save whose frame cannot go out says so at once, without the save's pause; a frame that
// goes out and fails later, or gets no answer within the answer deadline, is a failed write,
// shown once. Nothing reaches the controller, and the record says the unit never answered.
void TestFaults::saveFails_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("deadline");   // the window's answer deadline, ms (0: none)
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("answer");   // recorded
    QTest::newRow("no controller connected") << "unconnected" << 0 << "Save Parameter Failed!" << "not sent";
    QTest::newRow("link lost") << "link" << 0 << "Save Parameter Failed!" << "not sent";
    QTest::newRow("refused at once") << "refused" << 0 << "Save Parameter Failed!" << "not sent";
    QTest::newRow("refused later") << "later" << 0 << "Write data fail!" << "not sent";
    QTest::newRow("unanswered") << "unanswered" << 0 << "Write data fail!" << "none";
    // The stack's own word comes after the deadline and is no answer any more.
    QTest::newRow("no answer within the deadline") << "unanswered" << 300 << "Write data fail!" << "none";
}

void TestFaults::saveFails()
{
    QFETCH(QString, fault);
    QFETCH(int, deadline);
    QFETCH(QString, box);
    QFETCH(QString, answer);
    const RecordFile &record = recordToFile();
    window->setAnswerTimeout(deadline);
    if (fault == "unconnected")
        startWorker();
    else
        searchAndConnect();
    if (fault == "link") {
        dongle->faults().injectLinkFailure();
        QTRY_COMPARE_WITH_TIMEOUT(announced.size(), 1, WaitDeadline);
    }
    dongle->faults().setWriteRefused(fault == "refused");
    dongle->faults().setWriteFailsLater(fault == "later");
    dongle->faults().setWriteUnanswered(fault == "unanswered");
    // The gate asks only when a frame could go out at all.
    const bool canGoOut = fault != "unconnected" && fault != "link";
    BoxCatcher boxes(canGoOut ? BoxCatcher::SaveAnyway : BoxCatcher::AskGate);
    QElapsedTimer held;
    held.start();
    probe->savePressed();
    const qint64 heldMs = held.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, WaitDeadline);
    QCOMPARE(boxes.seen.first().text, box);
    QVERIFY2(heldMs < (box.startsWith("Save") ? 500 : 1500) * Slowdown, qPrintable(QString::number(heldMs)));
    if (fault != "unconnected" && fault != "link") {
        const int later = sent->count(&Sent::pos) + 5;
        QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > later, WaitDeadline);
    }
    QCOMPARE(boxes.seen.size(), 1);
    QVERIFY(dongle->receivedFrames(0).empty());
    const QList<QJsonObject> lines = recordLines(record.path());
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().value("answer").toString(), answer);
    QCOMPARE(lines.first().value("status").toInt(), 2);
}

// A controller that sends acknowledgements nobody asked for opens no box and records no
// write; the answer to a save that follows is shown and recorded once.
void TestFaults::unaskedAnswers()
{
    const RecordFile &record = recordToFile();
    searchAndConnect();
    BoxCatcher boxes(BoxCatcher::SaveAnyway);
    const Protocol::Report ack = Protocol::encodeAcknowledgement(true);
    for (int i = 0; i < 200; ++i)
        dongle->faults().injectNotification(std::vector<uint8_t>(ack.begin(), ack.end()));
    // They come in order with the reports: once later reports are shown, all were handled.
    const int later = sent->count(&Sent::pos) + 5;
    QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > later, WaitDeadline);
    QCOMPARE(boxes.seen.size(), 0);
    QCOMPARE(recordLines(record.path()).size(), 0);

    probe->savePressed();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, WaitDeadline);
    QCOMPARE(boxes.seen.first().text, QStringLiteral("Write data success!"));
    for (int i = 0; i < 20; ++i)
        dongle->faults().injectNotification(std::vector<uint8_t>(ack.begin(), ack.end()));
    const int after = sent->count(&Sent::pos) + 5;
    QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > after, WaitDeadline);
    QCOMPARE(boxes.seen.size(), 1);
    const QList<QJsonObject> lines = recordLines(record.path());
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().value("answer").toString(), QStringLiteral("success"));
}

// Closing the window in any state ends the tool at once: what is left to do after the close
// (the window and its workers going, then the host layer) takes less than a second. An answer
// that arrives after the close shows no box: nobody would see it, and while it is up the
// closed tool could not quit.
void TestFaults::closing_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("late");   // what arrives after the close
    QTest::newRow("starting, no dongle")
        << "starting" << "-1 Dongle failed to initialize!Please insert the dongle to computer!\n";
    QTest::newRow("saving, no answer") << "saving" << "4 Write data fail!";
    QTest::newRow("checking, verdict") << "checking" << "";
    for (const char *state : {"streaming", "calibrating", "flooding", "connecting"})
        QTest::newRow(state) << state << "";
}

void TestFaults::closing()
{
    QFETCH(QString, state);
    QFETCH(QString, late);
    BoxCatcher boxes(BoxCatcher::SaveAnyway);
    if (state == "starting") {
        dongle->faults().setDongleAbsent(true);
        button("btn_search")->click();
        listen();
    } else if (state == "connecting") {
        startWorker();
        dongle->faults().setConnectFails(true);
        button("btn_connect")->click();
    } else {
        searchAndConnect();
    }
    if (state == "saving") {
        // The close click came while the save held the GUI thread.
        dongle->faults().setWriteUnanswered(true);
        QMetaObject::invokeMethod(window.get(), "close", Qt::QueuedConnection);
        button("btn_save_param")->click();
    } else if (state == "checking") {
        button("btn_stationary_check")->click();
        QTRY_VERIFY_WITH_TIMEOUT(probe->checkCount() > 10, WaitDeadline);
        pauseAndDrain();
        probe->checkCount() = 1000;   // the next sample is the check's last
    } else if (state == "calibrating") {
        button("btn_start_calib")->click();
    } else if (state == "flooding") {
        dongle->faults().setFlood(5000);
        QTRY_VERIFY_WITH_TIMEOUT(probe->btThread()->droppedReports() > 0, WaitDeadline);
    }
    window->close();
    dongle->setReportsPaused(false);
    QTRY_VERIFY_WITH_TIMEOUT(announced.contains(late) || late.isEmpty(), WaitDeadline);
    QTRY_VERIFY_WITH_TIMEOUT(!probe->checkActive() || state != "checking", WaitDeadline);
    QCOMPARE(boxes.seen.size(), 0);

    const QList<QPointer<QThread>> workers{probe->btThread(), probe->magThread(), probe->calibThread()};
    QElapsedTimer closing;
    closing.start();
    window.reset();
    setHostBackend(nullptr);
    dongle.reset();
    QVERIFY2(closing.elapsed() < 1000, qPrintable(QString::number(closing.elapsed())));
    QVERIFY(std::none_of(workers.begin(), workers.end(), [](const QPointer<QThread> &w) { return bool(w); }));
}

// Remote input that would grow the tool without bound: notifications far faster than the
// worker takes them, devices that rename themselves at every advertisement, a thousand
// devices. Memory stays bounded, the GUI thread keeps up, every device is listed once,
// acknowledgements get through, and the display is current soon after a flood.
// IMU_FLOOD_SECONDS: how long each flood lasts (at least 3).
void TestFaults::remoteFloods_data()
{
    QTest::addColumn<QString>("flood");
    QTest::addColumn<int>("devices");
    QTest::newRow("5000 notifications a second") << "notifications" << 0;
    QTest::newRow("50 devices renaming, 10000 characters") << "names" << 50;
    QTest::newRow("1000 devices") << "devices" << 1000;
}

void TestFaults::remoteFloods()
{
    QFETCH(QString, flood);
    QFETCH(int, devices);
    const int seconds = qMax(3, qEnvironmentVariableIntValue("IMU_FLOOD_SECONDS"));
    BoxCatcher boxes(BoxCatcher::SaveAnyway);
    if (devices)
        startWorker();
    else
        searchAndConnect();
    QElapsedTimer sinceBeat;
    qint64 longestGap = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceBeat.restart()); });
    heartbeat.start(10);
    const qint64 rss0 = residentBytes();
    dongle->faults().addRenamingAdvertisers(devices, flood == "names" ? 10000 : 0);
    if (!devices) {
        dongle->faults().setFlood(5000);
        QTRY_VERIFY_WITH_TIMEOUT(probe->btThread()->droppedReports() > 0, WaitDeadline);
        probe->savePressed();   // its acknowledgement comes through the flood
    }
    sinceBeat.start();   // the save's pause is no gap
    const int64_t until = dongle->now() + seconds * 1000;
    QTRY_VERIFY_WITH_TIMEOUT(dongle->now() >= until, seconds * 1000 + WaitDeadline);
    const qint64 grown = residentBytes() - rss0;
    const size_t nameBytes = probe->btThread()->deviceNameBytes();
    qInfo("%s for %d s: resident memory grew by %.1f MiB; %llu notifications dropped; %zu bytes of names "
          "held; longest GUI gap %lld ms", qPrintable(flood), seconds, grown / 1048576.0,
          (unsigned long long)probe->btThread()->droppedReports(), nameBytes, longestGap);
    QVERIFY(grown < 16 * 1048576 * Slowdown);
    QVERIFY2(longestGap < 250 * Slowdown, qPrintable(QString::number(longestGap)));
    if (devices) {
        // The names held are those in use and those on their way to the window.
        QVERIFY2(nameBytes < 4 * 50 * 10001, qPrintable(QString::number(nameBytes)));
        QCOMPARE(combo()->count(), VirtualDongle::ControllerCount + devices);
        return;
    }
    dongle->faults().setFlood(0);
    dongle->setReportsPaused(true);
    QElapsedTimer catchingUp;
    catchingUp.start();
    QTRY_VERIFY_WITH_TIMEOUT(showsLastSent(), WaitDeadline);
    QVERIFY2(catchingUp.elapsed() < 2000 * Slowdown, qPrintable(QString::number(catchingUp.elapsed())));
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen.first().text, QStringLiteral("Write data success!"));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
