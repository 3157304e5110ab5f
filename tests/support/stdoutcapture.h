// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Sends standard output (descriptor 1, so the worker's console texts too) to a temporary file
// while the object lives.
#pragma once

#include <QRegularExpression>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

class StdoutCapture
{
public:
    StdoutCapture()
    {
        if (file.open()) {
            std::fflush(stdout);
            saved = ::dup(STDOUT_FILENO);
            ::dup2(file.handle(), STDOUT_FILENO);
        }
    }
    ~StdoutCapture() { text(); }

    // Ends the capture; what was written, without the test log's own lines.
    QByteArray text()
    {
        if (saved >= 0) {
            std::fflush(stdout);
            ::dup2(saved, STDOUT_FILENO);
            ::close(saved);
            saved = -1;
        }
        file.seek(0);
        static const QRegularExpression logLine(QStringLiteral("^Q[A-Z]+ *:[^\\n]*\\n"),
                                                QRegularExpression::MultilineOption);
        return QString::fromLatin1(file.readAll()).remove(logLine).toLatin1();
    }

private:
    QTemporaryFile file;
    int saved = -1;
};
