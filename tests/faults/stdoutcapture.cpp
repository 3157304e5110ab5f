#include "stdoutcapture.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>
#include <unistd.h>

StdoutCapture::StdoutCapture()
{
    if (!file.open())
        return;
    std::fflush(stdout);
    saved = ::dup(STDOUT_FILENO);
    if (saved >= 0 && ::dup2(file.handle(), STDOUT_FILENO) < 0) {
        ::close(saved);
        saved = -1;
    }
}

StdoutCapture::~StdoutCapture()
{
    if (saved < 0)
        return;
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
}

QByteArray StdoutCapture::text()
{
    std::fflush(stdout);
    QFile written(file.fileName());
    if (!written.open(QIODevice::ReadOnly))
        return QByteArray();
    // Warnings that Qt prints while the capture runs come out as test-log lines.
    static const QRegularExpression logLine(
            QStringLiteral("^(QWARN|QDEBUG|QINFO|QSYSTEM|QFATAL) *:[^\\n]*\\n"),
            QRegularExpression::MultilineOption);
    return QString::fromLatin1(written.readAll()).remove(logLine).toLatin1();
}
