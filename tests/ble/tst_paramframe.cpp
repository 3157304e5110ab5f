#include "paramframe.h"

#include <QtTest>

Q_DECLARE_METATYPE(MAG_PARAM)

namespace {

QByteArray bytesOf(const ParamFrame &f)
{
    return QByteArray(reinterpret_cast<const char *>(f.data()), int(f.size()));
}

} // namespace

class TestParamFrame : public QObject
{
    Q_OBJECT

private slots:
    void build_data();
    void build();
    void rejects_data();
    void rejects();
};

void TestParamFrame::build_data()
{
    QTest::addColumn<MAG_PARAM>("param");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("all zero") << MAG_PARAM{0, 0, 0, 0, 0, 0}
        << QByteArray("5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5");
    QTest::newRow("checksum overflows (200/-200)") << MAG_PARAM{200, 200, 200, -200, -200, -200}
        << QByteArray("5A 04 01 00 C8 FF 38 00 C8 FF 38 00 C8 FF 38 00 00 00 02 A5");
    QTest::newRow("mixed values") << MAG_PARAM{120, 35, 200, -75, -200, -3}
        << QByteArray("5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5");
    QTest::newRow("-1, 256 and -32768") << MAG_PARAM{-1, 256, -32768, 0, 0, 0}
        << QByteArray("5A 04 01 FF FF 00 00 01 00 00 00 80 00 00 00 00 00 00 84 A5");
    QTest::newRow("extremes overflow the checksum") << MAG_PARAM{32767, 32767, 32767, -1, -1, -1}
        << QByteArray("5A 04 01 7F FF FF FF 7F FF FF FF 7F FF FF FF 00 00 00 79 A5");
}

void TestParamFrame::build()
{
    QFETCH(MAG_PARAM, param);
    QFETCH(QByteArray, frame);

    const ParamFrame built = buildParamFrame(param);
    QCOMPARE(bytesOf(built).toHex(' ').toUpper(), frame);
    MAG_PARAM back{};
    QVERIFY(parseParamFrame(built.data(), built.size(), &back));
    QCOMPARE(bytesOf(buildParamFrame(back)), bytesOf(built));
}

void TestParamFrame::rejects_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray frame = bytesOf(buildParamFrame(MAG_PARAM{120, 35, 200, -75, -200, -3}));
    // Each change at `at` to `value`; the checksum is fixed up where only the header is wrong.
    auto changed = [&](int at, int value, bool fixSum) {
        QByteArray bad = frame;
        bad[at] = char(value);
        if (fixSum)
            bad[18] = char(frame[18] + value - frame[at]);
        return bad;
    };
    QTest::newRow("wrong start") << changed(0, 0x5B, false);
    QTest::newRow("wrong end") << changed(19, 0xA4, false);
    QTest::newRow("wrong checksum") << changed(18, frame[18] + 1, false);
    QTest::newRow("other command byte") << changed(1, 0x05, true);
    QTest::newRow("other version byte") << changed(2, 0x02, true);
    QTest::newRow("one byte short") << frame.left(19);
    QTest::newRow("one byte long") << frame + QByteArray(1, char(0xA5));
    QTest::newRow("empty") << QByteArray();
}

void TestParamFrame::rejects()
{
    QFETCH(QByteArray, bytes);
    MAG_PARAM untouched{9, 9, 9, 9, 9, 9};
    QVERIFY(!parseParamFrame(reinterpret_cast<const uint8_t *>(bytes.constData()),
                             size_t(bytes.size()), &untouched));
    QCOMPARE(untouched.max_x, int16_t(9));
}

QTEST_GUILESS_MAIN(TestParamFrame)
#include "tst_paramframe.moc"
