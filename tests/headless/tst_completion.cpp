// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The shell completions the build makes for each program, run by the shells themselves and
// held against the options that program's --help lists: bash through bash-completion as it
// completes a typed line, zsh through the entries its completion hands to _arguments.
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char BashCompletion[] = "/usr/share/bash-completion/bash_completion";

QStringList programs()
{
    QStringList found{QStringLiteral(IMUCAL_DEMO)};
    if (!QString::fromLatin1(IMUCAL_TOOL).isEmpty())
        found << QStringLiteral(IMUCAL_TOOL);
    return found;
}

// Every option the program's --help lists, short and long: "-h", "--help", "--record", ...
QStringList helpOptions(const QString &program)
{
    QProcess help;
    help.start(program, {QStringLiteral("--help")});
    if (!help.waitForFinished(60000) || help.exitCode() != 0)
        return {};
    QStringList options;
    const QRegularExpression line(QStringLiteral("^  (?:(-\\w), )?(--[\\w-]+)"),
                                  QRegularExpression::MultilineOption);
    auto it = line.globalMatch(QString::fromLocal8Bit(help.readAllStandardOutput()));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (!m.captured(1).isEmpty())
            options << m.captured(1);
        options << m.captured(2);
    }
    options.sort();
    return options;
}

QStringList sortedLines(const QByteArray &output)
{
    QStringList lines = QString::fromLocal8Bit(output).split('\n', Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

} // namespace

class TestCompletion : public QObject
{
    Q_OBJECT

private slots:
    void bash_data();
    void bash();
    void zsh_data();
    void zsh();
};

void TestCompletion::bash_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("typed");       // after the program's name
    QTest::addColumn<QStringList>("offered");   // "*": every option of its --help

    for (const QString &program : programs()) {
        const QString name = QFileInfo(program).fileName();
        auto row = [&](const char *what) { return qPrintable(name + ": " + what); };
        QTest::newRow(row("nothing typed")) << program << " " << QStringList{"*"};
        QTest::newRow(row("a dash")) << program << " -" << QStringList{"*"};
        QTest::newRow(row("one option begun")) << program << " --rec" << QStringList{"--record"};
        QTest::newRow(row("two options begun, after a value"))
            << program << " --address 0 --c" << QStringList{"--calibrate", "--capture", "--check"};
        QTest::newRow(row("file after --record")) << program << " --record st"
                                                 << QStringList{"station.jsonl"};
        QTest::newRow(row("files after --record=")) << program << " --record="
                                                   << QStringList{"notes.txt", "station.jsonl"};
        QTest::newRow(row("no option offered as a value")) << program << " --timeout " << QStringList{};
        QTest::newRow(row("nor after --write=")) << program << " --write=" << QStringList{};
        QTest::newRow(row("options again after a value")) << program << " --timeout=5 --j"
                                                         << QStringList{"--json"};
    }
}

void TestCompletion::bash()
{
    QFETCH(QString, program);
    QFETCH(QString, typed);
    QFETCH(QStringList, offered);
    if (!QFile::exists(QLatin1String(BashCompletion)))
        QSKIP("bash-completion is not installed (tools/deps.sh installs it)");

    if (offered == QStringList{"*"}) {
        offered = helpOptions(program);
        QVERIFY(offered.contains("--record") && offered.contains("--timeout"));
    }
    QTemporaryDir work;
    QVERIFY(work.isValid());
    for (const char *file : {"station.jsonl", "notes.txt"})
        QVERIFY(QFile(work.filePath(file)).open(QIODevice::WriteOnly));

    QProcess shell;
    shell.setWorkingDirectory(work.path());
    const QString name = QFileInfo(program).fileName();
    shell.start("bash", {QStringLiteral(IMUCAL_COMPLETE_TYPED), BashCompletion,
                         QStringLiteral(IMUCAL_COMPLETION_DIR "/bash-completion/") + name,
                         name + typed});
    QVERIFY(shell.waitForFinished(60000));
    QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
    QCOMPARE(sortedLines(shell.readAllStandardOutput()), offered);
}

void TestCompletion::zsh_data()
{
    QTest::addColumn<QString>("program");
    for (const QString &program : programs())
        QTest::newRow(qPrintable(QFileInfo(program).fileName())) << program;
}

// The zsh completion hands _arguments one entry per option: every option of --help, its value
// taken after "=" or as the next word, file names completed for --record.
void TestCompletion::zsh()
{
    QFETCH(QString, program);
    if (QStandardPaths::findExecutable("zsh").isEmpty())
        QSKIP("zsh is not installed (tools/deps.sh installs it)");

    const QString file = QStringLiteral(IMUCAL_COMPLETION_DIR "/zsh/_")
                         + QFileInfo(program).fileName();
    QProcess shell;
    shell.start("zsh", {"-fc", "_arguments() { print -rl -- \"$@\" }; source \"$1\"", "zsh", file});
    QVERIFY(shell.waitForFinished(60000));
    QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
    const QStringList entries = sortedLines(shell.readAllStandardOutput());

    QStringList named;
    const QRegularExpression option(QStringLiteral("^(?:\\([^)]*\\))?(--?[\\w-]+)(=?)\\["));
    for (const QString &entry : entries) {
        const QRegularExpressionMatch m = option.match(entry);
        if (!m.hasMatch())
            continue;   // the -s and -S flags
        named << m.captured(1);
        if (m.captured(1) == "--record")
            QVERIFY2(m.captured(2) == "=" && entry.endsWith(":FILE:_files"), qPrintable(entry));
        if (m.captured(1) == "--timeout")
            QVERIFY2(m.captured(2) == "=" && entry.endsWith(":SECONDS: "), qPrintable(entry));
    }
    named.sort();
    QCOMPARE(named, helpOptions(program));
}

QTEST_GUILESS_MAIN(TestCompletion)
#include "tst_completion.moc"
