// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "calibrationgate.h"

#include <QJsonArray>

#include <cmath>

namespace {

const char *const AxisNames[3] = {"x", "y", "z"};

// A figure in a reason, to the fewest decimals (from `decimals` up to three) that still show
// it on the failing side of its limit: 84.96 % against a minimum of 85 % reads "84.96", not
// "85".
QString beyond(double value, double limit, bool below, int decimals)
{
    QString text;
    for (int d = decimals; d <= 3; ++d) {
        text = QString::number(value, 'f', d);
        const double shown = text.toDouble();
        if (below ? shown < limit : shown > limit)
            break;
    }
    return text;
}

QString limitText(double limit)
{
    return QString::number(limit, 'g', 6);
}

QJsonValue rounded(double value, int decimals)
{
    if (!std::isfinite(value))
        return QJsonValue();
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

QJsonValue rounded(const std::optional<double> &value, int decimals)
{
    return value ? rounded(*value, decimals) : QJsonValue();
}

QJsonArray triple(const std::array<double, 3> &values, int decimals)
{
    return QJsonArray{rounded(values[0], decimals), rounded(values[1], decimals), rounded(values[2], decimals)};
}

} // namespace

QString extremeName(int which)
{
    if (which < 0 || which >= MagExtremes::Count)
        return QString();
    return QStringLiteral("%1_%2").arg(which < 3 ? QStringLiteral("max") : QStringLiteral("min"),
                                       QLatin1String(AxisNames[which % 3]));
}

GateVerdict judgeCalibration(const MagQualityFigures &f, const GateLimits &limits)
{
    GateVerdict verdict;
    QStringList &reasons = verdict.reasons;
    if (!std::isfinite(limits.minCoverage) || !std::isfinite(limits.maxFitError)
        || !std::isfinite(limits.outlierMads) || !(limits.outlierMads > 0.0)) {
        reasons << QStringLiteral("gate limits not usable: coverage, fit error and outlier threshold must be "
                                  "numbers, the threshold above 0");
        return verdict;
    }
    if (f.samples <= 0) {
        reasons << QStringLiteral("no magnetometer samples: the unit sent none while recording; check that it "
                                  "is connected and streaming, then record again");
        return verdict;
    }

    if (!(f.coverage >= limits.minCoverage))
        reasons << QStringLiteral("coverage %1 % (needs %2 %): turn the unit through the directions still missing")
                           .arg(beyond(f.coverage, limits.minCoverage, true, 0), limitText(limits.minCoverage));

    bool rangeFailed = false;
    for (int axis = 0; axis < 3; ++axis)
        rangeFailed = rangeFailed || f.ranges[size_t(axis)] < limits.minAxisRange;
    if (f.fitError && !(*f.fitError <= limits.maxFitError))
        reasons << QStringLiteral("fit error %1 % (allowed %2 %): the six values leave the field distorted; record "
                                  "again away from metal and magnets, turning the unit through every direction")
                           .arg(beyond(*f.fitError, limits.maxFitError, false, 1), limitText(limits.maxFitError));
    else if (!f.fitError && !rangeFailed)
        reasons << QStringLiteral("fit error unknown: an axis has no range; turn the unit through every direction");

    for (int e = 0; e < MagExtremes::Count; ++e) {
        if (f.setByOutlier[size_t(e)])
            reasons << QStringLiteral("%1 set by one outlying sample: record again away from metal").arg(extremeName(e));
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (f.ranges[size_t(axis)] < limits.minAxisRange)
            reasons << QStringLiteral("%1 range %2 counts (needs %3): turn the unit so that %1 points every way")
                               .arg(QLatin1String(AxisNames[axis])).arg(f.ranges[size_t(axis)]).arg(limits.minAxisRange);
    }
    for (int axis = 0; axis < 3; ++axis) {
        const QLatin1String name(AxisNames[axis]);
        if (!f.measured[size_t(axis)])
            reasons << QStringLiteral("%1 never read above zero: its maximum 0 was not measured").arg(name);
        if (!f.measured[size_t(axis) + 3])
            reasons << QStringLiteral("%1 never read below zero: its minimum 0 was not measured").arg(name);
    }
    verdict.passed = reasons.isEmpty();
    return verdict;
}

QJsonObject figuresJson(const MagQualityFigures &f)
{
    QJsonObject o;
    o.insert(QStringLiteral("samples"), double(f.samples));
    o.insert(QStringLiteral("samples_used"), f.samplesUsed);
    o.insert(QStringLiteral("coverage"), rounded(f.coverage, 1));
    o.insert(QStringLiteral("fit_error"), rounded(f.fitError, 2));
    o.insert(QStringLiteral("full_fit_error"), rounded(f.fullFitError, 2));
    if (f.fit) {
        QJsonArray axes;
        for (const auto &row : f.fit->axes)
            axes.append(triple(row, 4));
        o.insert(QStringLiteral("fit"), QJsonObject{{QStringLiteral("centre"), triple(f.fit->centre, 1)},
                                                    {QStringLiteral("radii"), triple(f.fit->radii, 1)},
                                                    {QStringLiteral("axes"), axes},
                                                    {QStringLiteral("tilt"), rounded(f.fit->tiltDegrees, 1)}});
    } else {
        o.insert(QStringLiteral("fit"), QJsonValue());
    }
    o.insert(QStringLiteral("field"), rounded(f.field, 1));
    o.insert(QStringLiteral("ranges"), QJsonArray{f.ranges[0], f.ranges[1], f.ranges[2]});
    o.insert(QStringLiteral("balance"), rounded(f.balance, 3));
    o.insert(QStringLiteral("outliers"), f.outliers);
    QJsonArray outlying, unmeasured;
    for (int e = 0; e < MagExtremes::Count; ++e) {
        if (f.setByOutlier[size_t(e)])
            outlying.append(extremeName(e));
        if (!f.measured[size_t(e)])
            unmeasured.append(extremeName(e));
    }
    o.insert(QStringLiteral("set_by_outlier"), outlying);
    o.insert(QStringLiteral("unmeasured"), unmeasured);
    return o;
}

QJsonObject limitsJson(const GateLimits &limits)
{
    return QJsonObject{{QStringLiteral("min_coverage"), rounded(limits.minCoverage, 3)},
                       {QStringLiteral("max_fit_error"), rounded(limits.maxFitError, 3)},
                       {QStringLiteral("min_range"), limits.minAxisRange},
                       {QStringLiteral("outlier_mads"), rounded(limits.outlierMads, 3)}};
}

QJsonObject gateJson(const MagQualityFigures &figures, const GateLimits &limits, const GateVerdict &verdict)
{
    return QJsonObject{{QStringLiteral("quality"), figuresJson(figures)},
                       {QStringLiteral("limits"), limitsJson(limits)},
                       {QStringLiteral("passed"), verdict.passed},
                       {QStringLiteral("reasons"), QJsonArray::fromStringList(verdict.reasons)}};
}
