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

const std::vector<LimitRule> &limitTable()
{
    using Check = StationaryCheck::Limits;
    constexpr auto Above = LimitRule::Lowest::Excluded;
    constexpr auto From = LimitRule::Lowest::Included;
    // The check's limits are mean changes per sample in degrees; no change is larger than
    // 180, and a limit of 0 could never be met.
    static const std::vector<LimitRule> table{
        limitRule<&StationLimits::check, &Check::angle1>("check", "angle1", Above, 0.0, 180.0),
        limitRule<&StationLimits::check, &Check::angle2>("check", "angle2", Above, 0.0, 180.0),
        limitRule<&StationLimits::check, &Check::angle3>("check", "angle3", Above, 0.0, 180.0),
        // The calibration's gate: shares in %, a range in counts, the outlier rule's threshold
        // in median absolute deviations.
        limitRule<&StationLimits::gate, &GateLimits::minCoverage>("calibration", "minCoverage", From, 0.0, 100.0,
                                                                  "min-coverage"),
        limitRule<&StationLimits::gate, &GateLimits::maxFitError>("calibration", "maxFitError", From, 0.0, 100.0,
                                                                  "max-fit-error"),
        limitRule<&StationLimits::gate, &GateLimits::minAxisRange>("calibration", "minRange", From, 0.0, 400.0,
                                                                   "min-range"),
        limitRule<&StationLimits::gate, &GateLimits::outlierMads>("calibration", "outlierMads", Above, 0.0, 1000.0,
                                                                  "max-outlier-mads"),
    };
    return table;
}

namespace {

QString numberText(double value)
{
    return QString::number(value, 'g', 12);
}

QString rangeText(const LimitRule &rule)
{
    return rule.lowestBound == LimitRule::Lowest::Excluded
               ? QStringLiteral("more than %1 and at most %2").arg(numberText(rule.lowest), numberText(rule.highest))
               : QStringLiteral("%1 to %2").arg(numberText(rule.lowest), numberText(rule.highest));
}

bool inRange(const LimitRule &rule, double value)
{
    const bool aboveLowest = rule.lowestBound == LimitRule::Lowest::Excluded ? value > rule.lowest
                                                                            : value >= rule.lowest;
    return aboveLowest && value <= rule.highest;
}

// The names the table knows in `section`, or its sections for an empty one: for a message.
QString knownNames(const QString &section)
{
    QStringList names;
    for (const LimitRule &rule : limitTable()) {
        const QString name = QString::fromLatin1(section.isEmpty() ? rule.section : rule.key);
        if ((section.isEmpty() || section == QLatin1String(rule.section)) && !names.contains(name))
            names << name;
    }
    return names.join(QStringLiteral(", "));
}

const LimitRule *findRule(const QString &section, const QString &key)
{
    for (const LimitRule &rule : limitTable()) {
        if (section == QLatin1String(rule.section) && (key.isNull() || key == QLatin1String(rule.key)))
            return &rule;
    }
    return nullptr;
}

} // namespace

QString limitValueError(const LimitRule &rule, double value)
{
    if (!inRange(rule, value))
        return QStringLiteral("is %1, must be %2").arg(numberText(value), rangeText(rule));
    if (rule.whole && std::floor(value) != value)
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
        if (!findRule(section.key(), QString())) {
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
            const LimitRule *rule = findRule(section.key(), key.key());
            if (!rule) {
                *error = QStringLiteral("unknown limit \"%1\" (known in \"%2\": %3)")
                             .arg(name, sectionName, knownNames(section.key()));
                return false;
            }
            if (!key.value().isDouble()) {
                *error = QStringLiteral("%1 is not a number").arg(name);
                return false;
            }
            const double value = key.value().toDouble();
            const QString problem = limitValueError(*rule, value);
            if (!problem.isEmpty()) {
                *error = name + QLatin1Char(' ') + problem;
                return false;
            }
            rule->set(read, value);
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
    for (const LimitRule &rule : limitTable()) {
        const QString section = QString::fromLatin1(rule.section);
        QJsonObject keys = object.value(section).toObject();
        keys.insert(QString::fromLatin1(rule.key), rule.get(limits));
        object.insert(section, keys);
    }
    return object;
}
