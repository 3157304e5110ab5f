// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The record file: who tested what, each attempt counted, and lines that survive a full disk,
// a path that is no file, and many writers at once.
#include "recordfile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include <set>
#include <thread>
#include <vector>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// The file size the process may write up to, for a while: beyond it a write fails as on a
// full disk. SIGXFSZ is ignored meanwhile, so that the write says so instead.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit previous;
    void (*previousHandler)(int);
};

} // namespace

class TestRecordFile : public QObject
{
    Q_OBJECT

private slots:
    void identity_data();
    void identity();
    void limitsInEveryLine();
    void attemptsOfWritersAtOnce();
    void fullDisk_data();
    void fullDisk();
    void notAFile_data();
    void notAFile();
};

void TestRecordFile::identity_data()
{
    QTest::addColumn<QByteArray>("before");   // the file's contents before the line
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("attempt");         // 0: null

    const QByteArray others = R"({"serial":"SN1","operation":"check"})" "\n"
                              R"({"serial":"SN1","operation":"write"})" "\n"
                              R"({"serial":"SN2","operation":"check"})" "\n"
                              R"({"serial":"SN10","operation":"check"})" "\n"
                              R"({"serial":null,"name":"\"serial\":\"SN1\"","operation":"check"})" "\n"
                              R"({"serial":"SN1","operation":"check"})" "\n"
                              "not a line of this tool \"serial\":\"SN1\"\n";
    QTest::newRow("nothing given") << QByteArray() << QString() << "check" << 0;
    QTest::newRow("the first attempt") << QByteArray() << "SN1" << "check" << 1;
    QTest::newRow("only the same serial and operation count") << others << "SN1" << "check" << 3;
    QTest::newRow("another operation of the serial") << others << "SN1" << "write" << 2;
    QTest::newRow("no serial counts nothing") << others << QString() << "check" << 0;
    QTest::newRow("a serial with quotes and backslashes")
        << QByteArray(R"({"serial":"A\"B\\","operation":"calibrate"})" "\n") << "A\"B\\" << "calibrate" << 2;
    QTest::newRow("a part line at the end is not counted, nor appended to")
        << QByteArray(R"({"serial":"SN1","operation":"check"})" "\n" R"({"serial":"SN1","operation":"ch)")
        << "SN1" << "check" << 2;
    QTest::newRow("a part line without a serial") << QByteArray(R"({"serial":"SN1","oper)") << QString() << "check" << 0;
}

void TestRecordFile::identity()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, serial);
    QFETCH(QString, operation);
    QFETCH(int, attempt);

    QTemporaryDir dir;
    const QString path = dir.filePath("units.jsonl");
    QVERIFY(writeFile(path, before));
    const StationIdentity who{serial, serial.isEmpty() ? QString() : "Ann Lee", serial.isEmpty() ? QString() : "L3"};
    const RecordFile record(path, "virtual", who);
    JsonLine recorded;
    QString error;
    QVERIFY2(record.append(record.line("00025B0A1C01", "IMU", operation).add("status", 0), &error, &recorded), qPrintable(error));

    // What was there stays; the new line follows on a line of its own.
    const QByteArray after = readAll(path);
    QVERIFY(after.startsWith(before));
    QByteArray added = after.mid(before.size());
    if (!before.isEmpty() && !before.endsWith('\n')) {
        QVERIFY(added.startsWith('\n'));
        added.remove(0, 1);
    }
    QVERIFY(added.endsWith('\n') && added.count('\n') == 1);
    const QJsonObject fields = QJsonDocument::fromJson(added).object();
    QCOMPARE(added.trimmed(), recorded.toJson());
    QCOMPARE(fields.value("attempt"), attempt ? QJsonValue(attempt) : QJsonValue(QJsonValue::Null));
    const auto textOrNull = [](const QString &text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
    QCOMPARE(fields.value("serial"), textOrNull(serial));
    QCOMPARE(fields.value("operator"), textOrNull(who.operatorName));
    QCOMPARE(fields.value("station"), textOrNull(who.station));
    QCOMPARE(fields.value("operation").toString(), operation);
}

void TestRecordFile::limitsInEveryLine()
{
    QTemporaryDir dir;
    LimitsInUse limits;
    limits.values.check.angle2 = 0.05;
    limits.sha256 = QByteArray(64, 'e');
    const QJsonObject withFile = QJsonDocument::fromJson(RecordFile(dir.filePath("r"), "virtual", {}, limits)
                                                             .line("A", "B", "check").toJson()).object();
    QCOMPARE(withFile.value("limits").toObject().value("check").toObject(),
             QJsonObject({{"angle1", 1.0}, {"angle2", 0.05}, {"angle3", 0.6}}));
    QCOMPARE(withFile.value("limitsSha256").toString(), QString(64, 'e'));
    const QJsonObject defaults = QJsonDocument::fromJson(RecordFile(dir.filePath("r"), "virtual")
                                                             .line("A", "B", "write").toJson()).object();
    QCOMPARE(defaults.value("limits").toObject().value("check").toObject(),
             QJsonObject({{"angle1", 1.0}, {"angle2", 0.1}, {"angle3", 0.6}}));
    QCOMPARE(defaults.value("limitsSha256"), QJsonValue());
}

// Writers that append to one file at the same moment each count the lines before theirs
// under the lock: every attempt is counted once, and every line is whole.
void TestRecordFile::attemptsOfWritersAtOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("units.jsonl");
    constexpr int Writers = 8;
    constexpr int LinesEach = 24;
    std::vector<std::thread> writers;
    writers.reserve(Writers);
    std::vector<QString> errors(Writers);
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&, w] {
            const RecordFile record(path, "virtual", StationIdentity{"SN-42", QString(), QString::number(w)});
            for (int i = 0; i < LinesEach && errors[size_t(w)].isEmpty(); ++i)
                record.append(record.line("00025B0A1C01", "IMU", i % 2 ? "write" : "check"), &errors[size_t(w)]);
        });
    }
    for (std::thread &writer : writers)
        writer.join();
    for (const QString &error : errors)
        QVERIFY2(error.isEmpty(), qPrintable(error));

    std::set<int> attempts[2];
    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.size(), Writers * LinesEach + 1);
    for (const QByteArray &line : lines.mid(0, lines.size() - 1)) {
        const QJsonObject fields = QJsonDocument::fromJson(line).object();
        QVERIFY2(!fields.isEmpty(), line.constData());
        attempts[fields.value("operation").toString() == "write"].insert(fields.value("attempt").toInt());
    }
    const int each = Writers * LinesEach / 2;
    for (const std::set<int> &counted : attempts) {
        QCOMPARE(int(counted.size()), each);
        QCOMPARE(*counted.begin(), 1);
        QCOMPARE(*counted.rbegin(), each);
    }
}

// A line that does not fit leaves no part of itself: the file is as it was, and the next line
// that fits follows whole.
void TestRecordFile::fullDisk_data()
{
    QTest::addColumn<int>("room");   // bytes that still fit; -1: all but the line end
    QTest::addColumn<QByteArray>("before");

    const QByteArray whole = R"({"serial":"SN1","operation":"check"})" "\n";
    QTest::newRow("no room at all") << 0 << whole;
    QTest::newRow("room for part of the line") << 40 << whole;
    QTest::newRow("room for all but the line end") << -1 << whole;
    QTest::newRow("into a new file") << 10 << QByteArray();
    QTest::newRow("after a part line left by another") << 1 << QByteArray(R"({"serial":"SN1","ope)");
}

void TestRecordFile::fullDisk()
{
    QFETCH(int, room);
    QFETCH(QByteArray, before);

    QTemporaryDir dir;
    const QString path = dir.filePath("units.jsonl");
    QVERIFY(writeFile(path, before));
    const RecordFile record(path, "virtual", StationIdentity{"SN1", "Ann Lee", "L3"});
    const JsonLine line = record.line("00025B0A1C01", "IMU", "check").add("status", 0);
    const bool lineEnded = before.isEmpty() || before.endsWith('\n');
    JsonLine appended = line;
    appended.set("attempt", lineEnded && !before.isEmpty() ? 2 : 1);
    const int lineBytes = int(appended.toJson().size()) + (lineEnded ? 1 : 2);
    QString error;
    {
        const FileSizeLimit full(rlim_t(before.size() + (room < 0 ? lineBytes - 1 : room)));
        QVERIFY(!record.append(line, &error));
    }
    QVERIFY2(error.contains(path), qPrintable(error));
    QCOMPARE(readAll(path), before);

    QVERIFY2(record.append(line, &error), qPrintable(error));
    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.at(lines.size() - 2), appended.toJson());
}

// A record path that is no regular file is refused at once, at the start and at each line:
// a FIFO would hold the job until something reads it, a device would take the lines away.
void TestRecordFile::notAFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");   // empty: taken

    QTest::newRow("a new file") << "new" << "";
    QTest::newRow("a link to a file") << "link" << "";
    QTest::newRow("a FIFO") << "fifo" << "not a regular file but a FIFO";
    QTest::newRow("a directory") << "directory" << "not a regular file but a directory";
    QTest::newRow("a device") << "device" << "not a regular file but a device";
    QTest::newRow("a link to a device") << "device link" << "not a regular file but a device";
}

void TestRecordFile::notAFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, error);

    QTemporaryDir dir;
    QString path = dir.filePath("units.jsonl");
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "directory")
        QVERIFY(QDir(dir.path()).mkdir("units.jsonl"));
    else if (kind == "device")
        path = "/dev/null";
    else if (kind == "link")
        QVERIFY(writeFile(dir.filePath("target"), QByteArray()) && QFile::link(dir.filePath("target"), path));
    else if (kind == "device link")
        QVERIFY(QFile::link("/dev/null", path));

    const RecordFile record(path, "virtual");
    QString why;
    QCOMPARE(record.check(&why), error.isEmpty());
    QVERIFY2(why.contains(error), qPrintable(why));
    why.clear();
    QCOMPARE(record.append(record.line("00025B0A1C01", "IMU", "check"), &why), error.isEmpty());
    QVERIFY2(why.contains(error), qPrintable(why));
    if (error.isEmpty())
        QCOMPARE(readAll(path).count('\n'), 1);
}

QTEST_GUILESS_MAIN(TestRecordFile)
#include "tst_recordfile.moc"
