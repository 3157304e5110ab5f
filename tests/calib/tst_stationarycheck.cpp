#include "stationarycheck.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();
} // namespace

class TestStationaryCheck : public QObject
{
    Q_OBJECT

private slots:
    void angleChange_data();
    void angleChange();
    void passed_data();
    void passed();
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

QTEST_GUILESS_MAIN(TestStationaryCheck)
#include "tst_stationarycheck.moc"
