#include "headlessrunner.h"

#include "btthread.h"
#include "hostlayer.h"
#include "stationarycheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QIODevice>

#include <cmath>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Device names are remote input: nothing in them may break a line of text output.
QString printable(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    return shown;
}

bool rssiKnown(short rssi)
{
    return rssi != 0 && rssi != 127;
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 6) + QStringLiteral(" s");
}

QString valueText(const MAG_PARAM &v)
{
    return QStringLiteral("%1,%2,%3,%4,%5,%6")
            .arg(v.max_x).arg(v.max_y).arg(v.max_z).arg(v.min_x).arg(v.min_y).arg(v.min_z);
}

} // namespace

HeadlessRunner::HeadlessRunner(const ToolOptions &options_, const QString &backend,
                               QIODevice *out_, QIODevice *err_, QObject *parent)
    : QObject(parent),
      options(options_),
      record(options_.recordPath, backend),
      out(out_),
      err(err_)
{
    // Limits the user gave are kept to the millisecond, never cut short.
    deadline.setTimerType(Qt::PreciseTimer);
    waitTimer.setTimerType(Qt::PreciseTimer);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &HeadlessRunner::deadlinePassed);
    waitTimer.setSingleShot(true);
    connect(&waitTimer, &QTimer::timeout, this, &HeadlessRunner::waitPassed);
    secondTimer.setTimerType(Qt::PreciseTimer);
    secondTimer.setInterval(1000);
    connect(&secondTimer, &QTimer::timeout, this, &HeadlessRunner::calibrationTick);
}

HeadlessRunner::~HeadlessRunner()
{
    joinSaveThread();
    delete bt;   // stops the worker first
}

void HeadlessRunner::start()
{
    if (phase != Phase::Idle)
        return;
    QString error;
    if (!options.recordPath.isEmpty() && !record.check(&error)) {
        finish(StatusError, QStringLiteral("ERROR: cannot write the record file %1").arg(error));
        return;
    }

    if (options.calibrateSeconds > 0)
        steps.append(Step::Calibrate);
    if (options.save || options.write)
        steps.append(Step::Write);
    if (options.check)
        steps.append(Step::Check);

    bt = new BtThread;
    connect(bt, &BtThread::BtSender, this, &HeadlessRunner::announcement);
    // Sightings are copied on the worker's thread into a queue that this thread empties. A
    // shared string handed over in a queued signal would be released by Qt, where
    // ThreadSanitizer cannot see the counting that orders it.
    connect(bt, &BtThread::sightingSender, this,
            [this](const QByteArray &addressText, const QString &name, short rssi) {
                bool first;
                {
                    std::lock_guard<std::mutex> lock(sightingMutex);
                    first = pendingSightings.empty();
                    pendingSightings.push_back({QByteArray(addressText.constData(), addressText.size()),
                                                QString(name.constData(), name.size()), rssi});
                }
                if (first)
                    QMetaObject::invokeMethod(this, "takeSightings", Qt::QueuedConnection);
            }, Qt::DirectConnection);
    connect(bt, &BtThread::posSender, this, &HeadlessRunner::pose);
    connect(bt, &BtThread::rawSender, this, &HeadlessRunner::raw);
    phase = Phase::Adapter;
    deadline.start(options.connectTimeoutMs);
    bt->start();
}

void HeadlessRunner::announcement(int code, char *text, char *)
{
    if (phase == Phase::Done)
        return;
    const QString message = text ? QString::fromUtf8(text).trimmed() : QString();
    switch (code) {
    case BtThread::DongleFailed:
        fail(QStringLiteral("no adapter: %1").arg(message));
        break;
    case BtThread::DongleReady:
        if (phase != Phase::Adapter)
            break;
        phase = Phase::Scanning;
        progress(options.list ? QStringLiteral("listing controllers for %1").arg(seconds(options.connectTimeoutMs))
                              : QStringLiteral("looking for %1").arg(QString::fromLatin1(options.address)));
        break;
    case BtThread::WriteAnswer:
        if (phase != Phase::Writing || answer != WriteAnswer::None)
            break;
        // Reported at once: the write's pause goes on on its own thread.
        answer = BtThread::writeSucceeded(text) ? WriteAnswer::Success : WriteAnswer::Fail;
        endWrite();
        break;
    case BtThread::LinkEnded:
        // The end of a link. Before a connection was asked for there is none to lose.
        if (phase == Phase::Connecting)
            fail(QStringLiteral("connection to %1 failed: %2").arg(QString::fromLatin1(options.address), message));
        else if (phase > Phase::Connecting)
            fail(QStringLiteral("link to %1 lost: %2").arg(QString::fromLatin1(options.address), message));
        break;
    default:
        break;
    }
}

void HeadlessRunner::takeSightings()
{
    std::vector<PendingSighting> taken;
    {
        std::lock_guard<std::mutex> lock(sightingMutex);
        taken.swap(pendingSightings);
    }
    for (const PendingSighting &seen : taken)
        sighting(seen.addressText, seen.name, seen.rssi);
}

void HeadlessRunner::sighting(const QByteArray &addressText, const QString &name, short rssi)
{
    if (phase != Phase::Scanning)
        return;
    Sighting &seen = sightings[addressText];
    if (!name.isEmpty())
        seen.name = name;
    if (rssiKnown(rssi))
        seen.rssi = rssi;

    if (options.list) {
        if (seen.printed)
            return;
        // A nameless first sighting is often followed at once by one with the name (a scan
        // response); it is printed when that comes, or after a short wait without one.
        if (!seen.name.isEmpty()) {
            printListed(addressText);
        } else if (!seen.waiting) {
            seen.waiting = true;
            QTimer::singleShot(NameWaitMs, this, [this, addressText] { printListed(addressText); });
        }
        return;
    }

    if (addressText != options.address)
        return;
    // Like a list, the job waits a moment for the controller's name, which goes into the
    // record.
    if (!seen.name.isEmpty()) {
        connectTarget();
    } else if (!waitingForName) {
        waitingForName = true;
        QTimer::singleShot(NameWaitMs, this, &HeadlessRunner::connectTarget);
    }
}

void HeadlessRunner::connectTarget()
{
    if (phase != Phase::Scanning)
        return;
    const QString name = sightings.value(options.address).name;
    targetName = name.isEmpty() ? QString::fromLatin1(DeviceList::UnknownName) : name;
    phase = Phase::Connecting;
    progress(QStringLiteral("connecting to %1 (%2)").arg(QString::fromLatin1(options.address), printable(targetName)));
    // The first report of this link has no predecessor.
    check.newLink();
    linked = true;
    bt->connectDevice(options.address.constData());
}

void HeadlessRunner::printListed(const QByteArray &addressText)
{
    if (phase != Phase::Scanning)
        return;
    Sighting &seen = sightings[addressText];
    if (seen.printed)
        return;
    seen.printed = true;
    const QString name = seen.name.isEmpty() ? QString::fromLatin1(DeviceList::UnknownName) : seen.name;
    const QString address = QString::fromLatin1(addressText);
    JsonLine json;
    json.add("address", address)
        .add("name", name)
        .add("rssi", rssiKnown(seen.rssi) ? QJsonValue(seen.rssi) : QJsonValue());
    const QString strength = rssiKnown(seen.rssi) ? QString::number(seen.rssi) + QStringLiteral(" dBm")
                                                  : QStringLiteral("? dBm");
    writeOut(QStringLiteral("%1  %2  %3").arg(address, strength.rightJustified(8), printable(name)), &json);
}

void HeadlessRunner::pose(IMU_POS pos)
{
    if (phase < Phase::Connecting || phase == Phase::Done)
        return;
    if (phase == Phase::Connecting)
        connected();
    check.takePose(pos);
    if (phase != Phase::Checking)
        return;
    waitTimer.start(options.answerTimeoutMs);
    if (check.tick() == CheckSession::Tick::Ended)
        endCheck(check.passed() ? StatusSuccess : StatusFailed);
}

void HeadlessRunner::raw(IMU_RAW raw)
{
    if (phase < Phase::Connecting || phase == Phase::Done)
        return;
    latestMag[0] = raw.mag_x;
    latestMag[1] = raw.mag_y;
    latestMag[2] = raw.mag_z;
    if (phase == Phase::Connecting)
        connected();
    if (phase == Phase::Calibrating) {
        recording.addSample(latestMag);
        waitTimer.start(options.answerTimeoutMs);
    }
}

void HeadlessRunner::deadlinePassed()
{
    const QString limit = seconds(options.connectTimeoutMs);
    switch (phase) {
    case Phase::Adapter:
        fail(QStringLiteral("no adapter: none reported ready within %1").arg(limit));
        break;
    case Phase::Scanning:
        if (options.list) {
            for (auto it = sightings.cbegin(); it != sightings.cend(); ++it)
                printListed(it.key());
            finish(StatusSuccess, QStringLiteral("listed %1 controller(s) in %2").arg(sightings.size()).arg(limit));
        } else {
            fail(QStringLiteral("controller %1 not found within %2").arg(QString::fromLatin1(options.address), limit));
        }
        break;
    case Phase::Connecting:
        fail(QStringLiteral("no reports from %1 within %2: the connection failed or the controller is silent")
                     .arg(QString::fromLatin1(options.address), limit));
        break;
    default:
        break;
    }
}

void HeadlessRunner::waitPassed()
{
    const QString limit = seconds(options.answerTimeoutMs);
    if (phase == Phase::Writing)
        endWrite();
    else if (phase == Phase::Calibrating || phase == Phase::Checking)
        fail(QStringLiteral("no %1 reports from %2 for %3")
                     .arg(phase == Phase::Calibrating ? QStringLiteral("magnetometer") : QStringLiteral("orientation"),
                          QString::fromLatin1(options.address), limit));
}

void HeadlessRunner::connected()
{
    deadline.stop();
    progress(QStringLiteral("connected to %1").arg(QString::fromLatin1(options.address)));
    nextStep();
}

void HeadlessRunner::nextStep()
{
    if (!recordError.isEmpty()) {
        finish(StatusError, QStringLiteral("ERROR: cannot write the record file %1").arg(recordError));
        return;
    }
    if (stepIndex >= steps.size()) {
        const QString address = QString::fromLatin1(options.address);
        if (worstStatus == StatusSuccess)
            finish(StatusSuccess, QStringLiteral("OK: every operation succeeded on %1").arg(address));
        else
            finish(worstStatus, QStringLiteral("FAILED on %1: %2").arg(address, failures.join(QStringLiteral("; "))));
        return;
    }
    switch (steps[stepIndex++]) {
    case Step::Calibrate:
        startCalibration();
        break;
    case Step::Write:
        startWrite(options.save ? recording.values() : options.values);
        break;
    case Step::Check:
        startCheck();
        break;
    }
}

// The window's way: a tick at once and then one a second, each folding the latest sample into
// the extremes.
void HeadlessRunner::startCalibration()
{
    phase = Phase::Calibrating;
    recording.start();
    secondsDone = 0;
    progress(QStringLiteral("calibrating for %1 s: turn the unit slowly through every direction")
                     .arg(options.calibrateSeconds));
    recording.tick(latestMag);
    secondTimer.start();
    waitTimer.start(options.answerTimeoutMs);
}

double HeadlessRunner::roundedCoverage() const
{
    return std::round(recording.coverage() * 10.0) / 10.0;
}

QString HeadlessRunner::calibrationText() const
{
    const int16_t *max = recording.max();
    const int16_t *min = recording.min();
    return QStringLiteral("max %1 %2 %3  min %4 %5 %6  coverage %7%")
            .arg(max[0]).arg(max[1]).arg(max[2]).arg(min[0]).arg(min[1]).arg(min[2])
            .arg(QString::number(recording.coverage(), 'f', 0));
}

void HeadlessRunner::calibrationTick()
{
    if (phase != Phase::Calibrating)
        return;
    ++secondsDone;
    recording.tick(latestMag);
    JsonLine json;
    json.add("operation", QStringLiteral("calibrate"))
        .add("seconds", secondsDone)
        .add("values", valueArray(recording.values()))
        .add("coverage", roundedCoverage());
    writeOut(QStringLiteral("calibrate %1/%2 s: %3").arg(secondsDone).arg(options.calibrateSeconds)
                     .arg(calibrationText()), &json);
    if (secondsDone >= options.calibrateSeconds)
        endCalibration(StatusSuccess);
}

void HeadlessRunner::endCalibration(int status)
{
    secondTimer.stop();
    waitTimer.stop();
    JsonLine line = resultLine("calibrate");
    line.add("values", valueArray(recording.values())).add("coverage", roundedCoverage());
    report(line, QStringLiteral("calibrate: %1").arg(calibrationText()), status);
    if (status == StatusSuccess)
        nextStep();
}

void HeadlessRunner::startWrite(const MAG_PARAM &values)
{
    phase = Phase::Writing;
    writeValues = values;
    answer = WriteAnswer::None;
    frameSent = true;
    // The worker ends this line with its own "success!" or "fail!" for the write call.
    progress(QStringLiteral("writing %1 to %2: ").arg(valueText(values), QString::fromLatin1(options.address)), true);
    waitTimer.start(options.answerTimeoutMs);
    // The write pauses its caller for a second after the frame goes out. On a thread of its own
    // it leaves this loop free to report the answer the moment it arrives.
    BtThread *const worker = bt;
    saveThread = std::thread([this, worker, values] {
        const bool sent = worker->saveParam(values);
        QMetaObject::invokeMethod(this, "saveReturned", Qt::QueuedConnection, Q_ARG(bool, sent));
    });
}

void HeadlessRunner::saveReturned(bool sent)
{
    joinSaveThread();
    if (phase == Phase::Writing && !sent) {
        frameSent = false;
        endWrite();
    }
}

void HeadlessRunner::joinSaveThread()
{
    if (saveThread.joinable())
        saveThread.join();
}

int HeadlessRunner::recordWrite()
{
    const int status = writeAnswerStatus(answer);
    JsonLine line = resultLine("write");
    addWriteFields(line, writeValues, answer);
    report(line, QStringLiteral("write %1: %2").arg(valueText(writeValues), writeAnswerText(answer)), status);
    if (status == StatusFailed)
        failures << QStringLiteral("the write failed");
    return status;
}

void HeadlessRunner::endWrite()
{
    waitTimer.stop();
    const QString address = QString::fromLatin1(options.address);
    if (recordWrite() != StatusError)
        nextStep();
    else if (!frameSent)
        finish(StatusError, QStringLiteral("ERROR: the frame could not be sent to %1").arg(address));
    else
        finish(StatusError, QStringLiteral("ERROR: no answer from %1 within %2").arg(address, seconds(options.answerTimeoutMs)));
}

void HeadlessRunner::startCheck()
{
    phase = Phase::Checking;
    check.start();
    progress(QStringLiteral("checking: keep the unit still (%1 samples)").arg(StationaryCheck::LastSample + 1));
    waitTimer.start(options.answerTimeoutMs);
    // As the window's ticker would at once: the latest sample, if new, is the first one.
    check.tick();
}

void HeadlessRunner::endCheck(int status)
{
    waitTimer.stop();
    const double *sums = check.sums();
    const bool passed = status == StatusSuccess;
    JsonLine line = resultLine("check");
    addCheckFields(line, check, passed);
    const QString text = QStringLiteral("check: sums %1 %2 %3  means %4 %5 %6  samples %7  %8")
            .arg(sums[0], 0, 'f', 3).arg(sums[1], 0, 'f', 3).arg(sums[2], 0, 'f', 3)
            .arg(check.mean(0), 0, 'f', 4).arg(check.mean(1), 0, 'f', 4).arg(check.mean(2), 0, 'f', 4)
            .arg(check.count())
            .arg(passed ? QStringLiteral("passed") : QStringLiteral("failed"));
    report(line, text, status);
    if (status == StatusFailed)
        failures << QStringLiteral("the check failed");
    if (status != StatusError)
        nextStep();
}

void HeadlessRunner::fail(const QString &reason)
{
    switch (phase) {
    case Phase::Calibrating:
        endCalibration(StatusError);
        break;
    case Phase::Writing:
        recordWrite();
        break;
    case Phase::Checking:
        endCheck(StatusError);
        break;
    default:
        break;
    }
    finish(StatusError, QStringLiteral("ERROR: ") + reason);
}

void HeadlessRunner::finish(int status, const QString &message)
{
    if (phase == Phase::Done)
        return;
    phase = Phase::Done;
    deadline.stop();
    waitTimer.stop();
    secondTimer.stop();
    // Its console text comes before the last message.
    joinSaveThread();
    if (bt) {
        // Leaves the controller free for the next job.
        if (linked)
            bt->disconnectDevice();
        bt->stop();
    }
    progress(message);
    emit finished(status);
}

JsonLine HeadlessRunner::resultLine(const char *operation) const
{
    return record.line(QString::fromLatin1(options.address), targetName, QLatin1String(operation));
}

void HeadlessRunner::report(const JsonLine &line, const QString &text, int status)
{
    JsonLine full = line;
    full.add("status", status);
    writeOut(text, &full);
    worstStatus = std::max(worstStatus, status);
    // A unit whose result cannot be recorded ends the job (at the next step).
    if (!options.recordPath.isEmpty() && recordError.isEmpty())
        record.append(full, &recordError);
}

void HeadlessRunner::writeOut(const QString &text, const JsonLine *json)
{
    out->write(options.json && json ? json->toJson() + '\n' : text.toUtf8() + '\n');
}

void HeadlessRunner::progress(const QString &text, bool open)
{
    if (errLineOpen)
        err->write("\n");
    errLineOpen = open;
    const QString name = QCoreApplication::applicationName();
    const QByteArray line = (name.isEmpty() ? text : name + QStringLiteral(": ") + text).toUtf8();
    err->write(open ? line : line + '\n');
}

int runHeadless(QCoreApplication &app, HostBackend &backend, const ToolOptions &options,
                const QString &backendName)
{
    QFile out;
    QFile err;
#ifdef Q_OS_UNIX
    // The worker prints its own diagnostics ("OK", "success!") on standard output. Results
    // keep the real standard output, and the diagnostics join the messages on standard error.
    std::fflush(stdout);
    const int resultsFd = ::dup(STDOUT_FILENO);
    if (resultsFd >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0)
        out.open(resultsFd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
    else
#endif
        out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);

    setHostBackend(&backend);
    int status = StatusError;
    {
        HeadlessRunner runner(options, backendName, &out, &err);
        QObject::connect(&runner, &HeadlessRunner::finished, &app, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        QTimer::singleShot(0, &runner, &HeadlessRunner::start);
        status = app.exec();
    }
    setHostBackend(nullptr);
    return status;
}
