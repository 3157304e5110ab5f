// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "resulttext.h"

#include "checksession.h"
#include "controllersession.h"
#include "magrecording.h"
#include "recordfile.h"

bool printableCharacter(uint code)
{
    const QChar::Category category = QChar::category(code);
    return QChar::isPrint(code) && category != QChar::Separator_Line && category != QChar::Separator_Paragraph;
}

namespace {

// One character of a text as printableText shows it.
QString shownCharacter(uint code)
{
    switch (code) {
    case '\\':
        return QStringLiteral("\\\\");
    case '\n':
        return QStringLiteral("\\n");
    case '\r':
        return QStringLiteral("\\r");
    case '\t':
        return QStringLiteral("\\t");
    default:
        break;
    }
    // A lone surrogate is no character at all; QChar::isPrint says so too.
    if (printableCharacter(code))
        return QString::fromUcs4(&code, 1);
    if (code < 0x100)
        return QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
    if (code < 0x10000)
        return QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
    return QStringLiteral("\\U%1").arg(code, 8, 16, QLatin1Char('0'));
}

} // namespace

QString printableText(const QString &text, int maxChars)
{
    QString shown;
    int shownChars = 0;
    for (int i = 0; i < text.size(); ++i) {
        uint code = text.at(i).unicode();
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        const QString piece = shownCharacter(code);
        // Counted in characters as they appear, a pair of surrogates as one.
        const int pieceChars = piece.size() == 2 && piece.at(0).isHighSurrogate() ? 1 : piece.size();
        if (shownChars + pieceChars > maxChars)
            return shown + QStringLiteral("…");
        shown += piece;
        shownChars += pieceChars;
    }
    return shown;
}

QString secondsText(int ms)
{
    return QString::number(ms / 1000.0, 'g', 6) + QStringLiteral(" s");
}

QString valueText(const MAG_PARAM &v)
{
    return QStringLiteral("%1,%2,%3,%4,%5,%6")
            .arg(v.max_x).arg(v.max_y).arg(v.max_z).arg(v.min_x).arg(v.min_y).arg(v.min_z);
}

QString calibrationText(const MagRecording &recording)
{
    const int16_t *max = recording.max();
    const int16_t *min = recording.min();
    return QStringLiteral("max %1 %2 %3  min %4 %5 %6  coverage %7%")
            .arg(max[0]).arg(max[1]).arg(max[2]).arg(min[0]).arg(min[1]).arg(min[2])
            .arg(QString::number(recording.coverage(), 'f', 0));
}

QString qualityText(const MagRecording &recording, const MagQualityFigures &figures, const GateVerdict &verdict)
{
    auto percent = [](const std::optional<double> &v) {
        return v ? QString::number(*v, 'f', 1) + QLatin1Char('%') : QStringLiteral("?");
    };
    return QStringLiteral("%1  fit error %2  full fit %3  field %4  outliers %5  %6")
            .arg(calibrationText(recording), percent(figures.fitError), percent(figures.fullFitError))
            .arg(figures.field, 0, 'f', 0).arg(figures.outliers)
            .arg(verdict.passed ? QStringLiteral("passed") : QStringLiteral("failed"));
}

QString checkText(const CheckSession &check, bool passed)
{
    const double *sums = check.sums();
    return QStringLiteral("sums %1 %2 %3  means %4 %5 %6  samples %7  %8")
            .arg(sums[0], 0, 'f', 3).arg(sums[1], 0, 'f', 3).arg(sums[2], 0, 'f', 3)
            .arg(check.mean(0), 0, 'f', 4).arg(check.mean(1), 0, 'f', 4).arg(check.mean(2), 0, 'f', 4)
            .arg(check.count())
            .arg(passed ? QStringLiteral("passed") : QStringLiteral("failed"));
}

QString sightingText(const QByteArray &address, const QString &name, short rssi)
{
    const QString strength = ControllerSession::rssiKnown(rssi) ? QString::number(rssi) + QStringLiteral(" dBm")
                                                                : QStringLiteral("? dBm");
    return QStringLiteral("%1  %2  %3").arg(QString::fromLatin1(address), strength.rightJustified(8),
                                            printableText(name));
}

JsonLine sightingLine(const QByteArray &address, const QString &name, short rssi)
{
    JsonLine line;
    line.add("address", QString::fromLatin1(address))
        .add("name", name)
        .add("rssi", ControllerSession::rssiKnown(rssi) ? QJsonValue(rssi) : QJsonValue());
    return line;
}
