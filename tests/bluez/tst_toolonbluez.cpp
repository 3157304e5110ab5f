// The tool's own executable against the stand-in BlueZ, clicked through search, connect and
// save on the test's X display (one of its own); read back from the stand-in and the window's
// pixels. Each step waits for what the last one caused, however long the tool takes.
#include "standin.h"
#include "waits.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QtTest>

namespace {

// Window coordinates of the controls (the form is fixed).
const QPoint SearchButton(288, 527);
const QPoint ConnectButton(488, 527);
const QPoint MagnetPageButton(155, 98);
const QPoint SaveButton(488, 527);
const QRect StatusLabel(55, 470, 200, 25);
const QRect DeviceList(53, 436, 200, 25);

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
    void writeWithoutWindow();

private:
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

void TestToolOnBluez::searchConnectStreamAndSave()
{
    // The tool reads its pictures from ./image.
    tool.setWorkingDirectory(QStringLiteral(SOURCE_ROOT));
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral(TOOL_PATH), QStringList());
    QVERIFY(tool.waitForStarted());
    // Searched for until it is there: a search also fails when a window goes while it looks.
    QString id;
    QVERIFY2(QTest::qWaitFor([&] {
        return xdotool({"search", "--onlyvisible", "--name", "^IMU Calibration Tool$"}, &id) && !id.isEmpty();
    }, WaitDeadline), "the tool's window did not show");
    window = WId(id.split('\n').first().toULongLong());
    QTRY_VERIFY_WITH_TIMEOUT(drawn(grab(StatusLabel)) && drawn(grab(DeviceList)), WaitDeadline);
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
void TestToolOnBluez::writeWithoutWindow()
{
    tool.kill();
    tool.waitForFinished();
    QVERIFY(standIn.reset());
    QProcess job;
    job.start(QStringLiteral(TOOL_PATH), {"--address", "00:02:5b:0a:1c:01", "--write", "120,35,200,-75,-200,-3"});
    QVERIFY(job.waitForFinished(WaitDeadline));
    QVERIFY2(job.exitStatus() == QProcess::NormalExit && job.exitCode() == 0, job.readAllStandardError().constData());
    QCOMPARE(standIn.writes(), QByteArrayList{QByteArray::fromHex("5A040100 78FFB500 23FF3800 C8FFFD00 00004FA5")});
    QCOMPARE(job.readAllStandardOutput(), QByteArray("write 120,35,200,-75,-200,-3: success\n"));
}

QTEST_MAIN(TestToolOnBluez)
#include "tst_toolonbluez.moc"
