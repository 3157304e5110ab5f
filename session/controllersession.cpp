#include "controllersession.h"

ControllerSession::ControllerSession(QObject *parent)
    : QObject(parent)
{
    answerTimer.setSingleShot(true);
    // A limit the user gave is kept to the millisecond.
    answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&answerTimer, &QTimer::timeout, this, &ControllerSession::answerTimedOut);
    silence.setSingleShot(true);
    silence.setTimerType(Qt::PreciseTimer);
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
        if (!known.name.isEmpty()) {
            makeReady(seen.addressText);
        } else if (first) {
            const QByteArray address = seen.addressText;
            QTimer::singleShot(NameWaitMs, this, [this, address] { makeReady(address); });
        }
    }
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
    linkedName = name;
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
        // The outcome itself comes as a value (writeAnswered); this is its text.
        emit writeAnswerAnnounced(message);
        break;
    case BtThread::LinkEnded: {
        // The next link starts afresh.
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
    emit linkUp();
}

void ControllerSession::takeRaw(const IMU_RAW &sample)
{
    raw = sample;
    if (recordingOn) {
        const int16_t mag[3] = {raw.mag_x, raw.mag_y, raw.mag_z};
        magRecording.addSample(mag);
    }
    reportCame(Reports::Magnetometer);
    emit rawTaken();
}

void ControllerSession::takePose(const IMU_POS &pos)
{
    stationary.takePose(pos);
    reportCame(Reports::Orientation);
    emit poseTaken();
}

void ControllerSession::startCalibration()
{
    magRecording.start();
    recordingOn = true;
}

bool ControllerSession::calibrationTick()
{
    const int16_t latest[3] = {raw.mag_x, raw.mag_y, raw.mag_z};
    return magRecording.tick(latest);
}

ControllerSession::WriteStart ControllerSession::write(const MAG_PARAM &values, bool holdCaller)
{
    if (!bt)
        return WriteStart::NoWorker;
    writtenValues = values;
    answer = WriteAnswer::None;
    answerPending = true;
    if (answerTimeoutMs > 0)
        answerTimer.start(answerTimeoutMs);
    const bool sent = holdCaller ? bt->saveParam(values)
                                 : bt->sendParam(values) == BtThread::SendResult::Sent;
    if (!sent) {
        answerPending = false;
        answerTimer.stop();
        return WriteStart::NotSent;
    }
    return WriteStart::Sent;
}

void ControllerSession::writeAnswered(BtThread::WriteOutcome outcome)
{
    if (answerPending)
        endWrite(outcome == BtThread::WriteOutcome::Acknowledged ? WriteAnswer::Success : WriteAnswer::Fail);
}

void ControllerSession::answerTimedOut()
{
    if (answerPending)
        endWrite(WriteAnswer::None);
}

void ControllerSession::endWrite(WriteAnswer result)
{
    answerPending = false;
    answerTimer.stop();
    answer = result;
    emit writeFinished(result);
}

JsonLine ControllerSession::calibrationLine(const RecordFile &file, int status) const
{
    JsonLine line = file.line(QString::fromLatin1(linkedAddress), linkedName, QStringLiteral("calibrate"));
    addCalibrationFields(line, magRecording);
    line.add("status", status);
    return line;
}

JsonLine ControllerSession::calibrationProgress(int seconds) const
{
    JsonLine line;
    line.add("operation", QStringLiteral("calibrate")).add("seconds", seconds);
    addCalibrationFields(line, magRecording);
    return line;
}

JsonLine ControllerSession::writeLine(const RecordFile &file) const
{
    JsonLine line = file.line(QString::fromLatin1(linkedAddress), linkedName, QStringLiteral("write"));
    addWriteFields(line, writtenValues, answer);
    line.add("status", writeAnswerStatus(answer));
    return line;
}

JsonLine ControllerSession::checkLine(const RecordFile &file, int status) const
{
    JsonLine line = file.line(QString::fromLatin1(linkedAddress), linkedName, QStringLiteral("check"));
    addCheckFields(line, stationary, status == StatusSuccess);
    line.add("status", status);
    return line;
}
