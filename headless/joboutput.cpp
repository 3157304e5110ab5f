// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "joboutput.h"

#include "recordfile.h"

#include <QCoreApplication>
#include <QIODevice>

void JobOutput::result(const QString &text, const JsonLine &line) const
{
    out->write(json ? line.toJson() + '\n' : text.toUtf8() + '\n');
}

void JobOutput::progress(const QString &text) const
{
    const QString name = QCoreApplication::applicationName();
    err->write((name.isEmpty() ? text : name + QStringLiteral(": ") + text).toUtf8() + '\n');
}

void JobOutput::progress(const QString &text, JsonLine line) const
{
    if (json)
        err->write(line.add("progress", true).toJson() + '\n');
    else
        progress(text);
}
