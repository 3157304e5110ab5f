// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The record file: one JSON line per operation, appended the moment the operation ends.
// Several processes may add to one file at once; each line goes in whole, or not at all.
#pragma once

#include "imutypes.h"
#include "outcome.h"
#include "stationlimits.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>

// One JSON object whose fields keep the order they were added in.
class JsonLine
{
public:
    JsonLine &add(const char *key, const QJsonValue &value);
    // Gives the field `key` a new value in its place, or adds it at the end.
    void set(const char *key, const QJsonValue &value);
    // Undefined when there is no such field.
    QJsonValue value(const char *key) const;
    QByteArray toJson() const;   // compact, no line end

private:
    QList<QPair<QByteArray, QJsonValue>> fields;
};

class CheckSession;
class MagRecording;

// Six calibration values as a line lists them: max x, y, z, then min x, y, z.
QJsonArray valueArray(const MAG_PARAM &values);
// The fields after the common ones of a write's line (values, answer), of a calibration's
// (values, coverage) and of a check's (sums, means, samples, passed).
void addWriteFields(JsonLine &line, const MAG_PARAM &values, WriteAnswer answer);
void addCalibrationFields(JsonLine &line, const MagRecording &recording);
void addCheckFields(JsonLine &line, const CheckSession &check, bool passed);
// The coverage as a line gives it: percent, to a tenth.
double roundedCoverage(const MagRecording &recording);

// Who tested which unit where, as the options give it. An empty text was not given; its
// field in a line is null.
struct StationIdentity {
    QString serial;         // the unit's serial number
    QString operatorName;   // the operator
    QString station;
};

class RecordFile
{
public:
    // `backend` is "adapter" or "virtual". Every line carries `identity` and `limits`.
    RecordFile(const QString &path, const QString &backend, const StationIdentity &identity = {},
               const LimitsInUse &limits = {});

    // Opens the file for appending (creating it), to find out early whether lines can go in.
    // Anything but a regular file is refused.
    bool check(QString *error) const;

    // The fields every line starts with: time (now, UTC), tool, backend, station, operator,
    // address, name, serial, operation, attempt (null; append() counts it), limits and
    // limitsSha256 (null with the default limits).
    JsonLine line(const QString &address, const QString &name, const QString &operation) const;

    // Appends `line` and a line end with one write under an exclusive lock on the file, and
    // flushes it to the disk (fsync) before it returns. Under the same lock the line's
    // attempt becomes 1 + the number of lines already in the file with the same serial and
    // operation (it stays null without a serial). A line is never appended to a part line
    // left by someone else: it starts on a line of its own. When the line cannot go in whole,
    // the file is cut back to its length before it, and `error` says why. `recorded`, when
    // given, receives the line as it went in.
    bool append(const JsonLine &line, QString *error, JsonLine *recorded = nullptr) const;

    const QString &path() const { return filePath; }

private:
    QString filePath;
    QString backendName;
    StationIdentity who;
    QJsonObject limitsUsed;
    QByteArray limitsDigest;
};

// Reads the whole regular file at `path`, if it holds at most `maxBytes`. Anything else (a
// FIFO, a device, a directory) is refused without being read or waited for. `error` names
// the path and says why.
bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *contents, QString *error);
