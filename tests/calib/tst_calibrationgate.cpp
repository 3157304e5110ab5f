// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "calibrationgate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(MagQualityFigures)
Q_DECLARE_METATYPE(GateLimits)

namespace {

// A recording every rule passes with the default limits.
MagQualityFigures good()
{
    MagQualityFigures f;
    f.samples = 4500;
    f.samplesUsed = 4500;
    f.coverage = 100;
    f.fitError = 1.2;
    f.fullFitError = 0.4;
    f.field = 100;
    f.ranges = {196, 197, 197};
    f.balance = 196.0 / 197.0;
    f.outlierMads = 5;
    f.measured.fill(true);
    return f;
}

const QString CoverageAction = QStringLiteral("turn the unit through the directions still missing");
const QString FitAction = QStringLiteral("the six values leave the field distorted; record again away from metal and "
                                         "magnets, turning the unit through every direction");

} // namespace

class TestCalibrationGate : public QObject
{
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
    void json();
};

void TestCalibrationGate::verdict_data()
{
    QTest::addColumn<MagQualityFigures>("figures");
    QTest::addColumn<GateLimits>("limits");
    QTest::addColumn<QStringList>("reasons");

    const GateLimits defaults;
    MagQualityFigures f = good();
    QTest::newRow("a good recording") << f << defaults << QStringList();

    f = good();
    f.coverage = 84;
    QTest::newRow("coverage one region short") << f << defaults
                                               << QStringList{"coverage 84 % (needs 85 %): " + CoverageAction};
    f.coverage = 85;
    QTest::newRow("coverage at its limit") << f << defaults << QStringList();
    f.coverage = 84.96;
    QTest::newRow("coverage that would round to its limit")
            << f << defaults << QStringList{"coverage 84.96 % (needs 85 %): " + CoverageAction};

    f = good();
    f.fitError = 5.0;
    QTest::newRow("fit error at its limit") << f << defaults << QStringList();
    f.fitError = 5.04;
    QTest::newRow("fit error that would round to its limit")
            << f << defaults << QStringList{"fit error 5.04 % (allowed 5 %): " + FitAction};
    f.fitError = 7.26;
    QTest::newRow("fit error well over") << f << defaults << QStringList{"fit error 7.3 % (allowed 5 %): " + FitAction};

    f = good();
    f.fitError.reset();
    f.ranges = {0, 197, 197};
    QTest::newRow("no range on x") << f << defaults
                                   << QStringList{"x range 0 counts (needs 40): turn the unit so that x points every way"};
    GateLimits noRange;
    noRange.minAxisRange = 0;
    QTest::newRow("no range on x, none needed")
            << f << noRange
            << QStringList{"fit error unknown: an axis has no range; turn the unit through every direction"};

    f = good();
    f.ranges = {39, 40, 197};
    QTest::newRow("range one count short")
            << f << defaults << QStringList{"x range 39 counts (needs 40): turn the unit so that x points every way"};

    f = good();
    f.setByOutlier[4] = true;
    QTest::newRow("min_y set by an outlier")
            << f << defaults << QStringList{"min_y set by one outlying sample: record again away from metal"};

    f = good();
    f.measured[2] = false;
    QTest::newRow("max_z not measured")
            << f << defaults << QStringList{"z never read above zero: its maximum 0 was not measured"};

    f.coverage = 30;
    f.fitError = 12;
    f.setByOutlier[0] = true;
    f.ranges = {197, 12, 197};
    f.measured[3] = false;
    QTest::newRow("every rule, in order")
            << f << defaults
            << QStringList{"coverage 30 % (needs 85 %): " + CoverageAction,
                           "fit error 12.0 % (allowed 5 %): " + FitAction,
                           "max_x set by one outlying sample: record again away from metal",
                           "y range 12 counts (needs 40): turn the unit so that y points every way",
                           "x never read below zero: its minimum 0 was not measured",
                           "z never read above zero: its maximum 0 was not measured"};
    f.samples = 0;
    f.samplesUsed = 0;
    QTest::newRow("no samples says only that")
            << f << defaults
            << QStringList{"no magnetometer samples: the unit sent none while recording; check that it is connected "
                           "and streaming, then record again"};

    f = good();
    f.coverage = 60;
    f.fitError = 8;
    f.ranges = {20, 20, 20};
    QTest::newRow("with the defaults") << f << defaults << QStringList{
            "coverage 60 % (needs 85 %): " + CoverageAction, "fit error 8.0 % (allowed 5 %): " + FitAction,
            "x range 20 counts (needs 40): turn the unit so that x points every way",
            "y range 20 counts (needs 40): turn the unit so that y points every way",
            "z range 20 counts (needs 40): turn the unit so that z points every way"};
    QTest::newRow("with a station's own limits") << f << GateLimits{60, 8, 20, 3} << QStringList();

    const QString unusable = QStringLiteral("gate limits not usable: coverage, fit error and outlier threshold must "
                                            "be numbers, the threshold above 0");
    QTest::newRow("a limit that is no number") << good() << GateLimits{std::nan(""), 5, 40, 5} << QStringList{unusable};
    QTest::newRow("an outlier threshold of 0") << good() << GateLimits{85, 5, 40, 0} << QStringList{unusable};
}

void TestCalibrationGate::verdict()
{
    QFETCH(MagQualityFigures, figures);
    QFETCH(GateLimits, limits);
    QFETCH(QStringList, reasons);

    const GateVerdict v = judgeCalibration(figures, limits);
    QCOMPARE(v.reasons, reasons);
    QCOMPARE(v.passed, reasons.isEmpty());
}

// A record line carries every figure, the limits used, the verdict and its reasons; figures
// that do not exist are null, never a number that was made up.
void TestCalibrationGate::json()
{
    MagQualityFigures f = good();
    f.fitError.reset();
    f.setByOutlier[4] = true;
    f.measured[2] = false;
    f.outliers = 3;
    EllipsoidFit fit;
    fit.centre = {40.04, -30, 20};
    fit.radii = {100, 90, 80};
    fit.axes = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    fit.tiltDegrees = 2.25;
    f.fit = fit;
    GateLimits limits;
    limits.minCoverage = 90;
    const GateVerdict verdict = judgeCalibration(f, limits);

    const QJsonObject line = gateJson(f, limits, verdict);
    const QJsonObject q = line.value("quality").toObject();
    QCOMPARE(q.value("samples").toInt(), 4500);
    QCOMPARE(q.value("coverage").toDouble(), 100.0);
    QVERIFY(q.value("fit_error").isNull());
    QCOMPARE(q.value("full_fit_error").toDouble(), 0.4);
    QCOMPARE(q.value("fit").toObject().value("centre").toArray(), (QJsonArray{40.0, -30.0, 20.0}));
    QCOMPARE(q.value("fit").toObject().value("radii").toArray(), (QJsonArray{100.0, 90.0, 80.0}));
    QCOMPARE(q.value("fit").toObject().value("tilt").toDouble(), 2.3);
    QCOMPARE(q.value("ranges").toArray(), (QJsonArray{196, 197, 197}));
    QCOMPARE(q.value("outliers").toInt(), 3);
    QCOMPARE(q.value("set_by_outlier").toArray(), QJsonArray{"min_y"});
    QCOMPARE(q.value("unmeasured").toArray(), QJsonArray{"max_z"});
    QCOMPARE(line.value("limits").toObject(),
             (QJsonObject{{"min_coverage", 90.0}, {"max_fit_error", 5.0}, {"min_range", 40}, {"outlier_mads", 5.0}}));
    QCOMPARE(line.value("passed").toBool(), false);
    QCOMPARE(line.value("reasons").toArray(), QJsonArray::fromStringList(verdict.reasons));
    QCOMPARE(verdict.reasons.size(), 3);   // no fit error, min_y, max_z

    f.fit.reset();
    f.balance.reset();
    const QJsonObject bare = figuresJson(f);
    QVERIFY(bare.value("fit").isNull());
    QVERIFY(bare.value("balance").isNull());
}

QTEST_GUILESS_MAIN(TestCalibrationGate)
#include "tst_calibrationgate.moc"
