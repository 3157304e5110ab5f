// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "stationlimits.h"

#include "recordfile.h"
#include "resulttext.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringList>

#include <cmath>

const std::vector<LimitSpec> &limitTable()
{
    using Check = StationaryCheck::Limits;
    constexpr auto Above = LimitSpec::Lowest::Excluded;
    constexpr auto From = LimitSpec::Lowest::Included;
    // The check's limits are mean changes per sample in degrees; no change is larger than
    // 180, and a limit of 0 could never be met.
    static const std::vector<LimitSpec> table{
        limitSpec<&StationLimits::check, &Check::angle1>("check", "angle1", Above, 0.0, 180.0),
        limitSpec<&StationLimits::check, &Check::angle2>("check", "angle2", Above, 0.0, 180.0),
        limitSpec<&StationLimits::check, &Check::angle3>("check", "angle3", Above, 0.0, 180.0),
        // The calibration's gate: shares in %, a range in counts, the outlier rule's threshold
        // in median absolute deviations.
        limitSpec<&StationLimits::gate, &GateLimits::minCoverage>("calibration", "minCoverage", From, 0.0, 100.0,
                                                                  "min-coverage"),
        limitSpec<&StationLimits::gate, &GateLimits::maxFitError>("calibration", "maxFitError", From, 0.0, 100.0,
                                                                  "max-fit-error"),
        limitSpec<&StationLimits::gate, &GateLimits::minAxisRange>("calibration", "minRange", From, 0.0, 400.0,
                                                                   "min-range"),
        limitSpec<&StationLimits::gate, &GateLimits::outlierMads>("calibration", "outlierMads", Above, 0.0, 1000.0,
                                                                  "max-outlier-mads"),
    };
    return table;
}

namespace {

QString numberText(double value)
{
    return QString::number(value, 'g', 12);
}

QString rangeText(const LimitSpec &spec)
{
    return spec.lowestBound == LimitSpec::Lowest::Excluded
               ? QStringLiteral("more than %1 and at most %2").arg(numberText(spec.lowest), numberText(spec.highest))
               : QStringLiteral("%1 to %2").arg(numberText(spec.lowest), numberText(spec.highest));
}

bool inRange(const LimitSpec &spec, double value)
{
    const bool aboveLowest = spec.lowestBound == LimitSpec::Lowest::Excluded ? value > spec.lowest
                                                                            : value >= spec.lowest;
    return aboveLowest && value <= spec.highest;
}

// The names the table knows in `section`, or its sections for an empty one: for a message.
QString knownNames(const QString &section)
{
    QStringList names;
    for (const LimitSpec &spec : limitTable()) {
        const QString name = QString::fromLatin1(section.isEmpty() ? spec.section : spec.key);
        if ((section.isEmpty() || section == QLatin1String(spec.section)) && !names.contains(name))
            names << name;
    }
    return names.join(QStringLiteral(", "));
}

const LimitSpec *findSpec(const QString &section, const QString &key)
{
    for (const LimitSpec &spec : limitTable()) {
        if (section == QLatin1String(spec.section) && (key.isNull() || key == QLatin1String(spec.key)))
            return &spec;
    }
    return nullptr;
}

} // namespace

QString limitValueError(const LimitSpec &spec, double value)
{
    if (!inRange(spec, value))
        return QStringLiteral("is %1, must be %2").arg(numberText(value), rangeText(spec));
    if (spec.whole && std::floor(value) != value)
        return QStringLiteral("is %1, must be a whole number").arg(numberText(value));
    return QString();
}

bool parseLimits(const QByteArray &json, StationLimits *limits, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON: %1 at byte %2").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("holds no JSON object");
        return false;
    }
    StationLimits read;
    const QJsonObject file = document.object();
    for (auto section = file.begin(); section != file.end(); ++section) {
        const QString sectionName = printableText(section.key());
        if (!findSpec(section.key(), QString())) {
            *error = QStringLiteral("unknown section \"%1\" (known: %2)").arg(sectionName, knownNames(QString()));
            return false;
        }
        if (!section.value().isObject()) {
            *error = QStringLiteral("\"%1\" holds no JSON object").arg(sectionName);
            return false;
        }
        const QJsonObject keys = section.value().toObject();
        for (auto key = keys.begin(); key != keys.end(); ++key) {
            const QString name = sectionName + QLatin1Char('.') + printableText(key.key());
            const LimitSpec *spec = findSpec(section.key(), key.key());
            if (!spec) {
                *error = QStringLiteral("unknown limit \"%1\" (known in \"%2\": %3)")
                             .arg(name, sectionName, knownNames(section.key()));
                return false;
            }
            if (!key.value().isDouble()) {
                *error = QStringLiteral("%1 is not a number").arg(name);
                return false;
            }
            const double value = key.value().toDouble();
            const QString problem = limitValueError(*spec, value);
            if (!problem.isEmpty()) {
                *error = name + QLatin1Char(' ') + problem;
                return false;
            }
            spec->set(read, value);
        }
    }
    *limits = read;
    return true;
}

bool loadLimitsFile(const QString &path, LimitsInUse *limits, QString *error)
{
    const QString shownPath = printableText(path, ShownPathChars);
    QByteArray contents;
    QString readError;
    if (!readRegularFile(path, LimitsFileMaxBytes, &contents, &readError)) {
        *error = QStringLiteral("cannot read the limits file %1").arg(readError);
        return false;
    }
    StationLimits values;
    QString parseError;
    if (!parseLimits(contents, &values, &parseError)) {
        *error = QStringLiteral("the limits file %1: %2").arg(shownPath, parseError);
        return false;
    }
    // The digest is of the very bytes that were parsed.
    limits->values = values;
    limits->path = path;
    limits->sha256 = QCryptographicHash::hash(contents, QCryptographicHash::Sha256).toHex();
    return true;
}

QJsonObject limitsObject(const StationLimits &limits)
{
    QJsonObject object;
    for (const LimitSpec &spec : limitTable()) {
        const QString section = QString::fromLatin1(spec.section);
        QJsonObject keys = object.value(section).toObject();
        keys.insert(QString::fromLatin1(spec.key), spec.get(limits));
        object.insert(section, keys);
    }
    return object;
}
