// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "headlessrunner.h"

#include "resulttext.h"
#include "stationarycheck.h"

HeadlessRunner::HeadlessRunner(const ToolOptions &options_, const QString &backend,
                               QIODevice *out, QIODevice *err, QObject *parent)
    : QObject(parent),
      options(options_),
      record(options_.recordPath, backend, options_.identity, options_.limits),
      output(out, err, options_.json)
{
    // Limits the user gave are kept to the millisecond, never cut short.
    deadline.setTimerType(Qt::PreciseTimer);
    secondTimer.setTimerType(Qt::PreciseTimer);
    deadline.setSingleShot(true);
    secondTimer.setInterval(1000);
    deadline.callOnTimeout(this, &HeadlessRunner::deadlinePassed);
    secondTimer.callOnTimeout(this, &HeadlessRunner::calibrationTick);

    session.setAnswerTimeout(options.answerTimeoutMs);
    session.setGateLimits(options.limits.values.gate);
    session.setCheckLimits(options.limits.values.check);
    connect(&session, &ControllerSession::dongleFailed, this,
            [this](const QString &message) { fail(QStringLiteral("no adapter: %1").arg(message.trimmed())); });
    connect(&session, &ControllerSession::dongleReady, this, [this] {
        if (phase != Phase::Adapter)
            return;
        phase = Phase::Scanning;
        output.progress(options.list ? QStringLiteral("listing controllers for %1").arg(secondsText(options.connectTimeoutMs))
                              : QStringLiteral("looking for %1").arg(address()));
    });
    connect(&session, &ControllerSession::sightingReady, this, &HeadlessRunner::sightingReady);
    connect(&session, &ControllerSession::linkEnded, this, &HeadlessRunner::linkEnded);
    connect(&session, &ControllerSession::linkUp, this, [this] {
        if (phase != Phase::Connecting)
            return;
        deadline.stop();
        output.progress(QStringLiteral("connected to %1").arg(address()));
        nextStep();
    });
    connect(&session, &ControllerSession::poseTaken, this, [this] {
        if (phase == Phase::Checking)
            checkSample();
    });
    // Watched only while a calibration or a check runs.
    connect(&session, &ControllerSession::reportsStopped, this, [this] {
        fail(QStringLiteral("no %1 reports from %2 for %3")
                     .arg(phase == Phase::Calibrating ? QStringLiteral("magnetometer") : QStringLiteral("orientation"),
                          address(), secondsText(options.answerTimeoutMs)));
    });
    connect(&session, &ControllerSession::writeFinished, this, [this](WriteAnswer answer) {
        if (phase == Phase::Writing)
            endWrite(answer == WriteAnswer::NotSent
                         ? QStringLiteral("the frame did not reach %1").arg(address())
                         : QStringLiteral("no answer from %1 within %2").arg(address(), secondsText(options.answerTimeoutMs)));
    });
}

void HeadlessRunner::start()
{
    if (phase != Phase::Idle)
        return;
    QString error;
    if (!options.recordPath.isEmpty() && !record.check(&error))
        return finish(StatusError, QStringLiteral("ERROR: cannot write the record file %1").arg(error));
    if (!options.capturePath.isEmpty() && !session.openCapture(options.capturePath, &error))
        return finish(StatusError, QStringLiteral("ERROR: cannot write the capture file %1").arg(error));
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
        const QString name = session.sightingName(seen);
        const short rssi = session.sighting(seen).rssi;
        output.result(sightingText(seen, name, rssi), sightingLine(seen, name, rssi));
    } else if (seen == options.address) {
        // The controller's name, if it has one, goes into the record.
        connectTarget();
    }
}

void HeadlessRunner::connectTarget()
{
    if (phase != Phase::Scanning)
        return;
    const QString name = session.sightingName(options.address);
    phase = Phase::Connecting;
    output.progress(QStringLiteral("connecting to %1 (%2)").arg(address(), printableText(name)));
    session.connectTo(options.address, name);
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
    const Step step = steps[stepIndex++];
    if (step == Step::Calibrate)
        startCalibration();
    else if (step == Step::Check)
        startCheck();
    else if (options.save && !session.verdict().passed && !options.force)
        finish(StatusFailed, QStringLiteral("FAILED on %1: the calibration failed its gate, nothing was written")
                                     .arg(address()));
    else
        startWrite(options.save ? session.recording().values() : options.values);
}

// The window's way: a tick at once and then one a second, each folding the latest sample into
// the extremes.
void HeadlessRunner::startCalibration()
{
    phase = Phase::Calibrating;
    session.startCalibration();
    secondsDone = 0;
    output.progress(QStringLiteral("calibrating for %1 s: turn the unit slowly through every direction")
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
    output.progress(QStringLiteral("calibrate %1/%2 s: %3").arg(secondsDone).arg(options.calibrateSeconds)
                            .arg(calibrationText(session.recording())), session.calibrationProgress(secondsDone));
    if (secondsDone >= options.calibrateSeconds)
        endCalibration(StatusSuccess);
}

// A whole recording is judged: it succeeds when it passes the gate, and each rule it fails is
// told on standard error.
void HeadlessRunner::endCalibration(int status, bool aborted)
{
    secondTimer.stop();
    session.watchReports(ControllerSession::Reports::None, 0);
    session.refreshQuality();
    const GateVerdict &verdict = session.verdict();
    if (status == StatusSuccess && !verdict.passed) {
        status = StatusFailed;
        failures << QStringLiteral("the calibration failed its gate");
        for (const QString &reason : verdict.reasons)
            output.progress(QStringLiteral("gate: ") + reason);
    }
    report(session.calibrationLine(record, {status, QString(), aborted}),
           QStringLiteral("calibrate: %1").arg(qualityText(session.recording(), session.quality(), verdict)), status);
    if (status != StatusError)
        nextStep();
}

void HeadlessRunner::startWrite(const MAG_PARAM &values)
{
    phase = Phase::Writing;
    output.progress(QStringLiteral("writing %1 to %2").arg(valueText(values), address()));
    // The answer ends the write (writeFinished), or its absence once the answer time is up.
    const bool sent = session.write(values, false) == ControllerSession::WriteStart::Sent;
    if (options.save)
        session.markWriteJudged(session.verdict(), !session.verdict().passed);
    if (!sent)
        endWrite(QStringLiteral("the frame could not be sent to %1").arg(address()));
}

void HeadlessRunner::endWrite(const QString &noAnswer, bool aborted)
{
    const WriteAnswer answer = session.writeAnswer();
    const int status = writeAnswerStatus(answer);
    report(session.writeLine(record, {status, status == StatusError ? noAnswer : QString(), aborted}),
           QStringLiteral("write %1: %2").arg(valueText(session.writeValues()), writeAnswerText(answer)), status);
    if (status == StatusFailed)
        failures << QStringLiteral("the write failed");
    // A job that is being stopped ends where it is stopped.
    if (status != StatusError)
        nextStep();
    else if (!aborted)
        finish(StatusError, QStringLiteral("ERROR: ") + noAnswer);
}

void HeadlessRunner::startCheck()
{
    phase = Phase::Checking;
    session.startCheck();
    output.progress(QStringLiteral("checking: keep the unit still (%1 samples)").arg(StationaryCheck::LastSample + 1));
    session.watchReports(ControllerSession::Reports::Orientation, options.answerTimeoutMs);
    // As the window's ticker would at once: the latest sample, if new, is the first one.
    checkSample();
}

void HeadlessRunner::checkSample()
{
    if (session.checkTick() != CheckSession::Tick::Ended)
        return;
    // Reports dropped, or a link that ended, while the check ran leave it without a verdict.
    const QString notJudged = session.checkNotJudged();
    if (!notJudged.isEmpty())
        fail(QStringLiteral("the check is not judged: %1").arg(notJudged));
    else
        endCheck(session.check().passed() ? StatusSuccess : StatusFailed);
}

void HeadlessRunner::endCheck(int status, const QString &reason, bool aborted)
{
    session.watchReports(ControllerSession::Reports::None, 0);
    report(session.checkLine(record, {status, reason, aborted}),
           QStringLiteral("check: ") + checkText(session.check(), status == StatusSuccess), status);
    if (status == StatusFailed)
        failures << QStringLiteral("the check failed");
    if (status != StatusError)
        nextStep();
}

void HeadlessRunner::fail(const QString &reason, int exitStatus, bool aborted)
{
    if (phase == Phase::Calibrating)
        endCalibration(StatusError, aborted);
    else if (phase == Phase::Writing)
        endWrite(reason, aborted);
    else if (phase == Phase::Checking)
        endCheck(StatusError, reason, aborted);
    finish(exitStatus, QStringLiteral("ERROR: ") + reason);
}

void HeadlessRunner::finish(int status, const QString &message)
{
    if (phase == Phase::Done)
        return;
    phase = Phase::Done;
    deadline.stop();
    secondTimer.stop();
    session.close();
    output.progress(message);
    emit finished(status);
}

void HeadlessRunner::report(const JsonLine &line, const QString &text, int status)
{
    worstStatus = qMax(worstStatus, status);
    // A unit whose result cannot be recorded ends the job (at the next step). What is printed
    // is the line as recorded, its attempt counted.
    JsonLine recorded = line;
    if (!options.recordPath.isEmpty() && recordError.isEmpty())
        record.append(line, &recordError, &recorded);
    output.result(text, recorded);
}
