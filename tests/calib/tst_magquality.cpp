// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "calibrationgate.h"
#include "magrecording.h"

#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <random>

// A unit turned through the sphere of directions while a recording runs as the tool runs it:
// 75 samples a second, each fed; at the end of each second the latest is folded in. The field
// is an ellipsoid (radii, turned by `tilt` degrees about `about`) round `centre`, in counts.
struct Turn {
    std::array<double, 3> centre{0, 0, 0};
    std::array<double, 3> radii{100, 100, 100};
    std::array<double, 3> about{0, 0, 1};
    double tilt = 0.0;
    double noise = 0.0;         // standard deviation per axis, counts
    bool upperHalf = false;     // only directions with z >= 0
    int spikeSecond = -1;       // the sample folded at the end of this second is `spike`
    std::array<int16_t, 3> spike{};
    int seconds = 60;
};
Q_DECLARE_METATYPE(Turn)

using Range = QPair<double, double>;   // lo..hi inclusive; NaN, NaN: the figure does not exist
Q_DECLARE_METATYPE(Range)

namespace {

constexpr double Pi = 3.14159265358979323846;
const double NoFigure = std::nan("");

// v turned by `degrees` about the unit vector k (Rodrigues).
std::array<double, 3> turned(const std::array<double, 3> &v, std::array<double, 3> k, double degrees)
{
    const double n = std::sqrt(k[0] * k[0] + k[1] * k[1] + k[2] * k[2]);
    for (double &c : k)
        c /= n;
    const double a = degrees * Pi / 180.0, c = std::cos(a), s = std::sin(a);
    const double dot = k[0] * v[0] + k[1] * v[1] + k[2] * v[2];
    const std::array<double, 3> cross{k[1] * v[2] - k[2] * v[1], k[2] * v[0] - k[0] * v[2], k[0] * v[1] - k[1] * v[0]};
    std::array<double, 3> out;
    for (int i = 0; i < 3; ++i)
        out[size_t(i)] = v[size_t(i)] * c + cross[size_t(i)] * s + k[size_t(i)] * dot * (1 - c);
    return out;
}

// The directions spiral from +z down (Fibonacci sphere), so every second's folded sample lies
// elsewhere on the sphere.
void record(MagRecording &rec, const Turn &t)
{
    rec.start();
    int16_t latest[3] = {0, 0, 0};
    rec.tick(latest);   // as the tool does at the start, before any sample
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const int n = t.seconds * 75;
    const double golden = Pi * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < n; ++i) {
        const double z = t.upperHalf ? 1.0 - (i + 0.5) / n : 1.0 - 2.0 * (i + 0.5) / n;
        const double r = std::sqrt(1.0 - z * z);
        const std::array<double, 3> d{r * std::cos(i * golden) * t.radii[0], r * std::sin(i * golden) * t.radii[1],
                                      z * t.radii[2]};
        const std::array<double, 3> v = turned(d, t.about, t.tilt);
        int16_t s[3];
        for (int axis = 0; axis < 3; ++axis)
            s[axis] = int16_t(std::lround(t.centre[size_t(axis)] + v[size_t(axis)] + t.noise * gauss(random)));
        const bool folded = i % 75 == 74;
        if (folded && i / 75 == t.spikeSecond)
            std::copy(t.spike.begin(), t.spike.end(), s);
        rec.addSample(s);
        std::copy(s, s + 3, latest);
        if (folded)
            rec.tick(latest);
    }
}

void verifyIn(const char *what, double value, const Range &range)
{
    if (std::isnan(range.first))
        QVERIFY2(std::isnan(value), qPrintable(QStringLiteral("%1 %2, expected none").arg(what).arg(value)));
    else
        QVERIFY2(value >= range.first && value <= range.second,
                 qPrintable(QStringLiteral("%1 %2 not in %3..%4").arg(what).arg(value).arg(range.first).arg(range.second)));
}

double orNone(const std::optional<double> &v)
{
    return v ? *v : NoFigure;
}

} // namespace

class TestMagQuality : public QObject
{
    Q_OBJECT

private slots:
    void goldenRecordings_data();
    void goldenRecordings();
    void ellipsoidFit_data();
    void ellipsoidFit();
    void noEllipsoid_data();
    void noEllipsoid();
    void outlierRule_data();
    void outlierRule();
    void measuredExtremes_data();
    void measuredExtremes();
    void regionsTileTheSphere();
    void keptSamplesSpreadOverTheRecording();
};

// Each recording's figures within tolerances that follow from how it was made, and the
// gate's reasons with the default limits; "#" in a reason stands for a figure.
void TestMagQuality::goldenRecordings_data()
{
    QTest::addColumn<Turn>("turn");
    QTest::addColumn<Range>("coverage");
    QTest::addColumn<Range>("fitError");
    QTest::addColumn<Range>("fullFitError");
    QTest::addColumn<Range>("field");
    QTest::addColumn<Range>("balance");
    QTest::addColumn<Range>("outliers");
    QTest::addColumn<QStringList>("reasons");

    const Range none(NoFigure, NoFigure);
    // Only the rounding to whole counts: 0.29 counts RMS on a 100-count field.
    const Range rounding(0.1, 0.5);
    const QString fitReason = QStringLiteral("fit error # % (allowed 5 %): the six values leave the field distorted; "
                                             "record again away from metal and magnets, turning the unit through every direction");

    Turn t;
    t.centre = {40, -30, 20};
    // The folded extremes fall a little short of the field: a small fit error, no reasons.
    QTest::newRow("hard iron") << t << Range(100, 100) << Range(0, 2) << rounding << Range(98.5, 100.5)
                               << Range(0.97, 1) << Range(0, 0) << QStringList();
    t = Turn();
    t.centre = {10, 20, -15};
    t.radii = {120, 100, 70};
    // Soft iron along the sensor axes is what the six values correct.
    QTest::newRow("soft iron") << t << Range(100, 100) << Range(0, 2) << rounding << Range(70, 120)
                               << Range(0.56, 0.6) << Range(0, 0) << QStringList();
    t.centre = {0, 0, 0};
    t.radii = {130, 100, 70};
    t.about = {0, 0, 1};
    t.tilt = 35;
    // Turned out of the sensor axes it is not; a general ellipsoid still fits. Ranges x 241,
    // y 222, z 140 counts.
    QTest::newRow("soft iron tilted") << t << Range(100, 100) << Range(5.5, 15) << rounding << Range(70, 130)
                                      << Range(0.55, 0.6) << Range(0, 0) << QStringList{fitReason};
    t = Turn();
    t.noise = 3;
    // 3 % noise shows in both errors; a few samples beyond 3.4 sigma (5 MADs) are outliers,
    // none that set an extreme.
    QTest::newRow("noise") << t << Range(100, 100) << Range(3, 4.5) << Range(2.7, 3.3) << Range(99, 101.5)
                           << Range(0.93, 1) << Range(0, 10) << QStringList();
    t = Turn();
    t.spikeSecond = 30;
    t.spike = {190, 10, 0};
    // One folded spike sets max_x and moves the midpoint 45 counts towards itself.
    QTest::newRow("spike") << t << Range(90, 100) << Range(10, 30) << Range(0.5, 2) << Range(100, 115)
                           << Range(0.6, 0.75) << Range(1, 1)
                           << QStringList{fitReason, QStringLiteral("max_x set by one outlying sample: record again away from metal")};
    t = Turn();
    t.centre = {0, 0, -40};
    t.upperHalf = true;
    // Seen from the midpoint (0, 0, 10), the samples reach 27 degrees below the horizon: 72 % of
    // the directions, and regions only partly visited count. A half sphere is still a sphere.
    QTest::newRow("one hemisphere") << t << Range(72, 84) << Range(10, 25) << rounding << Range(80, 90)
                                    << Range(0.48, 0.51) << Range(0, 0)
                                    << QStringList{QStringLiteral("coverage # % (needs 85 %): turn the unit through the "
                                                                  "directions still missing"), fitReason};
    t = Turn();
    t.centre = {0, 70, 0};
    t.radii = {50, 50, 50};
    // y reads 20..120: its minimum stays the unmeasured 0, the midpoint 10 counts off.
    QTest::newRow("y above zero") << t << Range(100, 100) << Range(8, 15) << Range(0.2, 1) << Range(48, 53)
                                  << Range(0.8, 0.85) << Range(0, 0)
                                  << QStringList{fitReason, QStringLiteral("y never read below zero: its minimum 0 was not measured")};
    t = Turn();
    t.radii = {15, 15, 15};
    QStringList ranges;
    for (const char *axis : {"x", "y", "z"})
        ranges << QStringLiteral("%1 range # counts (needs 40): turn the unit so that %1 points every way").arg(axis);
    // Rounding weighs more on a weak field: 0.29 of 15 counts.
    QTest::newRow("weak field") << t << Range(100, 100) << Range(0.5, 3) << Range(1.5, 2.5) << Range(14.5, 15.5)
                                << Range(0.9, 1) << Range(0, 0) << ranges;
    t = Turn();
    t.seconds = 0;
    QTest::newRow("no samples") << t << Range(0, 0) << none << none << Range(0, 0) << none << Range(0, 0)
                                << QStringList{QStringLiteral("no magnetometer samples: the unit sent none while recording; "
                                                              "check that it is connected and streaming, then record again")};
}

void TestMagQuality::goldenRecordings()
{
    QFETCH(Turn, turn);
    QFETCH(Range, coverage);
    QFETCH(Range, fitError);
    QFETCH(Range, fullFitError);
    QFETCH(Range, field);
    QFETCH(Range, balance);
    QFETCH(Range, outliers);
    QFETCH(QStringList, reasons);

    MagRecording rec;
    record(rec, turn);
    const MagQualityFigures f = rec.figures();
    QCOMPARE(f.samples, int64_t(turn.seconds) * 75);
    verifyIn("coverage", f.coverage, coverage);
    verifyIn("fit error", orNone(f.fitError), fitError);
    verifyIn("full-fit error", orNone(f.fullFitError), fullFitError);
    verifyIn("field", f.field, field);
    verifyIn("balance", orNone(f.balance), balance);
    verifyIn("outliers", f.outliers, outliers);

    const GateVerdict verdict = judgeCalibration(f, GateLimits());
    QCOMPARE(verdict.passed, reasons.isEmpty());
    QCOMPARE(verdict.reasons.size(), reasons.size());
    for (int i = 0; i < reasons.size(); ++i) {
        const QString pattern = QRegularExpression::escape(reasons[i]).replace(QStringLiteral("\\#"), QStringLiteral("[0-9.]+"));
        QVERIFY2(QRegularExpression(QStringLiteral("^%1$").arg(pattern)).match(verdict.reasons[i]).hasMatch(),
                 qPrintable(verdict.reasons[i]));
    }
}

// The general ellipsoid is recovered: centre, radii along the sensor axes they lie nearest,
// and the tilt. With two radii equal, the turn between their axes is no tilt.
void TestMagQuality::ellipsoidFit_data()
{
    QTest::addColumn<Turn>("turn");
    QTest::addColumn<double>("tilt");

    Turn t;
    t.centre = {-60, 25, 80};
    t.radii = {110, 90, 70};
    t.noise = 1;
    QTest::newRow("along the axes") << t << 0.0;
    t.about = {0, 0, 1};
    t.tilt = 30;
    QTest::newRow("30 degrees about z") << t << 30.0;
    t.about = {1, 1, 1};
    t.tilt = -20;
    QTest::newRow("20 degrees about a diagonal") << t << 20.0;
    t.about = {1, 0, 0};
    t.tilt = 25;
    t.radii = {110, 110, 70};
    QTest::newRow("x and y equal, 25 degrees about x") << t << 25.0;
    t.radii = {90, 90, 90};
    QTest::newRow("round") << t << 0.0;
}

void TestMagQuality::ellipsoidFit()
{
    QFETCH(Turn, turn);
    QFETCH(double, tilt);

    MagRecording rec;
    record(rec, turn);
    const MagQualityFigures f = rec.figures();
    QVERIFY(f.fit);
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(std::fabs(f.fit->centre[size_t(i)] - turn.centre[size_t(i)]) < 0.5, qPrintable(QString::number(f.fit->centre[size_t(i)])));
        QVERIFY2(std::fabs(f.fit->radii[size_t(i)] - turn.radii[size_t(i)]) < 0.5, qPrintable(QString::number(f.fit->radii[size_t(i)])));
    }
    QVERIFY2(std::fabs(f.fit->tiltDegrees - tilt) < 0.5, qPrintable(QString::number(f.fit->tiltDegrees)));
    // The unique axis (the one of radius 70 here) is where the turn took z.
    const std::array<double, 3> z = turned({0, 0, 1}, turn.about, turn.tilt);
    if (turn.radii[0] != turn.radii[2]) {
        for (int i = 0; i < 3; ++i)
            QVERIFY(std::fabs(f.fit->axes[size_t(i)][2] - z[size_t(i)]) < 0.01);
    }
    QVERIFY2(*f.fullFitError < 1.5, qPrintable(QString::number(*f.fullFitError)));
}

// Samples that go round no ellipsoid give no fit rather than a made-up one.
void TestMagQuality::noEllipsoid_data()
{
    QTest::addColumn<QVector<QVector<int>>>("samples");

    QVector<QVector<int>> circle, nine, hyperbolic;
    for (int i = 0; i < 200; ++i) {
        const double a = i * 2 * Pi / 200;
        circle << QVector<int>{int(std::lround(100 * std::cos(a))), int(std::lround(100 * std::sin(a))), 5};
        // x^2 + y^2 - z^2 = 100^2: a saddle, no closed surface.
        const double z = (i % 20) * 10.0 - 95.0, r = std::sqrt(100.0 * 100.0 + z * z);
        hyperbolic << QVector<int>{int(std::lround(r * std::cos(a * 7))), int(std::lround(r * std::sin(a * 7))), int(z)};
    }
    for (int i = 0; i < 9; ++i)
        nine << QVector<int>{100 - i * 20, i * 10, (i % 3) * 40};
    QTest::newRow("flat: all in one plane") << circle;
    QTest::newRow("nine samples, nine unknowns") << nine;
    QTest::newRow("a hyperboloid") << hyperbolic;
    QTest::newRow("none") << QVector<QVector<int>>();
}

void TestMagQuality::noEllipsoid()
{
    QFETCH(QVector<QVector<int>>, samples);
    std::vector<std::array<int16_t, 3>> in;
    for (const QVector<int> &s : samples)
        in.push_back({int16_t(s[0]), int16_t(s[1]), int16_t(s[2])});
    QVERIFY(!MagQuality::fitEllipsoid(in));
}

// The outlier rule on samples that fit no ellipsoid (all on the x axis), so radii are the
// distances from the midpoint: 50 readings of x = 100, and one `other` that set max_x.
void TestMagQuality::outlierRule_data()
{
    QTest::addColumn<int>("other");
    QTest::addColumn<double>("mads");
    QTest::addColumn<bool>("outlying");

    // The readings' deviations are all 0: one count is rounding, not an outlier.
    QTest::newRow("one count off identical readings") << 101 << 5.0 << false;
    QTest::newRow("five counts off") << 105 << 5.0 << false;
    QTest::newRow("six counts off") << 106 << 5.0 << true;
    QTest::newRow("six counts off, threshold 6") << 106 << 6.0 << false;
    QTest::newRow("a spike") << 150 << 5.0 << true;
}

void TestMagQuality::outlierRule()
{
    QFETCH(int, other);
    QFETCH(double, mads);
    QFETCH(bool, outlying);

    MagQuality q;
    for (int i = 0; i < 50; ++i)
        q.addSample(std::array<int16_t, 3>{100, 0, 0}.data());
    q.addSample(std::array<int16_t, 3>{int16_t(other), 0, 0}.data());
    MagExtremes e;
    e.value[0] = int16_t(other);
    e.moved[0] = true;
    e.setBy[0] = {int16_t(other), 0, 0};
    const MagQualityFigures f = q.figures(e, mads);
    QVERIFY(!f.fit);
    QCOMPARE(f.outliers, outlying ? 1 : 0);
    QCOMPARE(f.setByOutlier[0], outlying);
}

// Which extremes are measured, and by which sample each was set, over a few ticks.
// Columns: per tick whether a sample came first and the sample folded; the six flags (max x,
// y, z, min x, y, z) as "1"/"0"; and the sample that last moved max_x.
void TestMagQuality::measuredExtremes_data()
{
    QTest::addColumn<QVector<QVector<int>>>("ticks");   // {fed first 0/1, x, y, z}
    QTest::addColumn<QString>("measured");
    QTest::addColumn<QVector<int>>("maxXSetBy");         // empty: never moved

    QTest::newRow("the zeros before any sample") << QVector<QVector<int>>{{0, 0, 0, 0}, {0, 0, 0, 0}}
                                                 << "000000" << QVector<int>();
    QTest::newRow("zeros, then one side of each axis") << QVector<QVector<int>>{{0, 0, 0, 0}, {1, 50, -20, 30}}
                                                       << "101010" << QVector<int>{50, -20, 30};
    QTest::newRow("a sample that reads exactly 0 on x") << QVector<QVector<int>>{{1, 0, -20, 30}}
                                                        << "101110" << QVector<int>();
    QTest::newRow("a sample from before the start") << QVector<QVector<int>>{{0, 50, -20, 30}}
                                                     << "101010" << QVector<int>{50, -20, 30};
    QTest::newRow("a clamped spike sets, a smaller value does not")
            << QVector<QVector<int>>{{1, 150, 0, 0}, {1, 350, 5, -5}, {1, 180, -1, 1}}
            << "111011" << QVector<int>{350, 5, -5};
}

void TestMagQuality::measuredExtremes()
{
    QFETCH(QVector<QVector<int>>, ticks);
    QFETCH(QString, measured);
    QFETCH(QVector<int>, maxXSetBy);

    MagRecording rec;
    rec.tick(std::array<int16_t, 3>{-90, 90, 0}.data());   // a recording before: start forgets it
    rec.addSample(std::array<int16_t, 3>{-90, 90, 0}.data());
    rec.start();
    for (const QVector<int> &t : ticks) {
        const int16_t s[3] = {int16_t(t[1]), int16_t(t[2]), int16_t(t[3])};
        if (t[0])
            rec.addSample(s);
        rec.tick(s);
    }
    QString got;
    for (int e = 0; e < 6; ++e)
        got += rec.measured(e) ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(got, measured);
    const MagExtremes e = rec.extremes();
    QCOMPARE(e.moved[0], !maxXSetBy.isEmpty());
    if (!maxXSetBy.isEmpty())
        QCOMPARE((QVector<int>{e.setBy[0][0], e.setBy[0][1], e.setBy[0][2]}), maxXSetBy);
    QVERIFY(rec.max()[0] <= 200);
}

// The map's regions are those regionOf places directions in: equal areas that tile the
// sphere, each region's middle falling into it; a sample lights its own region only.
void TestMagQuality::regionsTileTheSphere()
{
    const auto &regions = MagCoverage::regions();
    QCOMPARE(int(regions.size()), MagCoverage::RegionCount);
    double area = 0.0;
    for (int i = 0; i < MagCoverage::RegionCount; ++i) {
        const MagCoverage::Region &r = regions[size_t(i)];
        const double a = (r.zTop - r.zBottom) * (r.longitudeTo - r.longitudeFrom);
        QVERIFY2(std::fabs(a - 4 * Pi / MagCoverage::RegionCount) < 1e-9, qPrintable(QString::number(i)));
        area += a;
        const double z = (r.zTop + r.zBottom) / 2, lon = (r.longitudeFrom + r.longitudeTo) / 2;
        const double s = std::sqrt(1 - z * z);
        QCOMPARE(MagCoverage::regionOf(s * std::cos(lon), s * std::sin(lon), z), i);
    }
    QVERIFY(std::fabs(area - 4 * Pi) < 1e-9);

    MagCoverage cover;
    const int16_t max[3] = {20, 20, 20}, min[3] = {-20, -20, -20};
    cover.setCentre(max, min);
    cover.addSample(std::array<int16_t, 3>{3, -4, -90}.data());
    for (int i = 0; i < MagCoverage::RegionCount; ++i)
        QCOMPARE(cover.visited(i), i == MagCoverage::regionOf(3, -4, -90));
    QCOMPARE(cover.percent(), 1.0);
}

// Beyond MagQuality::Kept samples the kept ones thin out over the whole recording: half the
// samples 100 counts from the midpoint and half 10 counts give a field of 55.
void TestMagQuality::keptSamplesSpreadOverTheRecording()
{
    MagQuality q;
    for (size_t i = 0; i < 3 * MagQuality::Kept; ++i) {
        const int16_t s[3] = {int16_t(i < 3 * MagQuality::Kept / 2 ? 100 : 10), 0, 0};
        q.addSample(s);
    }
    const MagQualityFigures f = q.figures(MagExtremes(), MagQuality::DefaultOutlierMads);
    QCOMPARE(f.samples, int64_t(3 * MagQuality::Kept));
    QVERIFY(f.samplesUsed <= int(MagQuality::Kept) && f.samplesUsed >= int(MagQuality::Kept / 2));
    QVERIFY2(std::fabs(f.field - 55.0) < 0.1, qPrintable(QString::number(f.field)));
}

QTEST_GUILESS_MAIN(TestMagQuality)
#include "tst_magquality.moc"
