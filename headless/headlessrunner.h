// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// A job without a window: lists controllers, or finds one and runs the operations the options
// ask for on it (calibrate, then save or write, then check) through the same session as the
// window; prints the results, records each operation, and ends with the job's exit status.
#pragma once

#include "controllersession.h"
#include "joboutput.h"
#include "recordfile.h"
#include "tooloptions.h"

#include <QObject>
#include <QTimer>
#include <QVector>

class QIODevice;

class HeadlessRunner : public QObject
{
    Q_OBJECT

public:
    // Results go to `out`, progress and messages to `err`; both stay the caller's. `backend`
    // names the host layer in the record: "adapter" or "virtual".
    HeadlessRunner(const ToolOptions &options, const QString &backend, QIODevice *out,
                   QIODevice *err, QObject *parent = nullptr);

    // Starts the worker and the job on the installed host backend. finished() follows once.
    void start();
    // Stops the job at once, as signal `signal` (`name`) asks: the operation under way is
    // recorded as aborted, the link dropped, and the job ends with 128 + `signal`.
    void stop(int signal, const QString &name) { fail(QStringLiteral("stopped by %1").arg(name), 128 + signal, true); }

signals:
    void finished(int status);

private:
    enum class Phase { Idle, Adapter, Scanning, Connecting, Calibrating, Writing, Checking, Done };
    enum class Step { Calibrate, Write, Check };

    void sightingReady(const QByteArray &address);
    void connectTarget();
    void linkEnded(const QString &why);
    void deadlinePassed();

    void nextStep();
    void startCalibration();
    void calibrationTick();
    void endCalibration(int status, bool aborted = false);
    void startWrite(const MAG_PARAM &values);
    // Records the write's answer; `noAnswer` says why there is none.
    void endWrite(const QString &noAnswer, bool aborted = false);
    void startCheck();
    void checkSample();
    void endCheck(int status, const QString &reason = QString(), bool aborted = false);
    // Ends the operation under way (recorded with status 2) and the job.
    void fail(const QString &reason, int exitStatus = StatusError, bool aborted = false);
    void finish(int status, const QString &message);

    // Prints an operation's result and appends its record line.
    void report(const JsonLine &line, const QString &text, int status);
    QString address() const { return QString::fromLatin1(options.address); }

    const ToolOptions options;
    const RecordFile record;
    const JobOutput output;
    ControllerSession session;

    Phase phase = Phase::Idle;
    QTimer deadline;     // finding the adapter, the controller, and connecting
    QTimer secondTimer;  // the calibration's ticks

    int listed = 0;   // controllers printed by a list
    QVector<Step> steps;
    int stepIndex = 0;
    int worstStatus = 0;
    QStringList failures;   // what gave status 1
    QString recordError;    // set when a line could not be recorded
    int secondsDone = 0;
};
