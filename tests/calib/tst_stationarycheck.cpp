// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "checksession.h"
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
    void passed_data();
    void passed();
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

using Limits = StationaryCheck::Limits;
Q_DECLARE_METATYPE(Limits)

// Sums over the 1000 changes of a check, judged by the default limits and by a station's own.
void TestStationaryCheck::passed_data()
{
    QTest::addColumn<QVector<double>>("sums");
    QTest::addColumn<Limits>("limits");
    QTest::addColumn<bool>("passed");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("defaults, each mean just under") << QVector<double>{990.0, 99.0, 594.0} << Limits() << true;
    QTest::newRow("defaults, a mean just over fails") << QVector<double>{0.0, 101.0, 0.0} << Limits() << false;
    QTest::newRow("defaults, a drift backwards counts too") << QVector<double>{0.0, 0.0, -600.0} << Limits() << false;
    QTest::newRow("tightened angle2 fails what the defaults pass")
        << QVector<double>{0.0, 60.0, 0.0} << Limits{1.0, 0.05, 0.6} << false;
    QTest::newRow("loosened angle1 passes what the defaults fail")
        << QVector<double>{1500.0, 0.0, 0.0} << Limits{2.0, 0.1, 0.6} << true;
    QTest::newRow("angle1's limit judges angle1")
        << QVector<double>{600.0, 0.0, 0.0} << Limits{0.5, 1.0, 1.0} << false;
    QTest::newRow("angle3's limit judges angle3")
        << QVector<double>{0.0, 0.0, 600.0} << Limits{1.0, 1.0, 0.5} << false;
    QTest::newRow("angle2 under a loose limit of its own")
        << QVector<double>{0.0, 600.0, 0.0} << Limits{0.5, 1.0, 0.5} << true;
    QTest::newRow("not a number fails any limit") << QVector<double>{nan, 0.0, 0.0} << Limits{180.0, 180.0, 180.0} << false;
}

void TestStationaryCheck::passed()
{
    QFETCH(QVector<double>, sums);
    QFETCH(Limits, limits);
    QFETCH(bool, passed);

    QCOMPARE(StationaryCheck::passed(sums.constData(), limits), passed);
    // A check session fed a steady drift that adds up to the sums judges by the limits it
    // was given.
    CheckSession check;
    check.setLimits(limits);
    check.start();
    for (int k = 0; k <= StationaryCheck::LastSample; ++k) {
        const double step = double(k) / StationaryCheck::LastSample;
        check.takePose(IMU_POS{float(step * sums[0]), float(step * sums[1]), float(step * sums[2])});
        check.tick();
    }
    QVERIFY(!check.active());
    QCOMPARE(check.passed(), passed);
}

QTEST_GUILESS_MAIN(TestStationaryCheck)
#include "tst_stationarycheck.moc"
