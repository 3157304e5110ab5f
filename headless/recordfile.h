// The record file: one JSON line per operation, appended the moment the operation ends.
// Several processes may add to one file at once; each line goes in whole.
#pragma once

#include <QByteArray>
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
