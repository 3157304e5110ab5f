#include "headlessrunner.h"

#include "devicelist.h"
#include "resulttext.h"
#include "stationarycheck.h"

#include <QCoreApplication>
#include <QIODevice>

#include <algorithm>

HeadlessRunner::HeadlessRunner(const ToolOptions &options_, const QString &backend,
                               QIODevice *out_, QIODevice *err_, QObject *parent)
    : QObject(parent),
      options(options_),
      record(options_.recordPath, backend, options_.identity, options_.limits),
      out(out_),
      err(err_)
{
    // Limits the user gave are kept to the millisecond, never cut short.
    deadline.setTimerType(Qt::PreciseTimer);
    secondTimer.setTimerType(Qt::PreciseTimer);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &HeadlessRunner::deadlinePassed);
    secondTimer.setInterval(1000);
    connect(&secondTimer, &QTimer::timeout, this, &HeadlessRunner::calibrationTick);

    session.setAnswerTimeout(options.answerTimeoutMs);
    session.setCheckLimits(options.limits.values.check);
    connect(&session, &ControllerSession::dongleFailed, this,
            [this](const QString &message) { fail(QStringLiteral("no adapter: %1").arg(message.trimmed())); });
    connect(&session, &ControllerSession::dongleReady, this, [this] {
        if (phase != Phase::Adapter)
            return;
        phase = Phase::Scanning;
        progress(options.list ? QStringLiteral("listing controllers for %1").arg(secondsText(options.connectTimeoutMs))
                              : QStringLiteral("looking for %1").arg(address()));
    });
    connect(&session, &ControllerSession::sightingReady, this, &HeadlessRunner::sightingReady);
    connect(&session, &ControllerSession::linkEnded, this, &HeadlessRunner::linkEnded);
    connect(&session, &ControllerSession::linkUp, this, [this] {
        if (phase != Phase::Connecting)
            return;
        deadline.stop();
        progress(QStringLiteral("connected to %1").arg(address()));
        nextStep();
    });
    connect(&session, &ControllerSession::poseTaken, this, [this] {
        if (phase == Phase::Checking)
            checkSample();
    });
    connect(&session, &ControllerSession::reportsStopped, this, &HeadlessRunner::silencePassed);
    connect(&session, &ControllerSession::writeFinished, this, [this] {
        if (phase == Phase::Writing)
            endWrite(QStringLiteral("no answer from %1 within %2").arg(address(), secondsText(options.answerTimeoutMs)));
    });
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

    session.createWorker();
    session.feedFromWorker();
    phase = Phase::Adapter;
    deadline.start(options.connectTimeoutMs);
    session.startWorker();
}

void HeadlessRunner::sightingReady(const QByteArray &seen)
{
    if (phase != Phase::Scanning)
        return;
    if (options.list) {
        ++listed;
        const ControllerSession::Sighting sighting = session.sighting(seen);
        const QString name = sighting.name.isEmpty() ? QString::fromLatin1(DeviceList::UnknownName) : sighting.name;
        const JsonLine json = sightingLine(seen, name, sighting.rssi);
        writeOut(sightingText(seen, name, sighting.rssi), &json);
    } else if (seen == options.address) {
        // The controller's name, if it has one, goes into the record.
        connectTarget();
    }
}

void HeadlessRunner::connectTarget()
{
    if (phase != Phase::Scanning)
        return;
    const QString name = session.sighting(options.address).name;
    const QString targetName = name.isEmpty() ? QString::fromLatin1(DeviceList::UnknownName) : name;
    phase = Phase::Connecting;
    progress(QStringLiteral("connecting to %1 (%2)").arg(address(), printableText(targetName)));
    session.connectTo(options.address, targetName);
}

void HeadlessRunner::linkEnded(const QString &why)
{
    if (phase == Phase::Connecting)
        fail(QStringLiteral("connection to %1 failed: %2").arg(address(), why));
    else if (phase > Phase::Connecting && phase != Phase::Done)
        fail(QStringLiteral("link to %1 lost: %2").arg(address(), why));
}

void HeadlessRunner::deadlinePassed()
{
    const QString limit = secondsText(options.connectTimeoutMs);
    if (phase == Phase::Adapter) {
        fail(QStringLiteral("no adapter: none reported ready within %1").arg(limit));
    } else if (phase == Phase::Scanning && options.list) {
        session.flushSightings();
        finish(StatusSuccess, QStringLiteral("listed %1 controller(s) in %2").arg(listed).arg(limit));
    } else if (phase == Phase::Scanning) {
        fail(QStringLiteral("controller %1 not found within %2").arg(address(), limit));
    } else if (phase == Phase::Connecting) {
        fail(QStringLiteral("no reports from %1 within %2: the connection failed or the controller is silent")
                     .arg(address(), limit));
    }
}

void HeadlessRunner::silencePassed()
{
    if (phase == Phase::Calibrating || phase == Phase::Checking)
        fail(QStringLiteral("no %1 reports from %2 for %3")
                     .arg(phase == Phase::Calibrating ? QStringLiteral("magnetometer") : QStringLiteral("orientation"),
                          address(), secondsText(options.answerTimeoutMs)));
}

void HeadlessRunner::nextStep()
{
    if (!recordError.isEmpty()) {
        finish(StatusError, QStringLiteral("ERROR: cannot write the record file %1").arg(recordError));
        return;
    }
    if (stepIndex >= steps.size()) {
        if (worstStatus == StatusSuccess)
            finish(StatusSuccess, QStringLiteral("OK: every operation succeeded on %1").arg(address()));
        else
            finish(worstStatus, QStringLiteral("FAILED on %1: %2").arg(address(), failures.join(QStringLiteral("; "))));
        return;
    }
    switch (steps[stepIndex++]) {
    case Step::Calibrate:
        startCalibration();
        break;
    case Step::Write:
        startWrite(options.save ? session.recording().values() : options.values);
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
    session.startCalibration();
    secondsDone = 0;
    progress(QStringLiteral("calibrating for %1 s: turn the unit slowly through every direction")
                     .arg(options.calibrateSeconds));
    session.calibrationTick();
    secondTimer.start();
    session.watchReports(ControllerSession::Reports::Magnetometer, options.answerTimeoutMs);
}

void HeadlessRunner::calibrationTick()
{
    if (phase != Phase::Calibrating)
        return;
    ++secondsDone;
    session.calibrationTick();
    const JsonLine json = session.calibrationProgress(secondsDone);
    writeOut(QStringLiteral("calibrate %1/%2 s: %3").arg(secondsDone).arg(options.calibrateSeconds)
                     .arg(calibrationText(session.recording())), &json);
    if (secondsDone >= options.calibrateSeconds)
        endCalibration(StatusSuccess);
}

void HeadlessRunner::endCalibration(int status)
{
    secondTimer.stop();
    session.watchReports(ControllerSession::Reports::None, 0);
    report(session.calibrationLine(record, status),
           QStringLiteral("calibrate: %1").arg(calibrationText(session.recording())), status);
    if (status == StatusSuccess)
        nextStep();
}

void HeadlessRunner::startWrite(const MAG_PARAM &values)
{
    phase = Phase::Writing;
    progress(QStringLiteral("writing %1 to %2").arg(valueText(values), address()));
    // The answer ends the write (writeFinished), or its absence once the answer time is up.
    if (session.write(values, false) != ControllerSession::WriteStart::Sent)
        endWrite(QStringLiteral("the frame could not be sent to %1").arg(address()));
}

void HeadlessRunner::endWrite(const QString &noAnswer)
{
    const WriteAnswer answer = session.writeAnswer();
    const int status = writeAnswerStatus(answer);
    report(session.writeLine(record),
           QStringLiteral("write %1: %2").arg(valueText(session.writeValues()), writeAnswerText(answer)), status);
    if (status == StatusFailed)
        failures << QStringLiteral("the write failed");
    if (status == StatusError)
        finish(StatusError, QStringLiteral("ERROR: ") + noAnswer);
    else
        nextStep();
}

void HeadlessRunner::startCheck()
{
    phase = Phase::Checking;
    session.startCheck();
    progress(QStringLiteral("checking: keep the unit still (%1 samples)").arg(StationaryCheck::LastSample + 1));
    session.watchReports(ControllerSession::Reports::Orientation, options.answerTimeoutMs);
    // As the window's ticker would at once: the latest sample, if new, is the first one.
    checkSample();
}

void HeadlessRunner::checkSample()
{
    if (session.checkTick() == CheckSession::Tick::Ended)
        endCheck(session.check().passed() ? StatusSuccess : StatusFailed);
}

void HeadlessRunner::endCheck(int status)
{
    session.watchReports(ControllerSession::Reports::None, 0);
    report(session.checkLine(record, status),
           QStringLiteral("check: ") + checkText(session.check(), status == StatusSuccess), status);
    if (status == StatusFailed)
        failures << QStringLiteral("the check failed");
    if (status != StatusError)
        nextStep();
}

void HeadlessRunner::fail(const QString &reason)
{
    if (phase == Phase::Calibrating)
        endCalibration(StatusError);
    else if (phase == Phase::Writing)
        endWrite(reason);
    else if (phase == Phase::Checking)
        endCheck(StatusError);
    finish(StatusError, QStringLiteral("ERROR: ") + reason);
}

void HeadlessRunner::finish(int status, const QString &message)
{
    if (phase == Phase::Done)
        return;
    phase = Phase::Done;
    deadline.stop();
    secondTimer.stop();
    session.close();
    progress(message);
    emit finished(status);
}

void HeadlessRunner::report(const JsonLine &line, const QString &text, int status)
{
    worstStatus = std::max(worstStatus, status);
    // A unit whose result cannot be recorded ends the job (at the next step). What is printed
    // is the line as recorded, its attempt counted.
    JsonLine recorded = line;
    if (!options.recordPath.isEmpty() && recordError.isEmpty())
        record.append(line, &recordError, &recorded);
    writeOut(text, &recorded);
}

void HeadlessRunner::writeOut(const QString &text, const JsonLine *json)
{
    out->write(options.json && json ? json->toJson() + '\n' : text.toUtf8() + '\n');
}

void HeadlessRunner::progress(const QString &text)
{
    const QString name = QCoreApplication::applicationName();
    err->write((name.isEmpty() ? text : name + QStringLiteral(": ") + text).toUtf8() + '\n');
}
