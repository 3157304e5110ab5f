#include "paramframe.h"

#include <QtTest>

Q_DECLARE_METATYPE(MAG_PARAM)

class TestParamFrame : public QObject
{
    Q_OBJECT

private slots:
    void build_data();
    void build();
    void rejects_data();
    void rejects();
};

static MAG_PARAM magParam(int maxX, int maxY, int maxZ, int minX, int minY, int minZ)
{
    MAG_PARAM p;
    p.max_x = int16_t(maxX);
    p.max_y = int16_t(maxY);
    p.max_z = int16_t(maxZ);
    p.min_x = int16_t(minX);
    p.min_y = int16_t(minY);
    p.min_z = int16_t(minZ);
    return p;
}

void TestParamFrame::build_data()
{
    QTest::addColumn<MAG_PARAM>("param");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("all zero") << magParam(0, 0, 0, 0, 0, 0)
        << QByteArray::fromHex("5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5");
    QTest::newRow("checksum overflows (200/-200)") << magParam(200, 200, 200, -200, -200, -200)
        << QByteArray::fromHex("5A 04 01 00 C8 FF 38 00 C8 FF 38 00 C8 FF 38 00 00 00 02 A5");
    QTest::newRow("mixed values") << magParam(120, 35, 200, -75, -200, -3)
        << QByteArray::fromHex("5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5");
    QTest::newRow("interleaved per axis") << magParam(1, 2, 3, 4, 5, 6)
        << QByteArray::fromHex("5A 04 01 00 01 00 04 00 02 00 05 00 03 00 06 00 00 00 1A A5");
    QTest::newRow("-1, 256 and -32768") << magParam(-1, 256, -32768, 0, 0, 0)
        << QByteArray::fromHex("5A 04 01 FF FF 00 00 01 00 00 00 80 00 00 00 00 00 00 84 A5");
    QTest::newRow("extremes overflow the checksum") << magParam(32767, 32767, 32767, -1, -1, -1)
        << QByteArray::fromHex("5A 04 01 7F FF FF FF 7F FF FF FF 7F FF FF FF 00 00 00 79 A5");
}

void TestParamFrame::build()
{
    QFETCH(MAG_PARAM, param);
    QFETCH(QByteArray, frame);
    QCOMPARE(frame.size(), 20);

    const ParamFrame built = buildParamFrame(param);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(built.data()), int(built.size())).toHex(' '),
             frame.toHex(' '));

    MAG_PARAM back;
    QVERIFY(parseParamFrame(built.data(), built.size(), &back));
    QCOMPARE(back.max_x, param.max_x);
    QCOMPARE(back.max_y, param.max_y);
    QCOMPARE(back.max_z, param.max_z);
    QCOMPARE(back.min_x, param.min_x);
    QCOMPARE(back.min_y, param.min_y);
    QCOMPARE(back.min_z, param.min_z);
}

void TestParamFrame::rejects_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const ParamFrame good = buildParamFrame(magParam(120, 35, 200, -75, -200, -3));
    const QByteArray frame(reinterpret_cast<const char *>(good.data()), int(good.size()));

    QByteArray badStart = frame;
    badStart[0] = char(0x5B);
    QByteArray badEnd = frame;
    badEnd[19] = char(0xA4);
    QByteArray badChecksum = frame;
    badChecksum[18] = char(frame[18] + 1);
    QByteArray changedValue = frame;
    changedValue[4] = char(frame[4] ^ 0x01);
    // Another command or version, with the checksum fixed up so only the header is wrong.
    QByteArray otherCommand = frame;
    otherCommand[1] = char(0x05);
    otherCommand[18] = char(frame[18] + 1);
    QByteArray otherVersion = frame;
    otherVersion[2] = char(0x02);
    otherVersion[18] = char(frame[18] + 1);

    QTest::newRow("wrong start") << badStart;
    QTest::newRow("wrong end") << badEnd;
    QTest::newRow("wrong checksum") << badChecksum;
    QTest::newRow("value changed in transit") << changedValue;
    QTest::newRow("other command byte") << otherCommand;
    QTest::newRow("other version byte") << otherVersion;
    QTest::newRow("one byte short") << frame.left(19);
    QTest::newRow("one byte long") << frame + QByteArray(1, char(0xA5));
    QTest::newRow("empty") << QByteArray();
}

void TestParamFrame::rejects()
{
    QFETCH(QByteArray, bytes);
    MAG_PARAM untouched = magParam(9, 9, 9, 9, 9, 9);
    QVERIFY(!parseParamFrame(reinterpret_cast<const uint8_t *>(bytes.constData()),
                             size_t(bytes.size()), &untouched));
    QCOMPARE(untouched.max_x, int16_t(9));
}

QTEST_GUILESS_MAIN(TestParamFrame)
#include "tst_paramframe.moc"
