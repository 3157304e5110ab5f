// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The command line both executables take: what to run (the window, or a job without one) and
// how. Parsed before any application object exists, so that a job can run with no display.
#pragma once

#include "calibrationgate.h"
#include "imutypes.h"
#include "outcome.h"
#include "recordfile.h"
#include "stationlimits.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct ToolOptions {
    enum class Mode {
        Window,     // no option, or only --record, identity and --limits: the window
        Headless,   // a job: --list, or operations on --address
        Refit,      // --refit: a capture replayed, no controller
        Help,
        Version,
        Error,      // bad usage; `error` says why
    };

    Mode mode = Mode::Window;
    QString error;

    bool list = false;
    QByteArray address;         // twelve capital hex digits
    int calibrateSeconds = 0;   // 0: no calibration
    bool save = false;          // write the calibration's extremes
    bool force = false;         // ... even when they fail the gate
    QString capturePath;        // every report of the job, appended
    QString refitPath;          // a capture to replay
    bool write = false;         // write `values`
    MAG_PARAM values;
    bool check = false;
    bool json = false;
    QString recordPath;
    // Who tests which unit where: into every record line.
    StationIdentity identity;
    // What the check (and the record) judges by: the defaults, or a limits file's, read and
    // checked while the options are parsed.
    LimitsInUse limits;
    // Finding the adapter, finding the controller and connecting, together.
    int connectTimeoutMs = 15000;
    // Each answer: a write's acknowledgement, and reports while a procedure runs.
    int answerTimeoutMs = 5000;
};

// Parses `arguments` (the program's name first). Reads the limits file that --limits names;
// a file that cannot be used is an error like bad usage.
ToolOptions parseToolOptions(const QStringList &arguments);

// The longest serial number, operator or station a record takes.
constexpr int IdentityMaxChars = 64;

// The usage text, with every option and the exit statuses. Needs the application object
// (for the program's name).
QString toolHelpText();

// An address as the user may give it: twelve hex digits in either case, colons allowed.
// Returns the tool's address text (twelve capital digits), or an empty array.
QByteArray addressTextFromOption(const QString &option);
