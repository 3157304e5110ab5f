#include "recordfile.h"

#include "checksession.h"
#include "magrecording.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

JsonLine &JsonLine::add(const char *key, const QJsonValue &value)
{
    fields.append({QByteArray(key), value});
    return *this;
}

QByteArray JsonLine::toJson() const
{
    QByteArray text("{");
    for (const auto &field : fields) {
        if (text.size() > 1)
            text += ',';
        // Qt writes the value (escapes, numbers) as the one element of an array.
        const QByteArray value = QJsonDocument(QJsonArray{field.second}).toJson(QJsonDocument::Compact);
        text += '"' + field.first + "\":" + value.mid(1, value.size() - 2);
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

RecordFile::RecordFile(const QString &path, const QString &backend)
    : filePath(path), backendName(backend)
{
}

JsonLine RecordFile::line(const QString &address, const QString &name, const QString &operation) const
{
    JsonLine line;
    line.add("time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
        .add("tool", QString::fromLatin1(toolVersion()))
        .add("backend", backendName)
        .add("address", address)
        .add("name", name)
        .add("operation", operation);
    return line;
}

#ifdef Q_OS_UNIX

namespace {

QString systemError(const QString &path)
{
    return path + QStringLiteral(": ") + qt_error_string(errno);
}

int openForAppend(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

bool RecordFile::check(QString *error) const
{
    const int fd = openForAppend(filePath);
    if (fd < 0) {
        *error = systemError(filePath);
        return false;
    }
    ::close(fd);
    return true;
}

bool RecordFile::append(const JsonLine &line, QString *error) const
{
    const QByteArray text = line.toJson() + '\n';
    const int fd = openForAppend(filePath);
    if (fd < 0) {
        *error = systemError(filePath);
        return false;
    }
    // O_APPEND puts each write at the end as one step; the lock also keeps out writers that
    // would need more than one write for a line.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    bool ok = true;
    qint64 done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (n == 0)
            errno = EIO;
        done += ok ? n : 0;
    }
    if (ok)
        ok = ::fdatasync(fd) == 0;
    if (!ok)
        *error = systemError(filePath);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return ok;
}

#else

bool RecordFile::check(QString *error) const
{
    QFile file(filePath);
    if (!file.open(QIODevice::Append)) {
        *error = filePath + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

bool RecordFile::append(const JsonLine &line, QString *error) const
{
    QFile file(filePath);
    const QByteArray text = line.toJson() + '\n';
    if (!file.open(QIODevice::Append) || file.write(text) != text.size() || !file.flush()) {
        *error = filePath + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

#endif
