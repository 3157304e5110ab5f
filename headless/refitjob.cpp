// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "refitjob.h"

#include "joboutput.h"
#include "recordfile.h"
#include "refit.h"
#include "resulttext.h"
#include "tooloptions.h"

#include <QFile>

int runRefit(const ToolOptions &options, const JobOutput &output)
{
    QFile file(options.refitPath);
    Refit refit;
    QString error;
    if (!file.open(QIODevice::ReadOnly))
        error = file.errorString();
    else if (!refitCapture(file, options.limits.values.gate, &refit, &error))
        error = QStringLiteral("not a capture: %1").arg(error);
    if (!error.isEmpty()) {
        output.progress(QStringLiteral("ERROR: cannot refit %1: %2").arg(printableText(options.refitPath), error));
        return StatusError;
    }

    JsonLine line;
    line.add("operation", QStringLiteral("refit")).add("ticks", refit.ticks);
    addCalibrationFields(line, refit.recording);
    line.add("quality", figuresJson(refit.figures))
        .add("gate", QJsonObject{{"passed", refit.verdict.passed},
                                 {"reasons", QJsonArray::fromStringList(refit.verdict.reasons)},
                                 {"limits", limitsJson(options.limits.values.gate)}});
    QString text = QStringLiteral("refit: %1").arg(qualityText(refit.recording, refit.figures, refit.verdict));
    if (const auto &fit = refit.figures.fit) {
        text += QStringLiteral("\nellipsoid: centre %1 %2 %3  radii %4 %5 %6  tilt %7 degrees")
                    .arg(fit->centre[0], 0, 'f', 1).arg(fit->centre[1], 0, 'f', 1).arg(fit->centre[2], 0, 'f', 1)
                    .arg(fit->radii[0], 0, 'f', 1).arg(fit->radii[1], 0, 'f', 1).arg(fit->radii[2], 0, 'f', 1)
                    .arg(fit->tiltDegrees, 0, 'f', 1);
    }
    output.result(text, line);
    for (const QString &reason : refit.verdict.reasons)
        output.progress(QStringLiteral("gate: ") + reason);
    return refit.verdict.passed ? StatusSuccess : StatusFailed;
}
