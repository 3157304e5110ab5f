// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// A station's view of the demo executable: who tested which unit against which limits goes
// into the record; limits, identity and record paths that cannot be used stop the job (or the
// window) before anything is connected; and what the tool echoes cannot steer the terminal.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestStation : public QObject
{
    Q_OBJECT

private slots:
    void station_data();
    void station();
};

void TestStation::station_data()
{
    QTest::addColumn<QStringList>("arguments");   // RECORD, LIMITS and FIFO stand for paths
    QTest::addColumn<QByteArray>("limits");       // LIMITS holds this; empty: there is none
    QTest::addColumn<QByteArray>("before");       // RECORD holds this at the start
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");         // on standard error
    QTest::addColumn<QJsonObject>("recorded");    // in the new line; empty: no new line

    const QStringList check{"--address", "00025B0A1C02", "--check", "--record", "RECORD"};
    const QByteArray earlier = R"({"serial":"SN-7","operation":"check","status":1})" "\n";
    QTest::newRow("identity and limits into the record")
        << check + QStringList{"--json", "--serial", "SN-7", "--operator", "Ann Lee", "--station", "Line 3",
                               "--limits", "LIMITS"}
        << QByteArray("{\"check\": {\"angle2\": 0.05}}\n") << earlier << 0 << "OK: every operation"
        << QJsonObject{{"serial", "SN-7"}, {"operator", "Ann Lee"}, {"station", "Line 3"}, {"attempt", 2},
                       {"limits", QJsonObject{{"check", QJsonObject{{"angle1", 1}, {"angle2", 0.05}, {"angle3", 0.6}}},
                                             {"calibration", QJsonObject{{"maxFitError", 5}, {"minCoverage", 85},
                                                                         {"minRange", 40}, {"outlierMads", 5}}}}},
                       {"limitsSha256", "cf968cabcceac412121003878a942d0660dffad62ddd74818a5088b2c0f319d0"}};
    QTest::newRow("a tighter limit fails a still unit")
        << check + QStringList{"--limits", "LIMITS"} << QByteArray(R"({"check": {"angle1": 0.001}})") << QByteArray()
        << 1 << "FAILED" << QJsonObject{{"passed", false}, {"status", 1}, {"serial", QJsonValue()}, {"attempt", QJsonValue()}};
    QTest::newRow("a limit out of range")
        << check + QStringList{"--limits", "LIMITS"} << QByteArray(R"({"check": {"angle3": 200}})") << earlier
        << 2 << "check.angle3 is 200, must be more than 0 and at most 180" << QJsonObject();
    QTest::newRow("no limits file") << check + QStringList{"--limits", "LIMITS"} << QByteArray() << earlier
                                    << 2 << "cannot read the limits file" << QJsonObject();
    // With no display the window could not open: the limits are read before it would.
    QTest::newRow("the window's limits file is not JSON")
        << QStringList{"--limits", "LIMITS", "--record", "RECORD"} << QByteArray(R"({"check":)") << earlier
        << 2 << "limits.json: not JSON" << QJsonObject();
    QTest::newRow("a FIFO as the record") << QStringList{"--address", "00025B0A1C02", "--check", "--record", "FIFO"}
                                          << QByteArray() << QByteArray() << 2 << "not a regular file but a FIFO" << QJsonObject();
    QTest::newRow("the window's record is a FIFO") << QStringList{"--record", "FIFO"} << QByteArray() << QByteArray()
                                                   << 2 << "not a regular file but a FIFO" << QJsonObject();
    QTest::newRow("a serial that would steer the terminal")
        << check + QStringList{"--serial", "SN\x1b[2J"} << QByteArray() << earlier
        << 2 << "--serial 'SN\\x1b[2J' holds a character that is not printable" << QJsonObject();
    QTest::newRow("a serial too long for a barcode")
        << check + QStringList{"--serial", QString(65, 'S')} << QByteArray() << earlier << 2 << "is longer than 64" << QJsonObject();
    QTest::newRow("an operator of spaces only")
        << check + QStringList{"--operator", "   "} << QByteArray() << earlier << 2 << "begins or ends with a space" << QJsonObject();
    QTest::newRow("an address with an escape and a line end")
        << QStringList{"--address", "00\x1b[31m\n1C01", "--check"} << QByteArray() << QByteArray()
        << 2 << "--address '00\\x1b[31m\\n1C01' is not 12 hexadecimal digits" << QJsonObject();
    QTest::newRow("an address of 100,000 characters")
        << QStringList{"--address", QString(100000, 'A'), "--check"} << QByteArray() << QByteArray()
        << 2 << QString(64, 'A') + QString::fromUtf8("…' is not 12 hexadecimal digits") << QJsonObject();
    QTest::newRow("an option that would set the window title")
        << QStringList{"--\x1b]0;owned\x07", "--check"} << QByteArray() << QByteArray()
        << 2 << "unknown option '\\x1b]0;owned\\x07'" << QJsonObject();
}

void TestStation::station()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, limits);
    QFETCH(QByteArray, before);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QJsonObject, recorded);

    QTemporaryDir dir;
    const QString recordPath = dir.filePath("units.jsonl");
    const QString limitsPath = dir.filePath("limits.json");
    const QString fifoPath = dir.filePath("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifoPath).constData(), 0600), 0);
    QFile record(recordPath);
    QVERIFY(record.open(QIODevice::WriteOnly) && record.write(before) == before.size());
    record.close();
    QFile limitsFile(limitsPath);
    if (!limits.isEmpty())
        QVERIFY(limitsFile.open(QIODevice::WriteOnly) && limitsFile.write(limits) == limits.size());
    limitsFile.close();
    arguments.replaceInStrings("RECORD", recordPath).replaceInStrings("LIMITS", limitsPath).replaceInStrings("FIFO", fifoPath);

    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("LC_ALL", "C.UTF-8");
    tool.setProcessEnvironment(environment);
    tool.start(DEMO_PATH, arguments);
    const bool ended = tool.waitForFinished(60000);
    if (!ended)
        tool.kill();
    QVERIFY2(ended, "the job did not end");
    const QByteArray out = tool.readAllStandardOutput();
    const QByteArray err = tool.readAllStandardError();
    QVERIFY2(tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == status, err.constData());
    QVERIFY2(QString::fromUtf8(err).contains(message), err.constData());
    // Nothing that reaches the terminal steers it, and a job that cannot start says so in one
    // short line, before anything is connected.
    for (const char c : out + err)
        QVERIFY2(uchar(c) >= 0x20 || c == '\n', (out + err).constData());
    if (recorded.isEmpty())
        QVERIFY2(err.count('\n') == 1 && err.size() < 400, err.constData());

    QVERIFY(record.open(QIODevice::ReadOnly));
    const QByteArray after = record.readAll();
    if (recorded.isEmpty()) {
        QCOMPARE(after, before);
        return;
    }
    QVERIFY(after.startsWith(before));
    const QByteArray line = after.mid(before.size()).trimmed();
    const QJsonObject fields = QJsonDocument::fromJson(line).object();
    for (auto field = recorded.begin(); field != recorded.end(); ++field)
        QVERIFY2(fields.value(field.key()) == field.value(), qPrintable(field.key() + ": " + line));
    // In JSON, the result printed is the line recorded.
    if (arguments.contains("--json"))
        QCOMPARE(out.trimmed().split('\n').last(), line);
}

QTEST_GUILESS_MAIN(TestStation)
#include "tst_station.moc"
