// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The tool's own executable against the stand-in BlueZ, clicked through search, connect and
// save on the test's X display (one of its own), and run as jobs; read back from the stand-in,
// the record and the window's pixels. Each step waits for what the last one caused, however
// long the tool takes.
#include "protocol.h"
#include "standin.h"
#include "waits.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <memory>
#include <vector>

namespace {

// Window coordinates of the controls (the form is fixed).
const QPoint SearchButton(288, 527);
const QPoint ConnectButton(488, 527);
const QPoint MagnetPageButton(155, 98);
const QPoint SaveButton(488, 527);
const QRect StatusLabel(55, 470, 200, 25);
const QRect DeviceList(53, 436, 200, 25);

// Sanitizer builds of the tool run several times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int Slowdown = 5;
#else
constexpr int Slowdown = 1;
#endif

bool xdotool(const QStringList &args, QString *output = nullptr)
{
    QProcess p;
    p.start("xdotool", args);
    if (!p.waitForFinished(WaitDeadline) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return true;
}

// Whether anything is drawn there: a window not yet painted shows one colour.
bool drawn(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0))
                return true;
    return false;
}

} // namespace

class TestToolOnBluez : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void searchConnectStreamAndSave();
    void writeWithoutWindow_data();
    void writeWithoutWindow();
    void stoppedJob();
    void firstSearchWithoutAdapter_data();
    void firstSearchWithoutAdapter();
    void fourUnitsAtOnce();

private:
    // Starts the tool's window on the bus at `busAddress` and finds it.
    bool launch(const QByteArray &busAddress);
    // The tool's windows that show, its message boxes among them.
    QStringList shownWindows();
    bool click(const QPoint &at)
    {
        return xdotool({"mousemove", "--window", QString::number(window), QString::number(at.x()),
                        QString::number(at.y()), "click", "1"});
    }
    QImage grab(const QRect &r)
    {
        return QGuiApplication::primaryScreen()->grabWindow(window, r.x(), r.y(), r.width(), r.height()).toImage();
    }

    BluezStandIn standIn;
    QProcess tool;
    WId window = 0;
};

void TestToolOnBluez::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X display (ctest gives it one of its own)");
    QString error;
    QVERIFY2(standIn.start(&error), qPrintable(error));
    QVERIFY(standIn.reset());
}

void TestToolOnBluez::cleanupTestCase()
{
    tool.kill();
    tool.waitForFinished();
    standIn.stop();
}

bool TestToolOnBluez::launch(const QByteArray &busAddress)
{
    tool.kill();
    tool.waitForFinished();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QString::fromUtf8(busAddress));
    tool.setProcessEnvironment(environment);
    // The tool reads its pictures from ./image.
    tool.setWorkingDirectory(QStringLiteral(SOURCE_ROOT));
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral(TOOL_PATH), QStringList());
    if (!tool.waitForStarted())
        return false;
    // Searched for until it is there: a search also fails when a window goes while it looks.
    QString id;
    if (!QTest::qWaitFor([&] {
            return xdotool({"search", "--onlyvisible", "--pid", QString::number(tool.processId()), "--name",
                            "^IMU Calibration Tool$"}, &id) && !id.isEmpty();
        }, WaitDeadline))
        return false;
    window = WId(id.split('\n').first().toULongLong());
    return QTest::qWaitFor([&] { return drawn(grab(StatusLabel)) && drawn(grab(DeviceList)); }, WaitDeadline);
}

QStringList TestToolOnBluez::shownWindows()
{
    QString ids;
    xdotool({"search", "--onlyvisible", "--pid", QString::number(tool.processId())}, &ids);
    return ids.split('\n', Qt::SkipEmptyParts);
}

void TestToolOnBluez::searchConnectStreamAndSave()
{
    QVERIFY2(launch(standIn.busAddress()), "the tool's window did not show");
    const QImage unconnected = grab(StatusLabel), unlisted = grab(DeviceList);

    // Connect acts on the first listed controller, so it is pressed once the list shows one.
    QVERIFY(click(SearchButton));
    QTRY_VERIFY_WITH_TIMEOUT(standIn.log().contains("StartDiscovery"), WaitDeadline);
    QTRY_VERIFY_WITH_TIMEOUT(grab(DeviceList) != unlisted, WaitDeadline);
    QVERIFY(click(ConnectButton));
    QTRY_VERIFY_WITH_TIMEOUT(standIn.log().contains("Connect"), WaitDeadline);

    QTRY_VERIFY_WITH_TIMEOUT(standIn.log().contains("StartNotify"), WaitDeadline);
    QTRY_VERIFY_WITH_TIMEOUT(standIn.sent().size() > 100, WaitDeadline);
    QTRY_VERIFY_WITH_TIMEOUT(grab(StatusLabel) != unconnected, WaitDeadline);

    // Nothing was recorded, so Save asks first; Alt+S saves anyway once the box is up.
    QVERIFY(click(MagnetPageButton));
    QVERIFY(click(SaveButton));
    QTRY_VERIFY_WITH_TIMEOUT(xdotool({"key", "alt+s"}) && standIn.writes().size() == 1, WaitDeadline);
    const QByteArray frame = standIn.writes().first();
    QVERIFY2(frame.size() == 20 && frame.startsWith(QByteArray::fromHex("5A0401"))
                     && frame.endsWith('\xA5'), frame.toHex().constData());
    QVERIFY(tool.state() == QProcess::Running);
}

// The same executable as a job: the frame on the wire is exactly the one for these values.
// The answer is the unit's only when it gave one: a write the stack refuses was not sent, and
// one the stack never confirms waits for the answer time the user gave, not the stack's own.
void TestToolOnBluez::writeWithoutWindow_data()
{
    QTest::addColumn<QString>("mode");   // how the stand-in ends the write
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("output");
    QTest::newRow("answered") << "ok" << "5" << 0 << QByteArray("write 120,35,200,-75,-200,-3: success\n");
    QTest::newRow("refused by the stack") << "Failed" << "5" << 2 << QByteArray("write 120,35,200,-75,-200,-3: not sent\n");
    QTest::newRow("never confirmed, a longer answer time") << "hang" << "7" << 2
                                                            << QByteArray("write 120,35,200,-75,-200,-3: none\n");
}

void TestToolOnBluez::writeWithoutWindow()
{
    QFETCH(QString, mode);
    QFETCH(QString, timeout);
    QFETCH(int, status);
    QFETCH(QByteArray, output);
    tool.kill();
    tool.waitForFinished();
    QVERIFY(standIn.reset() && standIn.setWriteMode(mode));
    QProcess job;
    QElapsedTimer took;
    took.start();
    job.start(QStringLiteral(TOOL_PATH), {"--address", "00:02:5b:0a:1c:01", "--write", "120,35,200,-75,-200,-3",
                                          "--timeout", timeout});
    QVERIFY(job.waitForFinished(WaitDeadline));
    QVERIFY2(job.exitStatus() == QProcess::NormalExit && job.exitCode() == status, job.readAllStandardError().constData());
    QCOMPARE(job.readAllStandardOutput(), output);
    if (mode == "ok")
        QCOMPARE(standIn.writes(), QByteArrayList{QByteArray::fromHex("5A040100 78FFB500 23FF3800 C8FFFD00 00004FA5")});
    if (mode == "hang")
        QVERIFY2(took.elapsed() >= timeout.toInt() * 1000, qPrintable(QString::number(took.elapsed())));
}

// A job stopped by a signal in the middle of its check drops the link on its way out, so the
// unit is free for the next job, and ends with 128 + the signal.
void TestToolOnBluez::stoppedJob()
{
    tool.kill();
    tool.waitForFinished();
    QVERIFY(standIn.reset());
    QProcess job;
    job.start(QStringLiteral(TOOL_PATH), {"--address", "00:02:5b:0a:1c:01", "--check"});
    QByteArray err;
    QVERIFY(QTest::qWaitFor([&] { return (err += job.readAllStandardError()).contains("checking"); }, WaitDeadline));
    QVERIFY(!standIn.log().contains("Disconnect"));
    ::kill(pid_t(job.processId()), SIGTERM);
    QVERIFY(job.waitForFinished(WaitDeadline));
    QCOMPARE(job.exitCode(), 143);
    QVERIFY(standIn.log().contains("Disconnect"));
}

// Whatever is missing at the first Search (the system bus itself, bluetoothd, the adapter, its
// power), the window says "Dongle failed…" at once, Search stays usable, and the first Search
// once it is there scans and lists the controller. On a bus of its own, which the rows make
// and break.
void TestToolOnBluez::firstSearchWithoutAdapter_data()
{
    QTest::addColumn<QString>("missing");
    QTest::newRow("no system bus") << "bus";
    QTest::newRow("bluetoothd not running") << "bluetoothd";
    QTest::newRow("no adapter") << "adapter";
    QTest::newRow("adapter switched off") << "power";
}

void TestToolOnBluez::firstSearchWithoutAdapter()
{
    QFETCH(QString, missing);
    BluezStandIn alone(standIn.busAddress() + "-alone");
    QString error;
    if (missing != "bus") {
        QVERIFY2(alone.start(&error), qPrintable(error));
        if (missing == "bluetoothd")
            alone.stopService();
        QVERIFY(missing != "adapter" || alone.setAdapterPresent(false));
        QVERIFY(missing != "power" || alone.setPowered(false));
    }
    QVERIFY2(launch(alone.busAddress()), "the tool's window did not show");
    const QImage unlisted = grab(DeviceList);
    const QStringList before = shownWindows();

    QElapsedTimer shown;
    shown.start();
    QVERIFY(click(SearchButton));
    const auto newWindow = [&] {
        for (const QString &id : shownWindows())
            if (!before.contains(id))
                return id;
        return QString();
    };
    // (QTRY counts its steps, not the time the xdotool calls take: these waits watch the clock.)
    QString box;
    QVERIFY(QTest::qWaitFor([&] { return !(box = newWindow()).isEmpty(); }, WaitDeadline));
    QVERIFY2(shown.elapsed() < 3000 * Slowdown, qPrintable(QString::number(shown.elapsed())));
    QVERIFY(xdotool({"windowfocus", box, "key", "Return"}));
    QVERIFY(QTest::qWaitFor([&] { return newWindow().isEmpty(); }, WaitDeadline));

    if (missing == "bus")
        QVERIFY2(alone.start(&error), qPrintable(error));
    else if (missing == "bluetoothd")
        QVERIFY2(alone.startService(&error), qPrintable(error));
    QVERIFY(missing != "adapter" || alone.setAdapterPresent(true));
    QVERIFY(missing != "power" || alone.setPowered(true));
    QVERIFY(click(SearchButton));
    QTRY_VERIFY_WITH_TIMEOUT(alone.log().contains("StartDiscovery"), WaitDeadline);
    QTRY_VERIFY_WITH_TIMEOUT(grab(DeviceList) != unlisted, WaitDeadline);
    tool.kill();
    tool.waitForFinished();
}

// Four jobs at once on the one adapter, one per unit, each writing values of its own: each
// ends with status 0, each unit took exactly the frame of its own job's values, and the record
// the jobs share holds the four lines whole. (A calibration short enough for a test would not
// pass the gate, and would not be saved.)
void TestToolOnBluez::fourUnitsAtOnce()
{
    tool.kill();
    tool.waitForFinished();
    QVERIFY(standIn.reset() && standIn.setControllers(4));
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("station.jsonl"));
    std::vector<std::unique_ptr<QProcess>> jobs;
    for (int unit = 1; unit <= 4; ++unit) {
        jobs.push_back(std::make_unique<QProcess>());
        const QString values = QString("%1,%2,%3,-%1,-%2,-%3").arg(unit).arg(2 * unit).arg(3 * unit);
        jobs.back()->start(QStringLiteral(TOOL_PATH), {"--address", QString("00:02:5B:0A:1C:0%1").arg(unit),
                                                       "--write", values, "--record", record});
    }
    for (const auto &job : jobs) {
        QVERIFY(job->waitForFinished(WaitDeadline));
        QVERIFY2(job->exitStatus() == QProcess::NormalExit && job->exitCode() == 0,
                 job->readAllStandardError().constData());
    }

    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 5);   // and nothing after the last line's end
    QVERIFY(lines.last().isEmpty());
    QHash<QString, QStringList> units;   // by operation
    QHash<QString, QByteArray> frames;   // by unit, from its write line
    for (const QByteArray &line : lines.mid(0, 4)) {
        QJsonParseError parsed;
        const QJsonObject object = QJsonDocument::fromJson(line, &parsed).object();
        QVERIFY2(parsed.error == QJsonParseError::NoError, line.constData());
        QCOMPARE(object.value("status").toInt(-1), 0);
        const QString address = object.value("address").toString();
        units[object.value("operation").toString()] << address;
        if (object.value("operation") == "write") {
            const QJsonArray v = object.value("values").toArray();
            const Protocol::ParamFrame frame = Protocol::buildParamFrame(
                    MAG_PARAM{int16_t(v[0].toInt()), int16_t(v[1].toInt()), int16_t(v[2].toInt()),
                              int16_t(v[3].toInt()), int16_t(v[4].toInt()), int16_t(v[5].toInt())});
            frames[address] = QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
        }
    }
    const QStringList all{"00025B0A1C01", "00025B0A1C02", "00025B0A1C03", "00025B0A1C04"};
    units["write"].sort();
    QCOMPARE(units.value("write"), all);
    QCOMPARE(QSet<QByteArray>(frames.begin(), frames.end()).size(), 4);   // four frames that differ
    for (const QString &address : all) {
        QString colons = address;
        for (int at = 10; at > 0; at -= 2)
            colons.insert(at, ':');
        QCOMPARE(standIn.writesTo(colons), QByteArrayList{frames.value(address)});
    }
}

QTEST_MAIN(TestToolOnBluez)
#include "tst_toolonbluez.moc"
