#include "stationarycheck.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>

namespace {
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

// Orientation of sample i of a scripted run.
using Script = std::function<IMU_POS(int)>;

// Feeds a whole check (1001 changes between 1002 samples) through the accumulation.
bool runCheck(const Script &script)
{
    double sum[3] = {0.0, 0.0, 0.0};
    IMU_POS previous = script(0);
    for (int i = 1; i <= StationaryCheck::LastSample + 1; ++i) {
        const IMU_POS current = script(i);
        StationaryCheck::accumulate(sum, previous, current);
        previous = current;
    }
    return StationaryCheck::passed(sum);
}

IMU_POS pos(float a1, float a2, float a3)
{
    IMU_POS p;
    p.angle1 = a1;
    p.angle2 = a2;
    p.angle3 = a3;
    return p;
}
} // namespace

Q_DECLARE_METATYPE(Script)

class TestStationaryCheck : public QObject
{
    Q_OBJECT

private slots:
    void angleChange_data();
    void angleChange();
    void progress_data();
    void progress();
    void percentRichText();
    void passed_data();
    void passed();
    void wholeCheck_data();
    void wholeCheck();
};

void TestStationaryCheck::angleChange_data()
{
    QTest::addColumn<float>("previous");
    QTest::addColumn<float>("current");
    QTest::addColumn<float>("change");

    QTest::newRow("still") << 12.5f << 12.5f << 0.0f;
    QTest::newRow("plain turn down") << 1.5f << -1.5f << 3.0f;
    QTest::newRow("across the seam up") << 359.9f << 0.0f << 0.1f;
    QTest::newRow("across the seam down") << 0.0f << 359.9f << 0.1f;
    QTest::newRow("negative seam") << -359.9f << 0.0f << 0.1f;
    QTest::newRow("from one end of the range to the other") << -359.9f << 359.9f << 0.2f;
    QTest::newRow("same heading written twice") << -180.0f << 180.0f << 0.0f;
    QTest::newRow("half turn") << 10.0f << 190.0f << 180.0f;
    QTest::newRow("more than half a turn is the other way") << 10.0f << 200.0f << 170.0f;
    QTest::newRow("not a number") << 0.0f << NaN << NaN;
    QTest::newRow("infinite") << Inf << 0.0f << NaN;
}

void TestStationaryCheck::angleChange()
{
    QFETCH(float, previous);
    QFETCH(float, current);
    QFETCH(float, change);

    const float got = StationaryCheck::angleChange(previous, current);
    if (std::isnan(change)) {
        QVERIFY2(std::isnan(got), qPrintable(QString::number(got)));
    } else {
        QVERIFY2(std::fabs(got - change) < 1e-4f, qPrintable(QString::number(got)));
    }
}

void TestStationaryCheck::progress_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("percent");

    QTest::newRow("first sample") << 0 << 0 << 0;
    QTest::newRow("second sample") << 1 << 0 << 0;
    QTest::newRow("421") << 421 << 275 << 42;
    QTest::newRow("999") << 999 << 654 << 99;
    QTest::newRow("last sample") << 1000 << 655 << 100;
}

void TestStationaryCheck::progress()
{
    QFETCH(int, count);
    QFETCH(int, width);
    QFETCH(int, percent);
    QCOMPARE(StationaryCheck::progressWidth(count), width);
    QCOMPARE(StationaryCheck::percent(count), percent);
}

void TestStationaryCheck::percentRichText()
{
    QCOMPARE(StationaryCheck::percentRichText(421),
             QStringLiteral("<html><head/><body><p><span style=\" color:#d4d4d4;\">42%"
                            "</span></p></body></html>"));
}

void TestStationaryCheck::passed_data()
{
    QTest::addColumn<double>("sum1");
    QTest::addColumn<double>("sum2");
    QTest::addColumn<double>("sum3");
    QTest::addColumn<bool>("pass");

    QTest::newRow("still") << 0.0 << 0.0 << 0.0 << true;
    QTest::newRow("angle1 under") << 999.9 << 0.0 << 0.0 << true;
    QTest::newRow("angle1 at limit") << 1000.0 << 0.0 << 0.0 << false;
    QTest::newRow("angle2 under") << 0.0 << 99.9 << 0.0 << true;
    QTest::newRow("angle2 at limit") << 0.0 << 100.0 << 0.0 << false;
    QTest::newRow("angle3 under") << 0.0 << 0.0 << 599.9 << true;
    QTest::newRow("angle3 at limit") << 0.0 << 0.0 << 600.0 << false;
    QTest::newRow("negative sum judged by size") << -1000.0 << 0.0 << 0.0 << false;
    QTest::newRow("angle1 not a number") << double(NaN) << 0.0 << 0.0 << false;
    QTest::newRow("angle3 not a number") << 0.0 << 0.0 << double(NaN) << false;
}

void TestStationaryCheck::passed()
{
    QFETCH(double, sum1);
    QFETCH(double, sum2);
    QFETCH(double, sum3);
    QFETCH(bool, pass);
    const double sum[3] = {sum1, sum2, sum3};
    QCOMPARE(StationaryCheck::passed(sum), pass);
}

void TestStationaryCheck::wholeCheck_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<bool>("pass");

    QTest::newRow("lying still")
        << Script([](int) { return pos(12.0f, -40.0f, 300.0f); }) << true;
    QTest::newRow("angle2 creeps 0.1 every sample")
        << Script([](int i) { return pos(0.0f, 0.1f * float(i), 0.0f); }) << false;
    QTest::newRow("angle2 creeps 0.1 in 900 samples")
        << Script([](int i) { return pos(0.0f, 0.1f * float(std::min(i, 900)), 0.0f); })
        << true;
    QTest::newRow("angle1 jitters across the seam")
        << Script([](int i) { return pos(i % 2 ? 359.95f : 0.05f, 0.0f, 0.0f); }) << true;
    QTest::newRow("angle3 drifts slowly across the seam")
        << Script([](int i) { return pos(0.0f, 0.0f, std::fmod(359.0f + 0.01f * float(i), 360.0f)); })
        << true;
    QTest::newRow("angle1 turning")
        << Script([](int i) { return pos(std::fmod(2.0f * float(i), 360.0f), 0.0f, 0.0f); })
        << false;
    QTest::newRow("one broken sample")
        << Script([](int i) { return pos(0.0f, 0.0f, i == 500 ? NaN : 0.0f); }) << false;
}

void TestStationaryCheck::wholeCheck()
{
    QFETCH(Script, script);
    QFETCH(bool, pass);
    QCOMPARE(runCheck(script), pass);
}

QTEST_GUILESS_MAIN(TestStationaryCheck)
#include "tst_stationarycheck.moc"
