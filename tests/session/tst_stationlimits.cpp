// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The limits file: what it may set, what it may not, and how a file that cannot be used is
// told.
#include "stationlimits.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestStationLimits : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void gate_data();
    void gate();
    void load_data();
    void load();
};

void TestStationLimits::parse_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVector<double>>("check");   // the limits read; empty: refused
    QTest::addColumn<QString>("error");

    const QVector<double> none;
    QTest::newRow("empty: the defaults") << QByteArray("{}") << QVector<double>{1.0, 0.1, 0.6} << "";
    QTest::newRow("one limit, the others default")
        << QByteArray(R"({"check": {"angle2": 0.05}})") << QVector<double>{1.0, 0.05, 0.6} << "";
    QTest::newRow("each limit to its angle")
        << QByteArray(R"({"check": {"angle3": 3, "angle1": 1.5, "angle2": 2}})") << QVector<double>{1.5, 2.0, 3.0} << "";
    QTest::newRow("at the highest") << QByteArray(R"({"check": {"angle1": 180}})") << QVector<double>{180.0, 0.1, 0.6} << "";
    QTest::newRow("zero could never pass")
        << QByteArray(R"({"check": {"angle1": 0}})") << none << "check.angle1 is 0, must be more than 0 and at most 180";
    QTest::newRow("negative") << QByteArray(R"({"check": {"angle3": -0.5}})") << none << "check.angle3 is -0.5, must be";
    QTest::newRow("above the highest") << QByteArray(R"({"check": {"angle2": 180.5}})") << none << "check.angle2 is 180.5, must be";
    QTest::newRow("a string") << QByteArray(R"({"check": {"angle1": "1.0"}})") << none << "check.angle1 is not a number";
    QTest::newRow("null") << QByteArray(R"({"check": {"angle1": null}})") << none << "check.angle1 is not a number";
    QTest::newRow("unknown limit")
        << QByteArray(R"({"check": {"angle4": 1}})") << none << "unknown limit \"check.angle4\" (known in \"check\": angle1, angle2, angle3)";
    QTest::newRow("unknown section") << QByteArray(R"({"chek": {}})") << none << "unknown section \"chek\" (known: check, calibration)";
    QTest::newRow("a section that is no object") << QByteArray(R"({"check": [1, 0.1, 0.6]})") << none << "\"check\" holds no JSON object";
    QTest::newRow("not JSON") << QByteArray(R"({"check": {"angle1": 1.0)") << none << "not JSON: ";
    QTest::newRow("empty file") << QByteArray() << none << "not JSON: ";
    QTest::newRow("an array") << QByteArray("[]") << none << "holds no JSON object";
    QTest::newRow("a key that would steer the terminal")
        << QByteArray(R"({"check": {"a\u001b[2J": 1}})") << none << "unknown limit \"check.a\\x1b[2J\"";
}

// The calibration gate's limits, in the same file; a range in counts is whole.
void TestStationLimits::gate_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVector<double>>("gate");   // coverage, fit error, range, outlier MADs; empty: refused
    QTest::addColumn<QString>("error");
    QTest::newRow("the defaults") << QByteArray("{}") << QVector<double>{85, 5, 40, 5} << "";
    QTest::newRow("tighter")
        << QByteArray(R"({"calibration": {"minCoverage": 90, "minRange": 60, "outlierMads": 3.5}})")
        << QVector<double>{90, 5, 60, 3.5} << "";
    QTest::newRow("a range is whole counts")
        << QByteArray(R"({"calibration": {"minRange": 40.5}})") << QVector<double>() << "calibration.minRange is 40.5, must be a whole number";
    QTest::newRow("no outlier threshold of 0")
        << QByteArray(R"({"calibration": {"outlierMads": 0}})") << QVector<double>() << "calibration.outlierMads is 0, must be more than 0";
    QTest::newRow("a share above 100 %")
        << QByteArray(R"({"calibration": {"maxFitError": 101}})") << QVector<double>() << "calibration.maxFitError is 101, must be";
}

void TestStationLimits::gate()
{
    QFETCH(QByteArray, json);
    QFETCH(QVector<double>, gate);
    QFETCH(QString, error);
    StationLimits limits;
    QString why;
    QCOMPARE(parseLimits(json, &limits, &why), !gate.isEmpty());
    if (gate.isEmpty()) {
        QVERIFY2(why.contains(error), qPrintable(why));
        return;
    }
    QCOMPARE(QVector<double>({limits.gate.minCoverage, limits.gate.maxFitError, double(limits.gate.minAxisRange),
                              limits.gate.outlierMads}), gate);
}

void TestStationLimits::parse()
{
    QFETCH(QByteArray, json);
    QFETCH(QVector<double>, check);
    QFETCH(QString, error);

    StationLimits limits;
    limits.check.angle1 = -1.0;   // what a refused file leaves alone
    QString why;
    const bool ok = parseLimits(json, &limits, &why);
    QVERIFY2(ok == !check.isEmpty(), qPrintable(why));
    if (ok) {
        QCOMPARE(QVector<double>({limits.check.angle1, limits.check.angle2, limits.check.angle3}), check);
        // The record gives them in the file's own shape, so a record's limits make a file.
        StationLimits again;
        const QByteArray recorded = QJsonDocument(limitsObject(limits)).toJson();
        QVERIFY(parseLimits(recorded, &again, &why));
        QCOMPARE(QVector<double>({again.check.angle1, again.check.angle2, again.check.angle3}), check);
    } else {
        QVERIFY2(why.contains(error), qPrintable(why));
        QCOMPARE(limits.check.angle1, -1.0);
        for (const QChar c : why)
            QVERIFY2(c.isPrint(), qPrintable(why));
    }
}

// The file itself: read once, without waiting on anything that is not a file.
void TestStationLimits::load_data()
{
    QTest::addColumn<QString>("kind");   // file, missing, directory, fifo, large
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("sha256");   // empty: refused
    QTest::addColumn<QString>("error");

    QTest::newRow("a file") << "file" << QByteArray("{\"check\": {\"angle2\": 0.05}}\n")
                            << QByteArray("cf968cabcceac412121003878a942d0660dffad62ddd74818a5088b2c0f319d0") << "";
    QTest::newRow("missing") << "missing" << QByteArray() << QByteArray() << "cannot read the limits file";
    QTest::newRow("a directory") << "directory" << QByteArray() << QByteArray() << "not a regular file but a directory";
    QTest::newRow("a FIFO is not waited on") << "fifo" << QByteArray() << QByteArray() << "not a regular file but a FIFO";
    QTest::newRow("larger than a limits file")
        << "file" << QByteArray(LimitsFileMaxBytes - 1, ' ') + "{}" << QByteArray() << "larger than 65536 bytes";
    QTest::newRow("out of range names the file")
        << "file" << QByteArray(R"({"check": {"angle1": 200}})") << QByteArray() << "the limits file ";
}

void TestStationLimits::load()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, sha256);
    QFETCH(QString, error);

    QTemporaryDir dir;
    const QString path = dir.filePath("limits.json");
    if (kind == "file") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    } else if (kind == "directory") {
        QVERIFY(QDir(dir.path()).mkdir("limits.json"));
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }

    LimitsInUse limits;
    QString why;
    const bool ok = loadLimitsFile(path, &limits, &why);
    QVERIFY2(ok == !sha256.isEmpty(), qPrintable(why));
    if (ok) {
        QCOMPARE(limits.sha256, sha256);
        QCOMPARE(limits.path, path);
        QCOMPARE(limits.values.check.angle2, 0.05);
    } else {
        QVERIFY2(why.contains(error) && why.contains(path), qPrintable(why));
        QVERIFY(limits.sha256.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestStationLimits)
#include "tst_stationlimits.moc"
