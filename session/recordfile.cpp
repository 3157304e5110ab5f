// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "recordfile.h"

#include "checksession.h"
#include "magrecording.h"
#include "resulttext.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

JsonLine &JsonLine::add(const char *key, const QJsonValue &value)
{
    fields.append({QByteArray(key), value});
    return *this;
}

void JsonLine::set(const char *key, const QJsonValue &value)
{
    for (auto &field : fields) {
        if (field.first == key) {
            field.second = value;
            return;
        }
    }
    add(key, value);
}

QJsonValue JsonLine::value(const char *key) const
{
    for (const auto &field : fields) {
        if (field.first == key)
            return field.second;
    }
    return QJsonValue(QJsonValue::Undefined);
}

namespace {

// A value as a line writes it: Qt writes it (escapes, numbers) as the one element of an array.
QByteArray jsonValueText(const QJsonValue &value)
{
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

} // namespace

QByteArray JsonLine::toJson() const
{
    QByteArray text("{");
    for (const auto &field : fields) {
        if (text.size() > 1)
            text += ',';
        text += '"' + field.first + "\":" + jsonValueText(field.second);
    }
    return text + '}';
}

QJsonArray valueArray(const MAG_PARAM &v)
{
    return QJsonArray{v.max_x, v.max_y, v.max_z, v.min_x, v.min_y, v.min_z};
}

void addWriteFields(JsonLine &line, const MAG_PARAM &values, WriteAnswer answer)
{
    line.add("values", valueArray(values)).add("answer", writeAnswerText(answer));
}

void addCalibrationFields(JsonLine &line, const MagRecording &recording)
{
    line.add("values", valueArray(recording.values()))
        .add("coverage", roundedCoverage(recording));
}

double roundedCoverage(const MagRecording &recording)
{
    return std::round(recording.coverage() * 10.0) / 10.0;
}

void addCheckFields(JsonLine &line, const CheckSession &check, bool passed)
{
    const double *sums = check.sums();
    line.add("sums", QJsonArray{sums[0], sums[1], sums[2]})
        .add("means", QJsonArray{check.mean(0), check.mean(1), check.mean(2)})
        .add("samples", check.count())
        .add("passed", passed);
}

RecordFile::RecordFile(const QString &path, const QString &backend, const StationIdentity &identity,
                       const LimitsInUse &limits)
    : filePath(path),
      backendName(backend),
      who(identity),
      limitsUsed(limitsObject(limits.values)),
      limitsDigest(limits.sha256)
{
}

namespace {

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// What append() needs to know of the lines already in the file.
struct FileSoFar {
    int sameUnit = 0;          // lines with the serial and operation of the new one
    bool endsInLineEnd = true; // false: a part line is left at the end
};

// Counts the lines in `text` (whole lines only) whose serial and operation are those given.
// `serialField` is the serial as a line writes it, so that most lines are passed over
// without being parsed.
int countSameUnit(const QByteArray &text, const QByteArray &serialField, const QString &serial,
                  const QString &operation)
{
    int count = 0;
    int from = 0;
    for (int end = text.indexOf('\n'); end >= 0; from = end + 1, end = text.indexOf('\n', from)) {
        const QByteArray line = text.mid(from, end - from);
        if (!line.contains(serialField))
            continue;
        const QJsonObject fields = QJsonDocument::fromJson(line).object();
        if (fields.value(QLatin1String("serial")).toString() == serial
            && fields.value(QLatin1String("operation")).toString() == operation)
            ++count;
    }
    return count;
}

QString shownPath(const QString &path)
{
    return printableText(path, ShownPathChars);
}

QString fileError(const QString &path, const QString &why)
{
    return shownPath(path) + QStringLiteral(": ") + why;
}

} // namespace

JsonLine RecordFile::line(const QString &address, const QString &name, const QString &operation) const
{
    JsonLine line;
    line.add("time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
        .add("tool", QString::fromLatin1(toolVersion()))
        .add("backend", backendName)
        .add("station", textOrNull(who.station))
        .add("operator", textOrNull(who.operatorName))
        .add("address", address)
        .add("name", name)
        .add("serial", textOrNull(who.serial))
        .add("operation", operation)
        .add("attempt", QJsonValue(QJsonValue::Null))
        .add("limits", limitsUsed)
        .add("limitsSha256", limitsDigest.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                    : QJsonValue(QString::fromLatin1(limitsDigest)));
    return line;
}

#ifdef Q_OS_UNIX

namespace {

QString systemError(const QString &path)
{
    return fileError(path, qt_error_string(errno));
}

QString notRegular(const QString &path, mode_t mode)
{
    const char *kind = S_ISDIR(mode)                      ? "a directory"
                     : S_ISFIFO(mode)                     ? "a FIFO"
                     : S_ISCHR(mode) || S_ISBLK(mode)     ? "a device"
                     : S_ISSOCK(mode)                     ? "a socket"
                                                          : "something else";
    return fileError(path, QStringLiteral("not a regular file but %1").arg(QLatin1String(kind)));
}

// Opens `path` with `flags` when it is a regular file, or (with O_CREAT) none is there yet.
// Anything else is refused before it is opened, since opening a device may act on it and a
// FIFO waits for its other end; and once more after, since the path may have been replaced
// in between. O_NONBLOCK keeps even that open from waiting.
int openRegular(const QString &path, int flags, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info;
    if (::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        *error = notRegular(path, info.st_mode);
        return -1;
    }
    int fd;
    do {
        fd = ::open(name.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *error = systemError(path);
        return -1;
    }
    const bool known = ::fstat(fd, &info) == 0;
    if (!known || !S_ISREG(info.st_mode)) {
        *error = known ? notRegular(path, info.st_mode) : systemError(path);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readAt(int fd, qint64 offset, qint64 size, QByteArray *data)
{
    data->resize(int(size));
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, data->data() + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;   // the file is shorter than it was a moment ago
            return false;
        }
        done += n;
    }
    return true;
}

// Reads the first `size` bytes of the record in pieces, counting the lines like the new one.
bool readSoFar(int fd, qint64 size, const QString &serial, const QString &operation, FileSoFar *soFar)
{
    if (size == 0)
        return true;
    QByteArray piece;
    if (serial.isEmpty()) {
        if (!readAt(fd, size - 1, 1, &piece))
            return false;
        soFar->endsInLineEnd = piece.at(0) == '\n';
        return true;
    }
    const QByteArray serialField = "\"serial\":" + jsonValueText(serial);
    constexpr qint64 PieceBytes = 1 << 16;
    QByteArray text;   // from the start of a line up to the end of what was read
    for (qint64 offset = 0; offset < size; offset += PieceBytes) {
        if (!readAt(fd, offset, std::min(PieceBytes, size - offset), &piece))
            return false;
        text += piece;
        const int lastEnd = text.lastIndexOf('\n');
        if (lastEnd < 0)
            continue;
        soFar->sameUnit += countSameUnit(text.left(lastEnd + 1), serialField, serial, operation);
        text.remove(0, lastEnd + 1);
    }
    soFar->endsInLineEnd = text.isEmpty();
    return true;
}

// Writes all of `text` at the end of the file; false, errno telling why, if any of it failed.
bool writeAll(int fd, const QByteArray &text)
{
    qint64 done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

// A file made a moment ago survives a crash only once its directory entry is on the disk too.
bool syncDirectory(const QString &path)
{
    const QByteArray directory = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems cannot sync a directory, and say so with EINVAL; they need not.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    const int syncError = errno;
    ::close(fd);
    errno = syncError;
    return synced;
}

class FileLock
{
public:
    explicit FileLock(int fd) : fd(fd)
    {
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() { ::flock(fd, LOCK_UN); }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    const int fd;
};

} // namespace

bool RecordFile::check(QString *error) const
{
    const int fd = openRegular(filePath, O_RDWR | O_APPEND | O_CREAT, error);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool RecordFile::append(const JsonLine &line, QString *error, JsonLine *recorded) const
{
    const int fd = openRegular(filePath, O_RDWR | O_APPEND | O_CREAT, error);
    if (fd < 0)
        return false;
    bool ok;
    {
        // O_APPEND puts each write at the end as one step. The lock keeps out the other
        // writers while this one counts the lines before it, writes (in more than one write
        // when the file system takes less at a time) and, if need be, cuts the file back.
        const FileLock lock(fd);
        struct stat info;
        FileSoFar soFar;
        ok = ::fstat(fd, &info) == 0
             && readSoFar(fd, info.st_size, who.serial, line.value("operation").toString(), &soFar);
        if (ok) {
            JsonLine written = line;
            if (!who.serial.isEmpty())
                written.set("attempt", soFar.sameUnit + 1);
            const QByteArray text = (soFar.endsInLineEnd ? QByteArray() : QByteArray("\n")) + written.toJson() + '\n';
            ok = writeAll(fd, text) && ::fsync(fd) == 0 && (info.st_size > 0 || syncDirectory(filePath));
            if (ok && recorded)
                *recorded = written;
            if (!ok) {
                *error = systemError(filePath);
                // Whatever part of the line went in goes again.
                while (::ftruncate(fd, info.st_size) != 0 && errno == EINTR) {
                }
            }
        } else {
            *error = systemError(filePath);
        }
    }
    ::close(fd);
    return ok;
}

bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *contents, QString *error)
{
    const int fd = openRegular(path, O_RDONLY, error);
    if (fd < 0)
        return false;
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && info.st_size > maxBytes) {
        *error = fileError(path, QStringLiteral("larger than %1 bytes").arg(maxBytes));
        ::close(fd);
        return false;
    }
    ok = ok && readAt(fd, 0, info.st_size, contents);
    if (!ok)
        *error = systemError(path);
    ::close(fd);
    return ok;
}

#else

// Without flock the lines of processes appending at once may interleave; the rest holds.

bool RecordFile::check(QString *error) const
{
    QFile file(filePath);
    if (QFileInfo(filePath).exists() && !QFileInfo(filePath).isFile()) {
        *error = fileError(filePath, QStringLiteral("not a regular file"));
        return false;
    }
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        *error = fileError(filePath, file.errorString());
        return false;
    }
    return true;
}

bool RecordFile::append(const JsonLine &line, QString *error, JsonLine *recorded) const
{
    if (!check(error))
        return false;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadWrite)) {
        *error = fileError(filePath, file.errorString());
        return false;
    }
    const QByteArray before = file.readAll();
    JsonLine written = line;
    if (!who.serial.isEmpty())
        written.set("attempt", countSameUnit(before, "\"serial\":" + jsonValueText(who.serial), who.serial,
                                             line.value("operation").toString()) + 1);
    const bool lineEnded = before.isEmpty() || before.endsWith('\n');
    const QByteArray text = (lineEnded ? QByteArray() : QByteArray("\n")) + written.toJson() + '\n';
    if (!file.seek(before.size()) || file.write(text) != text.size() || !file.flush()) {
        *error = fileError(filePath, file.errorString());
        file.resize(before.size());
        return false;
    }
    if (recorded)
        *recorded = written;
    return true;
}

bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *contents, QString *error)
{
    QFile file(path);
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile()) {
        *error = fileError(path, QStringLiteral("not a regular file"));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = fileError(path, file.errorString());
        return false;
    }
    if (file.size() > maxBytes) {
        *error = fileError(path, QStringLiteral("larger than %1 bytes").arg(maxBytes));
        return false;
    }
    *contents = file.readAll();
    return true;
}

#endif
