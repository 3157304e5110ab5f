// A job without a window: lists controllers, or finds one and runs the operations the options
// ask for on it (calibrate, then save or write, then check) through the same BLE worker and
// the same arithmetic as the window; prints the results, records each operation, and ends
// with the job's exit status.
#pragma once

#include "checksession.h"
#include "imutypes.h"
#include "magrecording.h"
#include "recordfile.h"
#include "tooloptions.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <mutex>
#include <thread>
#include <vector>

class BtThread;
class HostBackend;
class QCoreApplication;
class QIODevice;

class HeadlessRunner : public QObject
{
    Q_OBJECT

public:
    // Results go to `out`, progress and messages to `err`; both stay the caller's. `backend`
    // names the host layer in the record: "adapter" or "virtual".
    HeadlessRunner(const ToolOptions &options, const QString &backend, QIODevice *out,
                   QIODevice *err, QObject *parent = nullptr);
    ~HeadlessRunner() override;

    // Starts the worker and the job on the installed host backend. finished() follows once.
    void start();

    // A sighting with no name waits this long for one before a list prints it.
    static constexpr int NameWaitMs = 500;

signals:
    void finished(int status);

private slots:
    void takeSightings();
    void saveReturned(bool sent);

private:
    enum class Phase { Idle, Adapter, Scanning, Connecting, Calibrating, Writing, Checking, Done };
    enum class Step { Calibrate, Write, Check };

    struct PendingSighting {
        QByteArray addressText;
        QString name;
        short rssi;
    };

    struct Sighting {
        QString name;
        short rssi = 0;
        bool waiting = false;   // for a name
        bool printed = false;
    };

    void announcement(int code, char *text, char *addressText);
    void sighting(const QByteArray &addressText, const QString &name, short rssi);
    void pose(IMU_POS pos);
    void raw(IMU_RAW raw);
    void deadlinePassed();
    void waitPassed();

    void printListed(const QByteArray &addressText);
    void connectTarget();
    void connected();
    void nextStep();
    void startCalibration();
    void calibrationTick();
    void endCalibration(int status);
    QString calibrationText() const;
    double roundedCoverage() const;   // percent, to a tenth
    void startWrite(const MAG_PARAM &values);
    void joinSaveThread();
    int recordWrite();   // returns the write's status
    void endWrite();
    void startCheck();
    void endCheck(int status);
    // Ends the operation under way (recorded with status 2) and the job.
    void fail(const QString &reason);
    void finish(int status, const QString &message);

    JsonLine resultLine(const char *operation) const;
    // Prints an operation's result and appends it to the record file.
    void report(const JsonLine &line, const QString &text, int status);
    void writeOut(const QString &text, const JsonLine *json);
    // One message line on `err`; `open`: the line stays open for the worker's console text.
    void progress(const QString &text, bool open = false);

    const ToolOptions options;
    const RecordFile record;
    QIODevice *const out;
    QIODevice *const err;

    Phase phase = Phase::Idle;
    BtThread *bt = nullptr;
    std::thread saveThread;   // the write call, while it lasts
    QTimer deadline;     // finding the adapter, the controller, and connecting
    QTimer waitTimer;    // the answer to a write; reports while a procedure runs
    QTimer secondTimer;  // the calibration's ticks

    std::mutex sightingMutex;
    std::vector<PendingSighting> pendingSightings;   // guarded by sightingMutex
    QHash<QByteArray, Sighting> sightings;
    QString targetName;
    bool waitingForName = false;
    bool linked = false;
    bool errLineOpen = false;
    QVector<Step> steps;
    int stepIndex = 0;
    int worstStatus = 0;
    QStringList failures;   // what gave status 1
    QString recordError;    // set when a line could not be recorded

    int16_t latestMag[3] = {0, 0, 0};
    MagRecording recording;
    int secondsDone = 0;

    MAG_PARAM writeValues;
    WriteAnswer answer = WriteAnswer::None;
    bool frameSent = true;

    CheckSession check;
};

// Runs one job in `app`'s event loop on `backend` and returns its exit status. Standard output
// keeps the results only: the worker's own console lines are sent to standard error.
int runHeadless(QCoreApplication &app, HostBackend &backend, const ToolOptions &options,
                const QString &backendName);
