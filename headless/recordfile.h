// The record file: one JSON line per operation, appended the moment the operation ends.
// Several processes may add to one file at once; each line goes in whole.
#pragma once

#include "imutypes.h"

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

// The controller's answer to a parameter write: "success", "fail", or "none" when no answer
// came; they give a write the statuses 0, 1 and 2.
enum class WriteAnswer { None, Success, Fail };
QString writeAnswerText(WriteAnswer answer);
int writeAnswerStatus(WriteAnswer answer);

// Six calibration values as a line lists them: max x, y, z, then min x, y, z.
QJsonArray valueArray(const MAG_PARAM &values);
// The fields after the common ones of a write's line (values, answer) and of a check's line
// (sums, means, samples, passed). The window and the runner record alike.
void addWriteFields(JsonLine &line, const MAG_PARAM &values, WriteAnswer answer);
void addCheckFields(JsonLine &line, const CheckSession &check, bool passed);

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
