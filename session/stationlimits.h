// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The limits a station judges its units by, and the JSON file a line keeps them in:
//
//   {"check": {"angle1": 1.0, "angle2": 0.1, "angle3": 0.6},
//    "calibration": {"minCoverage": 85, "maxFitError": 5, "minRange": 40, "outlierMads": 5}}
//
// Every limit has a section and a key in the file, a range it must lie in, and the member of
// StationLimits it sets; limits the file leaves out keep their defaults. Each record line
// carries the limits a job used, in the same shape, and the SHA-256 of the file they came
// from.
#pragma once

#include "calibrationgate.h"
#include "stationarycheck.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <type_traits>
#include <vector>

struct StationLimits {
    StationaryCheck::Limits check;
    GateLimits gate;
};

// One limit a file may set.
struct LimitRule {
    enum class Lowest {
        Included,   // lowest <= value <= highest
        Excluded,   // lowest < value <= highest
    };

    const char *section;
    const char *key;
    Lowest lowestBound;
    double lowest;
    double highest;
    bool whole;   // whole numbers only (counts)
    double (*get)(const StationLimits &);
    void (*set)(StationLimits &, double);
    const char *option;   // the command-line option that overrides the file's value, or null
};

// The rule for the limit at `Group`.*`Member` of StationLimits, for the table of limits:
//   limitRule<&StationLimits::check, &StationaryCheck::Limits::angle1>("check", "angle1", ...)
// Its default is the member's own initial value; an integral member takes whole numbers only.
template <auto Group, auto Member>
LimitRule limitRule(const char *section, const char *key, LimitRule::Lowest bound, double lowest,
                    double highest, const char *option = nullptr)
{
    using Value = std::decay_t<decltype(std::declval<StationLimits &>().*Group.*Member)>;
    static_assert(std::is_arithmetic<Value>::value, "a limit is a number");
    return LimitRule{section, key, bound, lowest, highest, std::is_integral<Value>::value,
                     [](const StationLimits &limits) { return double(limits.*Group.*Member); },
                     [](StationLimits &limits, double value) { limits.*Group.*Member = Value(value); },
                     option};
}

// Every limit a file may set.
const std::vector<LimitRule> &limitTable();

// What is wrong with `value` for `rule` ("is 120, must be 0 to 100"), or empty when nothing.
QString limitValueError(const LimitRule &rule, double value);

// What a job judges by: the limits, and where they came from.
struct LimitsInUse {
    StationLimits values;
    QString path;         // empty: the defaults, no file
    QByteArray sha256;    // the file's SHA-256, 64 lower-case hex digits; empty with no file
};

// The largest limits file read. Anything larger is not a limits file.
constexpr qint64 LimitsFileMaxBytes = 64 * 1024;

// Reads the limits file at `path` (a regular file of at most LimitsFileMaxBytes) and checks
// every limit in it. False, with one line in `error` that names the file and says what is
// wrong, when it is missing, unreadable, not a regular file, not JSON, has an unknown section
// or key, or a value that is not a number or out of its range.
bool loadLimitsFile(const QString &path, LimitsInUse *limits, QString *error);

// The same for the file's contents: the limits it sets, over the defaults.
bool parseLimits(const QByteArray &json, StationLimits *limits, QString *error);

// The limits as a file would give them, every one of them: {"check": {"angle1": ...}}.
QJsonObject limitsObject(const StationLimits &limits);
