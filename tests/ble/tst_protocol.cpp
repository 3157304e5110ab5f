// Address texts, the device list's texts, parameter frames and report decoding.
#include "devicelist.h"
#include "hostevents.h"
#include "protocol.h"

#include <QtTest>

#include <cstring>
#include <memory>

Q_DECLARE_METATYPE(MAG_PARAM)

using namespace Protocol;

namespace {

// A 20-byte report: marker, six value bytes at 3..8, controls at 11..14, type at 16.
QByteArray report(int type, const char *values, const char *controls = "00000000")
{
    QByteArray bytes = QByteArray::fromHex(QByteArray("550000") + values + "0000" + controls + "00");
    bytes.append(char(type));
    return bytes + QByteArray(3, '\0');
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void addressText_data();
    void addressText();
    void deviceTextsOutliveReplacementAndGrowth();
    void paramFrame_data();
    void paramFrame();
    void decode_data();
    void decode();
};

void TestProtocol::addressText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qulonglong>("value");      // 0: rejected

    QTest::newRow("capitals") << QByteArray("123456789ABC") << 0x123456789ABCull;
    QTest::newRow("lower case, leading zeros come back") << QByteArray("00ab0c00000d") << 0x00AB0C00000Dull;
    QTest::newRow("empty") << QByteArray("") << 0ull;
    QTest::newRow("thirteen digits") << QByteArray("123456789ABCD") << 0ull;
    QTest::newRow("separators") << QByteArray("12:34:56:78:9A:BC") << 0ull;
    QTest::newRow("non-hex letter") << QByteArray("123456789ABG") << 0ull;
    QTest::newRow("high byte") << QByteArray("123456789AB\xC1") << 0ull;
}

void TestProtocol::addressText()
{
    QFETCH(QByteArray, text);
    QFETCH(qulonglong, value);

    // An exact-size copy, so a read past the NUL would leave the allocation.
    std::unique_ptr<char[]> exact(new char[size_t(text.size()) + 1]);
    std::memcpy(exact.get(), text.constData(), size_t(text.size()) + 1);

    BleAddress address = makeBleAddress(0x0102030405ull);
    address.kind = 7;
    QCOMPARE(parseAddressText(exact.get(), &address), value != 0);
    QCOMPARE(qulonglong(bleAddressValue(address)), value ? value : 0x0102030405ull);
    QCOMPARE(address.kind, uint16_t(value ? 0 : 7));
    if (value) {
        char back[13];
        std::memset(back, 'x', sizeof back);
        formatAddressText(address, back);
        QCOMPARE(QByteArray(back, sizeof back), text.toUpper() + '\0');
    }
}

void TestProtocol::deviceTextsOutliveReplacementAndGrowth()
{
    // The window may still hold the pointers of an earlier announcement in a queued signal.
    DeviceList list;
    const DeviceEntry *first = list.update(makeBleAddress(1), "First");
    QVERIFY(first);
    const char *oldName = first->name;
    list.update(makeBleAddress(1), "Second");
    for (uint64_t i = 2; i < 2000; ++i)
        list.update(makeBleAddress(i), "Flood");
    QCOMPARE(list.size(), size_t(1999));
    QCOMPARE(list.find("000000000001"), first);
    QCOMPARE(QByteArray(oldName), QByteArray("First"));
    QCOMPARE(QByteArray(first->addressText), QByteArray("000000000001"));
    QCOMPARE(QByteArray(list.at(0).name), QByteArray("Second"));
    QVERIFY(!list.find("00000000000"));
    QVERIFY(!list.find(nullptr));
}

void TestProtocol::paramFrame_data()
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
}

void TestProtocol::paramFrame()
{
    QFETCH(MAG_PARAM, param);
    QFETCH(QByteArray, frame);

    const ParamFrame built = buildParamFrame(param);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(built.data()), int(built.size())).toHex(' ').toUpper(),
             frame);
    MAG_PARAM back{};
    QVERIFY(parseParamFrame(built.data(), built.size(), &back));
    QCOMPARE(buildParamFrame(back), built);
}

void TestProtocol::decode_data()
{
    QTest::addColumn<QByteArrayList>("earlier");
    QTest::addColumn<QByteArray>("notification");
    QTest::addColumn<QStringList>("expected");

    const QByteArray ackSuccess = QByteArray::fromHex("5501010000000000000000000000000000");
    const QByteArray ackFail = QByteArray::fromHex("5501010001000100010000000000000000");
    QByteArray failWithoutType = ackFail;
    failWithoutType[9] = char(0x33);
    failWithoutType[11] = char(0x02);
    QByteArray badMarker = report(0, "000100010001");
    badMarker[0] = char(0xAA);

    QTest::newRow("3600 is a full turn, -3601 keeps its sign, largest magnitude") << QByteArrayList()
        << report(0, "0E10" "8E11" "7FFF") << QStringList{"pos 0.0,-0.1,36.7", "btn 0,0,0,0"};
    QTest::newRow("controls are signed bytes, joystick y before x") << QByteArrayList()
        << report(0, "000000000000", "058010F0") << QStringList{"pos 0.0,0.0,0.0", "btn 5,-128,-16,16"};
    QTest::newRow("success acknowledgement is also a type-0 report") << QByteArrayList()
        << ackSuccess << QStringList{"ack success", "pos 0.0,0.0,0.0", "btn 0,0,0,0"};
    QTest::newRow("fail acknowledgement is also a type-0 report") << QByteArrayList()
        << ackFail << QStringList{"ack fail", "pos 0.1,0.1,0.1", "btn 0,0,0,0"};
    QTest::newRow("fail acknowledgement of twelve bytes ignores bytes 9-11") << QByteArrayList()
        << failWithoutType.left(12) << QStringList{"ack fail"};
    QTest::newRow("acknowledgement of eleven bytes") << QByteArrayList() << ackSuccess.left(11)
        << QStringList();
    QTest::newRow("types 2 and 3 alone emit nothing") << QByteArrayList{report(2, "000100020003")}
        << report(3, "000100020003") << QStringList();
    QTest::newRow("type 4 assembles the raw record")
        << QByteArrayList{report(2, "000180020003"), report(3, "800400050006")}
        << report(4, "000780080009") << QStringList{"raw 1,-2,3,-4,5,6,7,-8,9"};
    QTest::newRow("unknown type 5") << QByteArrayList() << report(5, "000100010001") << QStringList();
    QTest::newRow("bad marker") << QByteArrayList() << badMarker << QStringList();
    QTest::newRow("empty notification") << QByteArrayList() << QByteArray() << QStringList();
    QTest::newRow("sixteen bytes: no type byte, none left over") << QByteArrayList{report(4, "000100010001")}
        << report(0, "000100010001").left(16) << QStringList();
    QTest::newRow("oversized notification") << QByteArrayList()
        << report(0, "000A000A000A") + QByteArray(3000, char(0x55))
        << QStringList{"pos 1.0,1.0,1.0", "btn 0,0,0,0"};
}

void TestProtocol::decode()
{
    QFETCH(QByteArrayList, earlier);
    QFETCH(QByteArray, notification);
    QFETCH(QStringList, expected);

    ReportState s;
    ReportResult result;
    for (const QByteArray &bytes : earlier + QByteArrayList{notification})
        result = decodeReport(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), s);
    QStringList out;
    if (result.ack != ReportAck::None)
        out << (result.ack == ReportAck::Success ? "ack success" : "ack fail");
    if (result.pos) {
        out << QString::asprintf("pos %.1f,%.1f,%.1f", double(s.posSample.angle1),
                                 double(s.posSample.angle2), double(s.posSample.angle3));
        out << QString::asprintf("btn %d,%d,%d,%d", s.btn, s.trig, s.rock_x, s.rock_y);
    }
    if (result.raw) {
        const IMU_RAW &r = s.rawSample;
        out << QString::asprintf("raw %d,%d,%d,%d,%d,%d,%d,%d,%d", r.first_x, r.first_y, r.first_z,
                                 r.second_x, r.second_y, r.second_z, r.mag_x, r.mag_y, r.mag_z);
    }
    QCOMPARE(out, expected);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
