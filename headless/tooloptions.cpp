// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "tooloptions.h"

#include "protocol.h"
#include "resulttext.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <limits>

namespace {

constexpr int LongestSeconds = 24 * 3600;

const char Description[] =
    "Without options, opens the window. With --list, or with --address and one or more\n"
    "operations, runs the job without a window (no display needed) and exits. Operations run\n"
    "in this order: calibrate, then save or write, then check. Results go to standard output,\n"
    "progress and messages to standard error.";

const char Statuses[] =
    "\nExit status:\n"
    "  0  every operation succeeded: the controller answered success, the check passed\n"
    "  1  the controller answered \"fail\", or the check failed\n"
    "  2  the job could not finish: bad usage, a limits or record file that cannot be\n"
    "     used, no adapter, controller not found, connection failed, link lost, no\n"
    "     answer in time, no reports\n";

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {"list", "Scan and print each controller as it is first seen (address, RSSI when "
                 "known, name), until the timeout."},
        {"address", "The controller to use: 12 hex digits, any case, colons allowed "
                    "(00:02:5B:0A:1C:01).", "ADDR"},
        {"calibrate", "Record the magnetometer's extremes for SECONDS (whole seconds) while "
                      "the unit is turned; print them and the coverage once a second.",
         "SECONDS"},
        {"save", "With --calibrate: write the recorded extremes to the controller and wait "
                 "for its answer."},
        {"write", "Write these six values (each -32768..32767) and wait for the answer.",
         "MAXX,MAXY,MAXZ,MINX,MINY,MINZ"},
        {"check", "Run the stationary check (keep the unit still) and print its three sums, "
                  "three means and the verdict."},
        {"force", "With --save: write the calibration even when it fails the quality gate; the "
                  "record says it was forced, and the job still ends with 1."},
        {"min-coverage", "The gate: the least share of the sphere's 100 regions the samples must "
                         "point into (default 85).", "PERCENT"},
        {"max-fit-error", "The gate: the largest fit error of the six values (default 5).", "PERCENT"},
        {"min-range", "The gate: the least range, max - min, of every axis (default 40).", "COUNTS"},
        {"max-outlier-mads", "The gate: a sample further than this many median absolute "
                             "deviations from the median radius is an outlier (default 5).", "MADS"},
        {"capture", "Append every report of the job to FILE, one JSON line each (ms since the "
                    "link came up, type, values), with each calibration start and tick.", "FILE"},
        {"refit", "Replay a capture with no controller: print the calibration it held, its "
                  "figures, the gate's verdict and the full ellipsoid fit.", "FILE"},
        {"json", "Print one JSON object per line instead of text."},
        {"record", "Append one JSON line per operation to FILE (a regular file), creating it "
                   "if needed. The window takes it too: it records each save's answer and each "
                   "check's verdict.", "FILE"},
        {"serial", "The unit's serial number, into every record line; each line counts the "
                   "attempts at its operation on this serial.", "TEXT"},
        {"operator", "The operator, into every record line.", "TEXT"},
        {"station", "The station, into every record line. Each of --serial, --operator and "
                    "--station takes 1 to 64 printable characters.", "TEXT"},
        {"limits", "Judge by the limits in FILE (JSON, such as {\"check\": {\"angle1\": 1.0, "
                   "\"angle2\": 0.1, \"angle3\": 0.6}}) instead of the defaults; every record line "
                   "holds the limits used and the file's SHA-256. The window takes it too.", "FILE"},
        {"timeout", "Limit for finding the adapter, finding the controller and connecting "
                    "(default 15), and for each answer (default 5).", "SECONDS"},
    });
}

bool parseValues(const QString &text, MAG_PARAM *values)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 6)
        return false;
    int16_t parsed[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const int value = parts[i].trimmed().toInt(&ok, 10);
        if (!ok || value < std::numeric_limits<int16_t>::min()
            || value > std::numeric_limits<int16_t>::max())
            return false;
        parsed[i] = int16_t(value);
    }
    *values = MAG_PARAM{parsed[0], parsed[1], parsed[2], parsed[3], parsed[4], parsed[5]};
    return true;
}

ToolOptions failure(const QString &error)
{
    ToolOptions options;
    options.mode = ToolOptions::Mode::Error;
    options.error = error;
    return options;
}

// What is wrong with a serial number, operator or station as given, or nothing. A barcode
// scanner types them: printable characters, no space at either end (it would make one unit
// two serials).
QString identityError(const QString &option, const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("%1 needs a text of 1 to %2 characters").arg(option).arg(IdentityMaxChars);
    const QVector<uint> characters = text.toUcs4();
    const QString shown = printableText(text);
    if (characters.size() > IdentityMaxChars)
        return QStringLiteral("%1 '%2' is longer than %3 characters").arg(option, shown).arg(IdentityMaxChars);
    for (const uint character : characters) {
        if (!printableCharacter(character))
            return QStringLiteral("%1 '%2' holds a character that is not printable").arg(option, shown);
    }
    if (QChar::isSpace(characters.first()) || QChar::isSpace(characters.last()))
        return QStringLiteral("%1 '%2' begins or ends with a space").arg(option, shown);
    return QString();
}

} // namespace

QString toolHelpText()
{
    QCommandLineParser parser;
    addOptions(parser);
    return parser.helpText() + QString::fromLatin1(Statuses);
}

QByteArray addressTextFromOption(const QString &option)
{
    QByteArray digits = option.toLatin1();
    digits.replace(':', QByteArray());
    BleAddress address{};
    if (!Protocol::parseAddressText(digits.constData(), &address))
        return QByteArray();
    char text[Protocol::AddressTextLength + 1];
    Protocol::formatAddressText(address, text);
    return QByteArray(text);
}

ToolOptions parseToolOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        // An unknown option is shown as given, made safe to print.
        if (!parser.unknownOptionNames().isEmpty())
            return failure(QStringLiteral("unknown option '%1'").arg(printableText(parser.unknownOptionNames().first())));
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        return failure(printableText(error, ShownPathChars));
    }
    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("unexpected argument '%1'").arg(printableText(parser.positionalArguments().first())));
    for (const char *name : {"address", "calibrate", "write", "record", "timeout", "serial", "operator",
                             "station", "limits", "min-coverage", "max-fit-error", "min-range",
                             "max-outlier-mads", "capture", "refit"}) {
        if (parser.values(QLatin1String(name)).size() > 1)
            return failure(QStringLiteral("--%1 is given more than once").arg(QLatin1String(name)));
    }

    ToolOptions options;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        options.mode = ToolOptions::Mode::Help;
        return options;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        options.mode = ToolOptions::Mode::Version;
        return options;
    }

    options.force = parser.isSet(QStringLiteral("force"));
    options.capturePath = parser.value(QStringLiteral("capture"));
    options.refitPath = parser.value(QStringLiteral("refit"));
    for (const char *name : {"capture", "refit"}) {
        if (parser.isSet(QLatin1String(name)) && parser.value(QLatin1String(name)).isEmpty())
            return failure(QStringLiteral("--%1 needs a file name").arg(QLatin1String(name)));
    }
    options.list = parser.isSet(QStringLiteral("list"));
    options.save = parser.isSet(QStringLiteral("save"));
    options.check = parser.isSet(QStringLiteral("check"));
    options.json = parser.isSet(QStringLiteral("json"));
    options.recordPath = parser.value(QStringLiteral("record"));
    if (parser.isSet(QStringLiteral("record")) && options.recordPath.isEmpty())
        return failure(QStringLiteral("--record needs a file name"));
    const struct {
        const char *option;
        QString *text;
    } identity[] = {{"serial", &options.identity.serial},
                    {"operator", &options.identity.operatorName},
                    {"station", &options.identity.station}};
    bool identified = false;
    for (const auto &given : identity) {
        const QString option = QLatin1String(given.option);
        if (!parser.isSet(option))
            continue;
        identified = true;
        *given.text = parser.value(option);
        const QString error = identityError(QStringLiteral("--") + option, *given.text);
        if (!error.isEmpty())
            return failure(error);
    }
    const QString limitsPath = parser.value(QStringLiteral("limits"));
    if (parser.isSet(QStringLiteral("limits")) && limitsPath.isEmpty())
        return failure(QStringLiteral("--limits needs a file name"));

    if (parser.isSet(QStringLiteral("address"))) {
        options.address = addressTextFromOption(parser.value(QStringLiteral("address")));
        if (options.address.isEmpty())
            return failure(QStringLiteral("--address '%1' is not 12 hexadecimal digits")
                                   .arg(printableText(parser.value(QStringLiteral("address")))));
    }
    if (parser.isSet(QStringLiteral("calibrate"))) {
        bool ok = false;
        options.calibrateSeconds = parser.value(QStringLiteral("calibrate")).toInt(&ok, 10);
        if (!ok || options.calibrateSeconds < 1 || options.calibrateSeconds > LongestSeconds)
            return failure(QStringLiteral("--calibrate takes whole seconds, 1 to %1").arg(LongestSeconds));
    }
    if (parser.isSet(QStringLiteral("write"))) {
        options.write = true;
        if (!parseValues(parser.value(QStringLiteral("write")), &options.values))
            return failure(QStringLiteral("--write takes six whole numbers -32768..32767, "
                                          "separated by commas"));
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("timeout")).toDouble(&ok);
        if (!ok || !(seconds > 0.0) || seconds > LongestSeconds)
            return failure(QStringLiteral("--timeout takes seconds, more than 0 and at most %1").arg(LongestSeconds));
        options.connectTimeoutMs = options.answerTimeoutMs = std::max(1, int(std::lround(seconds * 1000)));
    }

    const bool operation = options.calibrateSeconds > 0 || options.write || options.check;
    if (options.force && !options.save)
        return failure(QStringLiteral("--force forces a save: it needs --save"));
    if (!options.capturePath.isEmpty() && !operation)
        return failure(QStringLiteral("--capture records a job's reports: it needs an operation"));
    if (options.save && !options.calibrateSeconds)
        return failure(QStringLiteral("--save saves a calibration: it needs --calibrate"));
    if (options.save && options.write)
        return failure(QStringLiteral("--save and --write both write values: give one of them"));
    if (!options.refitPath.isEmpty()) {
        if (operation || options.list || !options.address.isEmpty() || !options.recordPath.isEmpty())
            return failure(QStringLiteral("--refit runs alone: no controller, no operation, no record"));
        options.mode = ToolOptions::Mode::Refit;
    } else if (options.list) {
        if (operation || !options.address.isEmpty())
            return failure(QStringLiteral("--list runs alone: no --address and no operation"));
        if (!options.recordPath.isEmpty() || identified || !limitsPath.isEmpty())
            return failure(QStringLiteral("--list records and judges nothing: leave out --record, "
                                          "--serial, --operator, --station and --limits"));
        options.mode = ToolOptions::Mode::Headless;
        return options;
    } else if (operation) {
        if (options.address.isEmpty())
            return failure(QStringLiteral("--calibrate, --write and --check need --address"));
        options.mode = ToolOptions::Mode::Headless;
    } else if (!options.address.isEmpty() || options.json) {
        // The window takes --record, the identity, the limits and the answer deadline.
        return failure(QStringLiteral("nothing to do: give --list, or --address with "
                                      "--calibrate, --write or --check"));
    } else {
        options.mode = ToolOptions::Mode::Window;
    }
    // Read last, once the rest is known to be sound, and before anything is connected or shown.
    QString limitsError;
    if (!limitsPath.isEmpty() && !loadLimitsFile(limitsPath, &options.limits, &limitsError))
        return failure(limitsError);
    // A limit given as an option overrides the file's.
    for (const LimitRule &rule : limitTable()) {
        if (!rule.option || !parser.isSet(QLatin1String(rule.option)))
            continue;
        bool ok = false;
        const double value = parser.value(QLatin1String(rule.option)).toDouble(&ok);
        const QString problem = ok ? limitValueError(rule, value) : QStringLiteral("takes a number");
        if (!problem.isEmpty())
            return failure(QStringLiteral("--%1 %2").arg(QLatin1String(rule.option), problem));
        rule.set(options.limits.values, value);
    }
    return options;
}
