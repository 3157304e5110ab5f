#include "controlsdisplay.h"

#include <QtTest>

using ControlsDisplay::ButtonLight;
Q_DECLARE_METATYPE(ButtonLight)

class TestControlsDisplay : public QObject
{
    Q_OBJECT

private slots:
    void buttonLight_data();
    void buttonLight();
    void trigger_data();
    void trigger();
    void rocker_data();
    void rocker();
};

void TestControlsDisplay::buttonLight_data()
{
    QTest::addColumn<short>("btn");
    QTest::addColumn<ButtonLight>("light");

    QTest::newRow("none") << short(0) << ButtonLight::None;
    QTest::newRow("right") << short(0x01) << ButtonLight::Right;
    QTest::newRow("back") << short(0x02) << ButtonLight::Back;
    QTest::newRow("middle") << short(0x04) << ButtonLight::Middle;
    QTest::newRow("left") << short(0x08) << ButtonLight::Left;
    QTest::newRow("power") << short(0x10) << ButtonLight::Power;
    QTest::newRow("right and back: lowest wins") << short(0x03) << ButtonLight::Right;
    QTest::newRow("left and power") << short(0x18) << ButtonLight::Left;
    QTest::newRow("bit 5 alone is no button") << short(0x20) << ButtonLight::None;
    QTest::newRow("bit 6 alone is no button") << short(0x40) << ButtonLight::None;
    QTest::newRow("sign bits only") << short(-128 & ~0x1F) << ButtonLight::None;
    QTest::newRow("all bits") << short(-1) << ButtonLight::Right;
    QTest::newRow("high bits and middle") << short(0xE4) << ButtonLight::Middle;
}

void TestControlsDisplay::buttonLight()
{
    QFETCH(short, btn);
    QFETCH(ButtonLight, light);
    QCOMPARE(ControlsDisplay::lightForButtons(btn), light);
}

void TestControlsDisplay::trigger_data()
{
    QTest::addColumn<short>("trig");
    QTest::addColumn<int>("top");
    QTest::addColumn<bool>("lit");

    QTest::newRow("released") << short(-128) << 158 << false;
    QTest::newRow("rest band edge") << short(-125) << 157 << false;
    QTest::newRow("first lit") << short(-124) << 156 << true;
    QTest::newRow("centre") << short(0) << 80 << true;
    QTest::newRow("fully pulled") << short(127) << 2 << true;
}

void TestControlsDisplay::trigger()
{
    QFETCH(short, trig);
    QFETCH(int, top);
    QFETCH(bool, lit);

    QCOMPARE(ControlsDisplay::triggerTop(trig), top);
    const QRect frame = ControlsDisplay::triggerFrameRect(trig);
    QCOMPARE(frame.topLeft(), QPoint(0, top));
    QCOMPARE(frame.bottomRight(), QPoint(91, top + 160));
    QCOMPARE(ControlsDisplay::triggerLit(trig), lit);
}

void TestControlsDisplay::rocker_data()
{
    QTest::addColumn<short>("x");
    QTest::addColumn<short>("y");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<bool>("lit");

    QTest::newRow("centre") << short(0) << short(0) << QPoint(287, 87) << false;
    QTest::newRow("small deflection truncates to rest")
        << short(-3) << short(3) << QPoint(287, 87) << false;
    QTest::newRow("first step") << short(4) << short(-4) << QPoint(288, 86) << false;
    QTest::newRow("dead band edge") << short(10) << short(-10) << QPoint(289, 85) << false;
    QTest::newRow("x leaves dead band") << short(11) << short(0) << QPoint(290, 87) << true;
    QTest::newRow("y leaves dead band") << short(0) << short(-11) << QPoint(287, 84) << true;
    QTest::newRow("corner low x high y")
        << short(-128) << short(127) << QPoint(252, 121) << true;
    QTest::newRow("corner high x low y")
        << short(127) << short(-128) << QPoint(321, 52) << true;
}

void TestControlsDisplay::rocker()
{
    QFETCH(short, x);
    QFETCH(short, y);
    QFETCH(QPoint, pos);
    QFETCH(bool, lit);

    QCOMPARE(ControlsDisplay::rockerCrossPos(x, y), pos);
    QCOMPARE(ControlsDisplay::rockerCrossRect(x, y), QRect(pos, QSize(17, 18)));
    QCOMPARE(ControlsDisplay::rockerLit(x, y), lit);
}

QTEST_GUILESS_MAIN(TestControlsDisplay)
#include "tst_controlsdisplay.moc"
