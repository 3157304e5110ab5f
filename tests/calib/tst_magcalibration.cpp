#include "magcalibration.h"

#include <QtTest>

using Triple = QVector<int>;

namespace {
void toArray(const Triple &values, int16_t out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = int16_t(values.at(i));
}
Triple fromArray(const int16_t in[3])
{
    return Triple{in[0], in[1], in[2]};
}
} // namespace

class TestMagCalibration : public QObject
{
    Q_OBJECT

private slots:
    void updateExtremes_data();
    void updateExtremes();
    void barRect_data();
    void barRect();
    void styleSheets_data();
    void styleSheets();
};

void TestMagCalibration::updateExtremes_data()
{
    QTest::addColumn<Triple>("max");
    QTest::addColumn<Triple>("min");
    QTest::addColumn<Triple>("sample");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<Triple>("newMax");
    QTest::addColumn<Triple>("newMin");

    QTest::newRow("zero sample after start")
        << Triple{0, 0, 0} << Triple{0, 0, 0} << Triple{0, 0, 0}
        << false << Triple{0, 0, 0} << Triple{0, 0, 0};
    QTest::newRow("first sample spreads both ways")
        << Triple{0, 0, 0} << Triple{0, 0, 0} << Triple{10, -10, 0}
        << true << Triple{10, 0, 0} << Triple{0, -10, 0};
    QTest::newRow("inside the range")
        << Triple{120, 50, 30} << Triple{-75, -50, -30} << Triple{119, -49, 0}
        << false << Triple{120, 50, 30} << Triple{-75, -50, -30};
    QTest::newRow("equal to the extremes")
        << Triple{120, 50, 30} << Triple{-75, -50, -30} << Triple{120, -50, 30}
        << false << Triple{120, 50, 30} << Triple{-75, -50, -30};
    QTest::newRow("x above limit")
        << Triple{0, 0, 0} << Triple{0, 0, 0} << Triple{350, 0, 0}
        << true << Triple{200, 0, 0} << Triple{0, 0, 0};
    QTest::newRow("z below limit")
        << Triple{0, 0, 0} << Triple{0, 0, 0} << Triple{0, 0, -350}
        << true << Triple{0, 0, 0} << Triple{0, 0, -200};
    QTest::newRow("full scale both ends")
        << Triple{200, 0, 0} << Triple{0, 0, 0} << Triple{32767, -32768, 201}
        << true << Triple{200, 0, 200} << Triple{0, -200, 0};
    QTest::newRow("only one axis moves")
        << Triple{5, 5, 5} << Triple{-5, -5, -5} << Triple{0, 6, 0}
        << true << Triple{5, 6, 5} << Triple{-5, -5, -5};
}

void TestMagCalibration::updateExtremes()
{
    QFETCH(Triple, max);
    QFETCH(Triple, min);
    QFETCH(Triple, sample);
    QFETCH(bool, changed);
    QFETCH(Triple, newMax);
    QFETCH(Triple, newMin);

    int16_t mx[3], mn[3], s[3];
    toArray(max, mx);
    toArray(min, mn);
    toArray(sample, s);
    QCOMPARE(MagCalibration::updateExtremes(mx, mn, s), changed);
    QCOMPARE(fromArray(mx), newMax);
    QCOMPARE(fromArray(mn), newMin);
}

void TestMagCalibration::barRect_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("min");
    QTest::addColumn<QRect>("rect");

    QTest::newRow("worked example") << 0 << 120 << -75 << QRect(80, 132, 80, 126);
    QTest::newRow("full range") << 1 << 200 << -200 << QRect(330, 80, 80, 260);
    QTest::newRow("empty range") << 2 << 0 << 0 << QRect(580, 210, 80, 0);
    QTest::newRow("x small positive") << 0 << 10 << 0 << QRect(80, 204, 80, 6);
    QTest::newRow("y small negative") << 1 << 0 << -10 << QRect(330, 210, 80, 6);
    QTest::newRow("z down to the limit") << 2 << 0 << -200 << QRect(580, 210, 80, 130);
    QTest::newRow("truncation toward zero") << 0 << 1 << -1 << QRect(80, 210, 80, 1);
}

void TestMagCalibration::barRect()
{
    QFETCH(int, axis);
    QFETCH(int, max);
    QFETCH(int, min);
    QFETCH(QRect, rect);
    QCOMPARE(MagCalibration::barRect(axis, int16_t(max), int16_t(min)), rect);
}

void TestMagCalibration::styleSheets_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("length");

    QTest::newRow("extremes")
        << MagCalibration::extremeStyleSheet()
        << QStringLiteral("QLabel{color:#d4d4d4;background-color:rgba(255, 255, 255, 0);"
                          "border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t\t "
                          "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;"
                          "font: bold 4px;min-width: 10em;padding: 2px;*/}")
        << 214;
    QTest::newRow("live values")
        << MagCalibration::valueStyleSheet()
        << QStringLiteral("QLabel{color:#7d7d7d;background-color:rgba(255, 255, 255, 0);"
                          "border-style: solid;border-width: 0px;\t\t\t\t\t\t\t\t\t\t "
                          "border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;"
                          "font: bold 4px;min-width: 10em;padding: 2px;*/}")
        << 215;
}

void TestMagCalibration::styleSheets()
{
    QFETCH(QString, sheet);
    QFETCH(QString, expected);
    QFETCH(int, length);
    QCOMPARE(sheet, expected);
    QCOMPARE(sheet.size(), length);
}

QTEST_GUILESS_MAIN(TestMagCalibration)
#include "tst_magcalibration.moc"
