// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "controllersession.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstring>

ControllerSession::ControllerSession(QObject *parent)
    : QObject(parent)
{
    answerTimer.setSingleShot(true);
    // A limit the user gave is kept to the millisecond.
    answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&answerTimer, &QTimer::timeout, this, &ControllerSession::answerTimedOut);
    silence.setSingleShot(true);
    silence.setTimerType(Qt::PreciseTimer);
    clock.start();
    connect(&silence, &QTimer::timeout, this, [this] {
        watched = Reports::None;
        emit reportsStopped();
    });
}

void ControllerSession::watchReports(Reports kind, int ms)
{
    watched = kind;
    if (kind == Reports::None)
        silence.stop();
    else
        silence.start(ms);
}

ControllerSession::~ControllerSession()
{
    delete bt;   // stops it first
}

BtThread *ControllerSession::createWorker()
{
    if (bt)
        return nullptr;
    bt = new BtThread;
    connect(bt, &BtThread::writeAnswered, this, &ControllerSession::writeAnswered);
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
                    emit sightingsWaiting(QPrivateSignal());
            }, Qt::DirectConnection);
    // A signal rather than a queued call made here: ThreadSanitizer builds order what the
    // worker did before a signal before its queued slots, but cannot see Qt's queue order a
    // call object that this thread would make after the signal.
    connect(this, &ControllerSession::sightingsWaiting, this, &ControllerSession::takeSightings,
            Qt::QueuedConnection);
    return bt;
}

void ControllerSession::feedFromWorker()
{
    if (!bt)
        return;
    connect(bt, &BtThread::BtSender, this,
            [this](int code, char *text, char *addressText) { takeAnnouncement(code, text, addressText); });
    connect(bt, &BtThread::posSender, this, &ControllerSession::takePose);
    connect(bt, &BtThread::rawSender, this, &ControllerSession::takeRaw);
}

void ControllerSession::startWorker()
{
    if (bt && !bt->isRunning())
        bt->start();
}

void ControllerSession::stopWorker()
{
    if (bt)
        bt->stop();
}

void ControllerSession::close()
{
    watchReports(Reports::None, 0);
    if (bt && linkState != Link::None)
        bt->disconnectDevice();
    stopWorker();
}

void ControllerSession::takeSightings()
{
    std::vector<PendingSighting> taken;
    {
        std::lock_guard<std::mutex> lock(sightingMutex);
        taken.swap(pendingSightings);
    }
    for (const PendingSighting &seen : taken) {
        const bool first = !sightings.contains(seen.addressText);
        Sighting &known = sightings[seen.addressText];
        if (!seen.name.isEmpty())
            known.name = seen.name;
        if (rssiKnown(seen.rssi))
            known.rssi = seen.rssi;
        emit sighted(seen.addressText);
        if (!known.name.isEmpty()) {
            makeReady(seen.addressText);
        } else if (first) {
            const QByteArray address = seen.addressText;
            QTimer::singleShot(NameWaitMs, this, [this, address] { makeReady(address); });
        }
    }
}

QString ControllerSession::sightingName(const QByteArray &address) const
{
    const QString name = sightings.value(address).name;
    return name.isEmpty() ? QString::fromLatin1(DeviceList::UnknownName) : name;
}

void ControllerSession::makeReady(const QByteArray &address)
{
    auto known = sightings.find(address);
    if (known == sightings.end() || known->ready)
        return;
    known->ready = true;
    emit sightingReady(address);
}

void ControllerSession::flushSightings()
{
    const QList<QByteArray> seen = sightings.keys();
    for (const QByteArray &address : seen)
        makeReady(address);
}

bool ControllerSession::searchAgain()
{
    addresses.clear();
    names.clear();
    emit deviceListCleared();
    if (!bt)
        return false;
    // A scan asked of an adapter that never came up would fail for good: it starts anew.
    if (adapterState == Adapter::Failed) {
        adapterState = Adapter::Unknown;
        bt->restartDongle();
        return true;
    }
    bt->restartScan();
    return false;
}

bool ControllerSession::connectListed(const QString &address)
{
    if (!bt)
        return false;
    const int count = qMin(names.size(), addresses.size());
    for (int i = 0; i < count; ++i) {
        if (QString::fromUtf8(addresses.at(i)) == address) {
            // Connecting again, to the same or another controller, drops the old link first.
            bt->disconnectDevice();
            connectTo(addresses.at(i), names.at(i));
            return true;
        }
    }
    return false;
}

void ControllerSession::connectTo(const QByteArray &address, const QString &name)
{
    if (!bt)
        return;
    // The first report of the new link has no predecessor.
    stationary.newLink();
    linkedAddress = address;
    // Recorded as the command line records a sighting's name, whichever list it came from.
    const QByteArray bytes = name.toUtf8();
    linkedName = QString::fromUtf8(bytes.constData(), int(Protocol::keptNameLength(bytes.constData(), size_t(bytes.size()))));
    linkState = Link::Connecting;
    bt->connectDevice(address.constData());
}

void ControllerSession::takeAnnouncement(int code, const char *text, const char *addressText)
{
    const QString message = text ? QString::fromUtf8(text) : QString();
    switch (code) {
    case BtThread::DongleFailed:
        adapterState = Adapter::Failed;
        emit dongleFailed(message);
        break;
    case BtThread::DongleReady:
        adapterState = Adapter::Ready;
        emit dongleReady();
        break;
    case BtThread::DeviceFound: {
        // A controller keeps its first entry; later sightings change nothing.
        const QByteArray address = addressText ? QByteArray(addressText) : QByteArray();
        if (addresses.contains(address))
            break;
        names.append(message);
        addresses.append(address);
        emit deviceListed(address, message);
        break;
    }
    case BtThread::WriteAnswer:
        // The outcome itself came just before as a value (writeAnswered); this is its text,
        // shown when the session took that outcome as the answer to its write.
        if (announceAnswer) {
            announceAnswer = false;
            emit writeAnswerAnnounced(message);
        }
        break;
    case BtThread::LinkEnded: {
        // The next link starts afresh.
        ++linkEnds;
        stationary.newLink();
        const Link before = linkState;
        linkState = Link::None;
        emit linkEnded(message.trimmed(), before);
        break;
    }
    default:
        break;
    }
}

void ControllerSession::reportCame(Reports kind)
{
    if (kind == watched)
        silence.start();
    if (linkState == Link::Up)
        return;
    linkState = Link::Up;
    linkUpMs = clock.elapsed();
    emit linkUp();
}

JsonLine ControllerSession::captureLine(const char *type) const
{
    JsonLine line;
    line.add("ms", double(clock.elapsed() - linkUpMs)).add("type", QLatin1String(type));
    return line;
}

bool ControllerSession::openCapture(const QString &path, QString *error)
{
    captureFile.setFileName(path);
    if (!captureFile.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = path + QStringLiteral(": ") + captureFile.errorString();
        return false;
    }
    return true;
}

void ControllerSession::writeCapture(const JsonLine &line)
{
    captureFile.write(line.toJson() + '\n');
}

void ControllerSession::takeRaw(const IMU_RAW &sample)
{
    ++reportsTaken;
    raw = sample;
    if (captureFile.isOpen()) {
        JsonLine line = captureLine("raw");
        line.add("first", QJsonArray{raw.first_x, raw.first_y, raw.first_z})
            .add("second", QJsonArray{raw.second_x, raw.second_y, raw.second_z})
            .add("mag", QJsonArray{raw.mag_x, raw.mag_y, raw.mag_z});
        writeCapture(line);
    }
    if (recordingOn) {
        const int16_t mag[3] = {raw.mag_x, raw.mag_y, raw.mag_z};
        magRecording.addSample(mag);
    }
    reportCame(Reports::Magnetometer);
    emit rawTaken();
}

void ControllerSession::takePose(const IMU_POS &pos)
{
    ++reportsTaken;
    ++posesTaken;
    if (captureFile.isOpen()) {
        JsonLine line = captureLine("pose");
        line.add("angles", QJsonArray{double(pos.angle1), double(pos.angle2), double(pos.angle3)});
        writeCapture(line);
    }
    stationary.takePose(pos);
    reportCame(Reports::Orientation);
    emit poseTaken();
}

void ControllerSession::startCalibration()
{
    magRecording.start();
    recordingOn = true;
    figures = MagQualityFigures();
    judged = GateVerdict();
    calibrationHealth = healthNow();
    if (captureFile.isOpen())
        writeCapture(captureLine("start"));
}

void ControllerSession::refreshQuality()
{
    figures = magRecording.figures(limits.outlierMads);
    judged = judgeCalibration(figures, limits);
}

GateVerdict ControllerSession::verdictFor(const MAG_PARAM &values) const
{
    GateVerdict verdict = judged;
    const MAG_PARAM recorded = magRecording.values();
    if (std::memcmp(&values, &recorded, sizeof values) != 0) {
        verdict.passed = false;
        verdict.reasons << QStringLiteral("the values shown are not yet the recording's: wait a second and save again");
    }
    return verdict;
}

void ControllerSession::startCheck()
{
    stationary.start();
    checkHealth = healthNow();
}

QString ControllerSession::checkNotJudged() const
{
    const Health now = healthNow();
    if (now.linkEnds != checkHealth.linkEnds)
        return QStringLiteral("the link ended during the check");
    if (now.dropped != checkHealth.dropped)
        return QStringLiteral("%1 reports were dropped during the check").arg(now.dropped - checkHealth.dropped);
    return QString();
}

ControllerSession::Health ControllerSession::healthNow() const
{
    Health now;
    now.reports = reportsTaken;
    now.poses = posesTaken;
    now.dropped = bt ? bt->droppedReports() : 0;
    now.linkEnds = linkEnds;
    now.startedMs = clock.elapsed();
    return now;
}

bool ControllerSession::calibrationTick()
{
    const int16_t latest[3] = {raw.mag_x, raw.mag_y, raw.mag_z};
    if (captureFile.isOpen())
        writeCapture(captureLine("tick"));
    return magRecording.tick(latest);
}

ControllerSession::WriteStart ControllerSession::write(const MAG_PARAM &values, bool holdCaller)
{
    if (!bt)
        return WriteStart::NoWorker;
    writeHealth = healthNow();
    writtenValues = values;
    answer = WriteAnswer::None;
    answerPending = true;
    frameSent = false;
    writeJudged = false;
    writeForced = false;
    if (answerTimeoutMs > 0)
        answerTimer.start(answerTimeoutMs);
    const bool sent = holdCaller ? bt->saveParam(values)
                                 : bt->sendParam(values) == BtThread::SendResult::Sent;
    if (!sent) {
        answerPending = false;
        answerTimer.stop();
        answer = WriteAnswer::NotSent;
        return WriteStart::NotSent;
    }
    frameSent = true;
    return WriteStart::Sent;
}

void ControllerSession::markWriteJudged(const GateVerdict &verdict, bool forced)
{
    writeJudged = true;
    writeVerdict = verdict;
    writeForced = forced;
}

void ControllerSession::writeAnswered(BtThread::WriteOutcome outcome)
{
    if (!answerPending)
        return;
    announceAnswer = true;
    switch (outcome) {
    case BtThread::WriteOutcome::Acknowledged: endWrite(WriteAnswer::Success); break;
    case BtThread::WriteOutcome::Rejected: endWrite(WriteAnswer::Fail); break;
    case BtThread::WriteOutcome::NotDelivered: endWrite(WriteAnswer::NotSent); break;
    case BtThread::WriteOutcome::Unconfirmed: endWrite(WriteAnswer::None); break;
    }
}

// No answer in time: the write ends as one that failed, and an answer that still comes is
// none any more.
void ControllerSession::answerTimedOut()
{
    if (!answerPending)
        return;
    if (bt)
        bt->abandonWrite();
    endWrite(WriteAnswer::None);
    emit writeAnswerAnnounced(QStringLiteral("Write data fail!"));
}

void ControllerSession::endWrite(WriteAnswer result)
{
    answerPending = false;
    answerTimer.stop();
    answer = result;
    emit writeFinished(result);
}

JsonLine ControllerSession::baseLine(const RecordFile &file, const char *operation) const
{
    return file.line(QString::fromLatin1(linkedAddress), linkedName, QLatin1String(operation));
}

void ControllerSession::addHealth(JsonLine &line, const Health &since) const
{
    const Health now = healthNow();
    const short rssi = sighting(linkedAddress).rssi;
    line.add("reports", double(now.reports - since.reports))
        .add("dropped", double(now.dropped - since.dropped))
        .add("rssi", rssiKnown(rssi) ? QJsonValue(rssi) : QJsonValue());
}

void ControllerSession::addEnd(JsonLine &line, const LineEnd &end)
{
    line.add("status", end.status);
    if (!end.reason.isEmpty())
        line.add("reason", end.reason);
    if (end.aborted)
        line.add("aborted", true);
}

void ControllerSession::addQuality(JsonLine &line, const GateVerdict &verdict) const
{
    line.add("quality", figuresJson(figures))
        .add("gate", QJsonObject{{"passed", verdict.passed},
                                 {"reasons", QJsonArray::fromStringList(verdict.reasons)},
                                 {"limits", limitsJson(limits)}});
}

JsonLine ControllerSession::calibrationLine(const RecordFile &file, const LineEnd &end) const
{
    JsonLine line = baseLine(file, "calibrate");
    addCalibrationFields(line, magRecording);
    addQuality(line, judged);
    addHealth(line, calibrationHealth);
    addEnd(line, end);
    return line;
}

JsonLine ControllerSession::calibrationProgress(int seconds) const
{
    JsonLine line;
    line.add("operation", QStringLiteral("calibrate")).add("seconds", seconds);
    addCalibrationFields(line, magRecording);
    return line;
}

JsonLine ControllerSession::writeLine(const RecordFile &file, const LineEnd &end) const
{
    JsonLine line = baseLine(file, "write");
    addWriteFields(line, writtenValues, answer);
    line.add("sent", frameSent);
    if (writeJudged) {
        addQuality(line, writeVerdict);
        line.add("forced", writeForced);
    }
    addHealth(line, writeHealth);
    LineEnd worst = end;
    worst.status = std::max(end.status, writeAnswerStatus(answer));
    addEnd(line, worst);
    return line;
}

JsonLine ControllerSession::checkLine(const RecordFile &file, const LineEnd &end) const
{
    JsonLine line = baseLine(file, "check");
    addCheckFields(line, stationary, end.status == StatusSuccess);
    addHealth(line, checkHealth);
    const Health now = healthNow();
    const double seconds = (now.startedMs - checkHealth.startedMs) / 1000.0;
    line.add("rate", seconds > 0 ? std::round((now.poses - checkHealth.poses) / seconds * 10.0) / 10.0 : 0.0);
    addEnd(line, end);
    return line;
}
