// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "runtool.h"

#include "console.h"
#include "headlessrunner.h"
#include "joboutput.h"
#include "refitjob.h"
#include "hostlayer.h"
#include "mainwindow.h"
#include "recordfile.h"
#include "stopsignals.h"
#include "resulttext.h"
#include "tooloptions.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {

QStringList argumentList(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

void printTo(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int runWindow(int &argc, char **argv, const ToolOptions &options, const QString &backendName,
              const BackendFactory &makeBackend)
{
    // A record that cannot be written is reported before the window needs a display.
    std::unique_ptr<RecordFile> record;
    if (!options.recordPath.isEmpty()) {
        record.reset(new RecordFile(options.recordPath, backendName, options.identity, options.limits));
        QString error;
        if (!record->check(&error)) {
            printTo(stderr, QStringLiteral("%1: ERROR: cannot write the record file %2\n")
                                    .arg(printableText(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName()), error));
            return StatusError;
        }
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(printableText(QCoreApplication::applicationName()));

    const std::unique_ptr<HostBackend> backend = makeBackend(options);
    // Installed before the window, so before any search can start a worker; the window's
    // destructor stops the worker while the backend still exists.
    setHostBackend(backend.get());
    MainWindow *window = new MainWindow;
    window->setRecordFile(record.get());
    window->setAnswerTimeout(options.answerTimeoutMs);
    window->setCheckLimits(options.limits.values.check);
    window->setGateLimits(options.limits.values.gate);
    window->setWindowOpacity(0.95);
    // A signal closes the window as its close button would: the link is dropped on the way out.
    StopSignals stopSignals;
    int stoppedBy = 0;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, window, [window, &stoppedBy](int signal) {
        if (!stoppedBy)
            stoppedBy = signal;
        // A message box up at that moment goes too: its own loop would keep the tool open.
        QApplication::closeAllWindows();
        window->close();
    });
    window->show();
    int exitCode = app.exec();
    if (stoppedBy)
        exitCode = 128 + stoppedBy;
    delete window;
    setHostBackend(nullptr);
    return exitCode;
}

// One job in `app`'s event loop on `backend`. Results go to standard output, everything else
// (the worker's console lines too) to standard error.
int runHeadless(QCoreApplication &app, HostBackend &backend, const ToolOptions &options,
                const QString &backendName)
{
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    setConsoleToStandardError(qPrintable(QCoreApplication::applicationName() + QStringLiteral(": ")));
    setHostBackend(&backend);
    int status = StatusError;
    {
        HeadlessRunner runner(options, backendName, &out, &err);
        QObject::connect(&runner, &HeadlessRunner::finished, &app, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        StopSignals stopSignals;
        QObject::connect(&stopSignals, &StopSignals::stopRequested, &runner,
                         [&runner](int signal) { runner.stop(signal, StopSignals::name(signal)); });
        QTimer::singleShot(0, &runner, &HeadlessRunner::start);
        status = app.exec();
    }
    setHostBackend(nullptr);
    setConsoleSink(nullptr);
    return status;
}

} // namespace

int runTool(int &argc, char **argv, const char *backendName, const BackendFactory &makeBackend)
{
    // Read before any application object exists: only the window needs a display.
    const ToolOptions options = parseToolOptions(argumentList(argc, argv));
    const QString backend = QString::fromLatin1(backendName);
    if (options.mode == ToolOptions::Mode::Window)
        return runWindow(argc, argv, options, backend, makeBackend);

    QCoreApplication app(argc, argv);
    // The program's name begins every message; it is the user's to choose, like an argument.
    QCoreApplication::setApplicationName(printableText(QCoreApplication::applicationName()));
    switch (options.mode) {
    case ToolOptions::Mode::Help:
        printTo(stdout, toolHelpText());
        return StatusSuccess;
    case ToolOptions::Mode::Version:
        printTo(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                      QLatin1String(toolVersion())));
        return StatusSuccess;
    case ToolOptions::Mode::Error:
        printTo(stderr, QStringLiteral("%1: ERROR: %2 (see --help)\n")
                                .arg(QCoreApplication::applicationName(), options.error));
        return StatusError;
    case ToolOptions::Mode::Refit: {
        QFile out, err;
        out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
        err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
        return runRefit(options, JobOutput(&out, &err, options.json));
    }
    default:
        break;
    }
    const std::unique_ptr<HostBackend> host = makeBackend(options);
    return runHeadless(app, *host, options, backend);
}
