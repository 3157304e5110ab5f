// One session with a controller, as the window and the command line both run it: the BLE
// worker, the controllers listed, the link, the magnetometer recording, a parameter write and
// its answer, and the stationary check. The front ends press its buttons and show what its
// signals say; neither keeps a copy of this state.
//
// Lives on the thread that owns the front end; the worker's signals reach it queued, in the
// order the worker sent them.
#pragma once

#include "btthread.h"
#include "checksession.h"
#include "imutypes.h"
#include "magrecording.h"
#include "outcome.h"
#include "recordfile.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <mutex>
#include <vector>

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
    const QByteArray &linkAddress() const { return linkedAddress; }
    const QString &linkName() const { return linkedName; }

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
    Reports watchedReports() const { return watched; }

    // What the worker says, on this object's thread.
    void takeAnnouncement(int code, const char *text, const char *addressText);
    void takeRaw(const IMU_RAW &raw);
    void takePose(const IMU_POS &pos);
    const IMU_RAW &latestRaw() const { return raw; }

    // --- The magnetometer recording ----------------------------------------------------
    // A new recording from zero; every magnetometer sample from now on adds to its coverage.
    void startCalibration();
    bool calibrating() const { return recordingOn; }
    // Folds the latest sample into the extremes. True when one moved.
    bool calibrationTick();
    const MagRecording &recording() const { return magRecording; }

    // --- A parameter write -------------------------------------------------------------
    enum class WriteStart {
        NoWorker,   // nothing to send with
        NotSent,    // the worker is not running, or the frame could not go out
        Sent,       // the frame went out; writeFinished follows
    };
    // Sends `values`. `holdCaller`: the caller waits a second once the frame went out, as
    // the controller expects between a frame and what follows.
    WriteStart write(const MAG_PARAM &values, bool holdCaller);
    // How long a write that went out waits for its answer before it ends with none (0: it
    // waits for as long as it takes).
    void setAnswerTimeout(int ms) { answerTimeoutMs = ms; }
    bool writePending() const { return answerPending; }
    const MAG_PARAM &writeValues() const { return writtenValues; }
    WriteAnswer writeAnswer() const { return answer; }

    // --- The stationary check ----------------------------------------------------------
    void startCheck() { stationary.start(); }
    CheckSession::Tick checkTick() { return stationary.tick(); }
    const CheckSession &check() const { return stationary; }

    // --- Record lines, status included, for what has just ended -------------------------
    JsonLine calibrationLine(const RecordFile &file, int status) const;
    // How a recording stands after `seconds`, for a progress line.
    JsonLine calibrationProgress(int seconds) const;
    JsonLine writeLine(const RecordFile &file) const;   // the status follows from the answer
    JsonLine checkLine(const RecordFile &file, int status) const;

signals:
    void dongleReady();
    void dongleFailed(const QString &message);
    // A controller to list, in the order first announced.
    void deviceListed(const QByteArray &address, const QString &name);
    void deviceListCleared();
    // Once per address seen: its name came, or NameWaitMs passed without one. A nameless
    // first sighting is often followed at once by one with the name (a scan response).
    void sightingReady(const QByteArray &address);
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

    MAG_PARAM writtenValues;
    WriteAnswer answer = WriteAnswer::None;
    bool answerPending = false;
    int answerTimeoutMs = 0;
    QTimer answerTimer;

    CheckSession stationary;
};
