// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Where a job's lines go: results to standard output, as text or one JSON object each;
// progress and messages to standard error after the program's name, and progress that has a
// JSON form as JSON marked "progress": true, so that a script merging the two streams can
// tell it from a result.
#pragma once

#include <QString>

class JsonLine;
class QIODevice;

class JobOutput
{
public:
    // Both devices stay the caller's.
    JobOutput(QIODevice *out, QIODevice *err, bool json) : out(out), err(err), json(json) {}

    void result(const QString &text, const JsonLine &line) const;
    void progress(const QString &text) const;
    // `line` is given "progress": true.
    void progress(const QString &text, JsonLine line) const;

private:
    QIODevice *const out;
    QIODevice *const err;
    const bool json;
};
