// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// One session with a controller, as the window and the command line both run it: the BLE
// worker, the controllers listed, the link, the magnetometer recording, a parameter write and
// its answer, and the stationary check. The front ends press its buttons and show what its
// signals say; neither keeps a copy of this state.
//
// Lives on the thread that owns the front end; the worker's signals reach it queued, in the
// order the worker sent them.
#pragma once

#include "btthread.h"
#include "calibrationgate.h"
#include "checksession.h"
#include "imutypes.h"
#include "magrecording.h"
#include "outcome.h"
#include "recordfile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <mutex>
#include <vector>

// How an operation ended, for its record line: its status, why a status 2 was given, and
// whether the job was stopped while the operation ran.
struct LineEnd {
    int status = StatusSuccess;
    QString reason;
    bool aborted = false;
};

class ControllerSession : public QObject
{
    Q_OBJECT

public:
    explicit ControllerSession(QObject *parent = nullptr);
    ~ControllerSession() override;   // stops and deletes the worker

    // --- The worker --------------------------------------------------------------------
    BtThread *worker() const { return bt; }
    // Makes the worker, not yet started, so that a front end can connect to its signals
    // first. Once only: null when it exists already.
    BtThread *createWorker();
    // Connects the worker's announcements and reports straight to take*(), for a front end
    // that has no slots of its own for them.
    void feedFromWorker();
    void startWorker();
    // Ends the worker's loop and waits for it. Safe without one. The worker itself goes with
    // the session: texts it announced may still be on their way.
    void stopWorker();
    // The end of a job: the link that was asked for is dropped, so the controller is free for
    // the next one, and the worker stops.
    void close();

    // --- Controllers and the link ------------------------------------------------------
    enum class Link {
        None,         // no link, or the last one ended
        Connecting,   // a connection was asked for and no report has come yet
        Up,           // reports are coming
    };
    Q_ENUM(Link)

    // Whether the adapter is usable, as the worker last said: Unknown until it answers,
    // Failed from "Dongle failed…" until it is started again.
    enum class Adapter { Unknown, Ready, Failed };
    Q_ENUM(Adapter)
    Adapter adapter() const { return adapterState; }

    // A later search: the controllers listed are forgotten (deviceListCleared), the link
    // drops and the worker scans again. An adapter that failed is started again first, as one
    // just plugged in: then true, and dongleReady or dongleFailed follows.
    bool searchAgain();
    const QList<QString> &deviceNames() const { return names; }
    const QList<QByteArray> &deviceAddresses() const { return addresses; }
    // Drops the link and connects to the listed controller whose address text is `address`.
    // False, and nothing done, when no listed controller has it.
    bool connectListed(const QString &address);
    // Connects to `address`, listed or not; `name` goes into the record.
    void connectTo(const QByteArray &address, const QString &name);
    Link link() const { return linkState; }

    // The latest of what each address advertised: its name (empty until one came) and signal
    // strength (0 or 127: unknown).
    struct Sighting {
        QString name;
        short rssi = 0;
        bool ready = false;
    };
    Sighting sighting(const QByteArray &address) const { return sightings.value(address); }
    static bool rssiKnown(short rssi) { return rssi != 0 && rssi != 127; }
    // A sighting with no name waits this long for one before it is ready (sightingReady).
    static constexpr int NameWaitMs = 500;
    // Makes every sighting still waiting for its name ready now.
    void flushSightings();

    // While a procedure runs, its reports must keep coming: once none of `kind` has come for
    // `ms`, reportsStopped follows (once). None stops watching.
    enum class Reports { None, Magnetometer, Orientation };
    void watchReports(Reports kind, int ms);

    // What the worker says, on this object's thread.
    void takeAnnouncement(int code, const char *text, const char *addressText);
    void takeRaw(const IMU_RAW &raw);
    void takePose(const IMU_POS &pos);

    // --- The magnetometer recording ----------------------------------------------------
    // A new recording from zero; every magnetometer sample from now on adds to its coverage.
    void startCalibration();
    bool calibrating() const { return recordingOn; }
    // Folds the latest sample into the extremes. True when one moved.
    bool calibrationTick();
    const MagRecording &recording() const { return magRecording; }

    // --- The recording's quality -------------------------------------------------------
    void setGateLimits(const GateLimits &gate) { limits = gate; }
    const GateLimits &gateLimits() const { return limits; }
    // Works the figures out anew and judges them: at most once a second, and before a save.
    void refreshQuality();
    const MagQualityFigures &quality() const { return figures; }
    const GateVerdict &verdict() const { return judged; }
    // The verdict on `values` as they would be written: the recording's own, with one reason
    // more when they are not (yet) the recording's extremes.
    GateVerdict verdictFor(const MAG_PARAM &values) const;
    // Whether a parameter frame could go out now: the worker runs and a controller is
    // connected whose parameter characteristic is known.
    bool frameCanGoOut() const { return bt && bt->canWrite(); }

    // --- A capture of the job ----------------------------------------------------------
    // Every report from now on, and each calibration start and tick, appended to the file at
    // `path` as a JSON line: the time since the link came up, its type, its decoded values.
    // refit() replays such a file. False, and why in `error`, when it cannot be opened.
    bool openCapture(const QString &path, QString *error);
    // The name `address` advertised, or the one a controller without a name goes by.
    QString sightingName(const QByteArray &address) const;

    // --- A parameter write -------------------------------------------------------------
    enum class WriteStart {
        NoWorker,   // nothing to send with
        NotSent,    // the worker is not running, or the frame could not go out
        Sent,       // the frame went out; writeFinished follows
    };
    // Sends `values`. `holdCaller`: the caller waits a second once the frame went out, as
    // the controller expects between a frame and what follows.
    WriteStart write(const MAG_PARAM &values, bool holdCaller);
    // The write under way saves the recording: its line holds the figures and `verdict`, and
    // whether the user wrote it although it failed (`forced`). Call right after write().
    void markWriteJudged(const GateVerdict &verdict, bool forced);
    // How long a write that went out waits for its answer before it ends with none (0: it
    // waits for as long as it takes).
    void setAnswerTimeout(int ms) { answerTimeoutMs = ms; }
    const MAG_PARAM &writeValues() const { return writtenValues; }
    WriteAnswer writeAnswer() const { return answer; }

    // --- The stationary check ----------------------------------------------------------
    void startCheck();
    void setCheckLimits(const StationaryCheck::Limits &limits) { stationary.setLimits(limits); }
    CheckSession::Tick checkTick() { return stationary.tick(); }
    void abandonCheck() { stationary.abandon(); }
    const CheckSession &check() const { return stationary; }
    // Why the check that ended cannot be judged (reports were dropped, or the link ended while
    // it ran); empty when its verdict stands.
    QString checkNotJudged() const;

    // --- Record lines, status included, for what has just ended -------------------------
    // Each also holds the link's health over the operation: reports taken and dropped, and
    // the last signal strength seen.
    JsonLine calibrationLine(const RecordFile &file, const LineEnd &end) const;
    // How a recording stands after `seconds`, for a progress line.
    JsonLine calibrationProgress(int seconds) const;
    // The status follows from the answer unless `end` gives a worse one.
    JsonLine writeLine(const RecordFile &file, const LineEnd &end = LineEnd()) const;
    JsonLine checkLine(const RecordFile &file, const LineEnd &end) const;
    // The figures, the limits and the verdict, as a calibration's line and a save's hold them.
    void addQuality(JsonLine &line, const GateVerdict &verdict) const;

signals:
    void dongleReady();
    void dongleFailed(const QString &message);
    // A controller to list, in the order first announced.
    void deviceListed(const QByteArray &address, const QString &name);
    void deviceListCleared();
    // Once per address seen: its name came, or NameWaitMs passed without one. A nameless
    // first sighting is often followed at once by one with the name (a scan response).
    void sightingReady(const QByteArray &address);
    // Every sighting of `address`, once its name and strength are taken.
    void sighted(const QByteArray &address);
    // The first report of a link has come.
    void linkUp();
    // A link, or a connection under way (`before` Connecting), ended.
    void linkEnded(const QString &why, ControllerSession::Link before);
    void poseTaken();
    void rawTaken();
    void reportsStopped();
    // The worker's text for the answer to a write, for a front end that shows it.
    void writeAnswerAnnounced(const QString &text);
    // A write that went out has its answer, or none came in time.
    void writeFinished(WriteAnswer answer);
    // Sightings wait for takeSightings; emitted on the worker's thread, for the session itself.
    void sightingsWaiting(QPrivateSignal);

private:
    friend struct MainWindowProbe;   // lets the window's tests reach the state it shows

    void takeSightings();
    void makeReady(const QByteArray &address);
    void writeAnswered(BtThread::WriteOutcome outcome);
    void answerTimedOut();
    void endWrite(WriteAnswer result);
    void reportCame(Reports kind);

    // The link's counters when an operation began, to tell what happened during it.
    struct Health {
        quint64 reports = 0;
        quint64 poses = 0;
        quint64 dropped = 0;
        int linkEnds = 0;
        qint64 startedMs = 0;
    };
    Health healthNow() const;
    JsonLine baseLine(const RecordFile &file, const char *operation) const;
    void addHealth(JsonLine &line, const Health &since) const;
    static void addEnd(JsonLine &line, const LineEnd &end);

    BtThread *bt = nullptr;

    Adapter adapterState = Adapter::Unknown;
    QList<QString> names;
    QList<QByteArray> addresses;
    Link linkState = Link::None;
    QByteArray linkedAddress;
    QString linkedName;
    QHash<QByteArray, Sighting> sightings;
    Reports watched = Reports::None;
    QTimer silence;

    struct PendingSighting {
        QByteArray addressText;
        QString name;
        short rssi;
    };
    std::mutex sightingMutex;
    std::vector<PendingSighting> pendingSightings;   // guarded by sightingMutex

    IMU_RAW raw;
    MagRecording magRecording;
    bool recordingOn = false;
    GateLimits limits;
    MagQualityFigures figures;
    GateVerdict judged;

    QFile captureFile;   // open while the job is captured
    qint64 linkUpMs = 0;
    JsonLine captureLine(const char *type) const;
    void writeCapture(const JsonLine &line);

    MAG_PARAM writtenValues;
    WriteAnswer answer = WriteAnswer::None;
    bool answerPending = false;
    bool frameSent = false;
    bool writeJudged = false;
    bool writeForced = false;
    GateVerdict writeVerdict;
    // The next WriteAnswer announcement is the text of an answer this session took.
    bool announceAnswer = false;
    int answerTimeoutMs = 0;
    QTimer answerTimer;

    CheckSession stationary;

    QElapsedTimer clock;
    quint64 reportsTaken = 0;
    quint64 posesTaken = 0;
    int linkEnds = 0;
    Health calibrationHealth, writeHealth, checkHealth;
};
