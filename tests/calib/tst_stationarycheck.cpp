#include "stationarycheck.h"

#include <QtTest>

#include <cmath>
#include <limits>

class TestStationaryCheck : public QObject
{
    Q_OBJECT

private slots:
    void angleChange_data();
    void angleChange();
};

void TestStationaryCheck::angleChange_data()
{
    QTest::addColumn<float>("previous");
    QTest::addColumn<float>("current");
    QTest::addColumn<float>("change");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("plain turn down") << 1.5f << -1.5f << 3.0f;
    QTest::newRow("across the seam up") << 359.9f << 0.0f << 0.1f;
    QTest::newRow("across the seam down") << 0.0f << 359.9f << 0.1f;
    QTest::newRow("negative seam") << -359.9f << 0.0f << 0.1f;
    QTest::newRow("more than half a turn is the other way") << 10.0f << 200.0f << 170.0f;
    QTest::newRow("not a number") << 0.0f << nan << nan;
    QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << 0.0f << nan;
}

void TestStationaryCheck::angleChange()
{
    QFETCH(float, previous);
    QFETCH(float, current);
    QFETCH(float, change);

    const float got = StationaryCheck::angleChange(previous, current);
    if (std::isnan(change))
        QVERIFY2(std::isnan(got), qPrintable(QString::number(got)));
    else
        QVERIFY2(std::fabs(got - change) < 1e-4f, qPrintable(QString::number(got)));
}

QTEST_GUILESS_MAIN(TestStationaryCheck)
#include "tst_stationarycheck.moc"
