// The record file: one JSON line per operation, appended the moment the operation ends.
// Several processes may add to one file at once; each line goes in whole.
#pragma once

#include "imutypes.h"
#include "outcome.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>

// One JSON object whose fields keep the order they were added in.
class JsonLine
{
public:
    JsonLine &add(const char *key, const QJsonValue &value);
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

class RecordFile
{
public:
    // `backend` is "adapter" or "virtual".
    RecordFile(const QString &path, const QString &backend);

    // Opens the file for appending (creating it), to find out early whether lines can go in.
    bool check(QString *error) const;

    // The fields every line starts with: time (now, UTC), tool, backend, address, name,
    // operation.
    JsonLine line(const QString &address, const QString &name, const QString &operation) const;

    // Appends `line` and a line end with one write under an exclusive lock on the file, and
    // flushes it to the disk.
    bool append(const JsonLine &line, QString *error) const;

    const QString &path() const { return filePath; }

private:
    QString filePath;
    QString backendName;
};
