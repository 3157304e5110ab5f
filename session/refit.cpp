// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "refit.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

namespace {

// Three counts from a JSON array, each a whole number a report can carry.
bool readCounts(const QJsonValue &value, int16_t out[3])
{
    const QJsonArray array = value.toArray();
    if (array.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        const double v = array.at(i).toDouble(std::numeric_limits<double>::quiet_NaN());
        if (!(v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max())
                || v != double(int(v)))
            return false;
        out[i] = int16_t(v);
    }
    return true;
}

} // namespace

bool refitCapture(QIODevice &capture, const GateLimits &limits, Refit *result, QString *error)
{
    // Longer lines than any the tool writes are not read whole.
    constexpr qint64 LongestLine = 4096;
    Refit refit;
    bool started = false;
    int16_t latest[3] = {0, 0, 0};
    for (int number = 1; !capture.atEnd(); ++number) {
        const QByteArray line = capture.readLine(LongestLine).trimmed();
        if (line.isEmpty())
            continue;
        const QJsonObject fields = QJsonDocument::fromJson(line).object();
        const QString type = fields.value(QStringLiteral("type")).toString();
        bool ok = true;
        if (type == QLatin1String("raw")) {
            ok = readCounts(fields.value(QStringLiteral("mag")), latest);
            if (ok && started)
                refit.recording.addSample(latest);
        } else if (type == QLatin1String("start")) {
            refit.recording.start();
            refit.ticks = 0;
            started = true;
        } else if (type == QLatin1String("tick")) {
            if (started) {
                refit.recording.tick(latest);
                ++refit.ticks;
            }
        } else {
            ok = type == QLatin1String("pose") || type == QLatin1String("controls");
        }
        if (!ok) {
            *error = QStringLiteral("line %1 is no capture line").arg(number);
            return false;
        }
    }
    if (!started) {
        *error = QStringLiteral("it holds no calibration");
        return false;
    }
    refit.figures = refit.recording.figures(limits.outlierMads);
    refit.verdict = judgeCalibration(refit.figures, limits);
    *result = refit;
    return true;
}
