// The controller's wire format against the bytes it must be, the device list's texts, and
// round trips through each encoder and its decoder.
#include "devicelist.h"
#include "hostevents.h"
#include "protocol.h"

#include <QtTest>

#include <cstring>
#include <memory>

Q_DECLARE_METATYPE(MAG_PARAM)

using namespace Protocol;

namespace {

QByteArray bytes(const Report &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.data()), int(r.size()));
}

// A 20-byte report: marker, six value bytes at 3..8, controls at 11..14, type at 16.
QByteArray report(int type, const char *values, const char *controls = "00000000")
{
    QByteArray r = QByteArray::fromHex(QByteArray("550000") + values + "0000" + controls + "00");
    r.append(char(type));
    return r + QByteArray(3, '\0');
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
    void reports_data();
    void reports();
};

void TestProtocol::addressText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("nap");      // -1: the text is rejected
    QTest::addColumn<int>("uap");
    QTest::addColumn<int>("lap");

    QTest::newRow("most significant byte first") << QByteArray("123456789ABC") << 0x1234 << 0x56 << 0x789ABC;
    QTest::newRow("two digits a byte, leading zeros") << QByteArray("00AB0C00000D") << 0xAB << 0x0C << 0xD;
    QTest::newRow("lower case is read") << QByteArray("00ab0c00000d") << 0xAB << 0x0C << 0xD;
    QTest::newRow("empty") << QByteArray("") << -1 << 0 << 0;
    QTest::newRow("thirteen digits") << QByteArray("123456789ABCD") << -1 << 0 << 0;
    QTest::newRow("separators") << QByteArray("12:34:56:78:9A:BC") << -1 << 0 << 0;
    QTest::newRow("non-hex letter") << QByteArray("123456789ABG") << -1 << 0 << 0;
    QTest::newRow("high byte") << QByteArray("123456789AB\xC1") << -1 << 0 << 0;
}

void TestProtocol::addressText()
{
    QFETCH(QByteArray, text);
    QFETCH(int, nap);
    QFETCH(int, uap);
    QFETCH(int, lap);

    // An exact-size copy, so a read past the NUL would leave the allocation.
    std::unique_ptr<char[]> exact(new char[size_t(text.size()) + 1]);
    std::memcpy(exact.get(), text.constData(), size_t(text.size()) + 1);

    const BleAddress untouched = makeBleAddress(0x0102030405ull);
    BleAddress address = untouched;
    address.kind = 7;
    QCOMPARE(parseAddressText(exact.get(), &address), nap >= 0);
    if (nap < 0) {
        QCOMPARE(bleAddressValue(address), bleAddressValue(untouched));
        QCOMPARE(address.kind, uint16_t(7));
        return;
    }
    QCOMPARE(int(address.nap), nap);
    QCOMPARE(int(address.uap), uap);
    QCOMPARE(int(address.lap), lap);
    QCOMPARE(address.kind, uint16_t(0));

    // `kind` is not part of the text.
    address.kind = 3;
    char back[AddressTextLength + 1];
    std::memset(back, 'x', sizeof back);
    formatAddressText(address, back);
    QCOMPARE(QByteArray(back, sizeof back), text.toUpper() + '\0');
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
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<MAG_PARAM>("param");
    QTest::addColumn<bool>("valid");

    const QByteArray mixed = QByteArray::fromHex("5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5");
    const MAG_PARAM mixedParam{120, 35, 200, -75, -200, -3};
    QTest::newRow("all zero: checksum 5")
        << QByteArray::fromHex("5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5") << MAG_PARAM{} << true;
    QTest::newRow("checksum keeps its low byte (200/-200)")
        << QByteArray::fromHex("5A 04 01 00 C8 FF 38 00 C8 FF 38 00 C8 FF 38 00 00 00 02 A5")
        << MAG_PARAM{200, 200, 200, -200, -200, -200} << true;
    QTest::newRow("max then min per axis") << mixed << mixedParam << true;
    QTest::newRow("-1, 256 and -32768")
        << QByteArray::fromHex("5A 04 01 FF FF 00 00 01 00 00 00 80 00 00 00 00 00 00 84 A5")
        << MAG_PARAM{-1, 256, -32768, 0, 0, 0} << true;

    // One byte changed; where only the header is wrong the checksum is fixed up.
    auto changed = [&](int at, int value, bool fixSum) {
        QByteArray bad = mixed;
        bad[at] = char(value);
        if (fixSum)
            bad[18] = char(mixed[18] + value - mixed[at]);
        return bad;
    };
    QTest::newRow("wrong start") << changed(0, 0x5B, false) << mixedParam << false;
    QTest::newRow("wrong end") << changed(19, 0xA4, false) << mixedParam << false;
    QTest::newRow("wrong checksum") << changed(18, 0x50, false) << mixedParam << false;
    QTest::newRow("other command byte") << changed(1, 0x05, true) << mixedParam << false;
    QTest::newRow("other version byte") << changed(2, 0x02, true) << mixedParam << false;
    QTest::newRow("one byte short") << mixed.left(19) << mixedParam << false;
    QTest::newRow("one byte long") << mixed + QByteArray(1, char(0xA5)) << mixedParam << false;
    QTest::newRow("empty") << QByteArray() << mixedParam << false;
}

void TestProtocol::paramFrame()
{
    QFETCH(QByteArray, frame);
    QFETCH(MAG_PARAM, param);
    QFETCH(bool, valid);

    if (valid) {
        const ParamFrame built = buildParamFrame(param);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(built.data()), int(built.size())), frame);
    }
    // Exact size, so a read past the frame leaves the allocation.
    const std::vector<uint8_t> exact(frame.begin(), frame.end());
    MAG_PARAM parsed{1, 2, 3, 4, 5, 6};
    QCOMPARE(parseParamFrame(exact.data(), exact.size(), &parsed), valid);
    auto fields = [](const MAG_PARAM &p) {
        return QVector<int>{p.max_x, p.max_y, p.max_z, p.min_x, p.min_y, p.min_z};
    };
    QCOMPARE(fields(parsed), fields(valid ? param : MAG_PARAM{1, 2, 3, 4, 5, 6}));
}

void TestProtocol::reports_data()
{
    QTest::addColumn<QByteArrayList>("earlier");
    QTest::addColumn<QByteArray>("notification");
    QTest::addColumn<QByteArray>("golden");     // what the encoder must have built, if it did
    QTest::addColumn<QStringList>("expected");

    // Built by the encoder, checked against the bytes, then decoded.
    QTest::newRow("3600 is a full turn, -3601 keeps its sign, largest magnitude") << QByteArrayList()
        << bytes(encodeReport(OrientationReport, {3600, -3601, 32767}))
        << QByteArray::fromHex("55 00 00 0E 10 8E 11 7F FF 00 00 00 00 00 00 00 00 00 00 00")
        << QStringList{"pos 0.0,-0.1,36.7", "btn 0,0,0,0"};
    QTest::newRow("controls are signed bytes, joystick y before x") << QByteArrayList()
        << bytes(encodeReport(OrientationReport, {1, -1, 0}, Controls{5, -128, -16, 16}))
        << QByteArray::fromHex("55 00 00 00 01 80 01 00 00 00 00 05 80 10 F0 00 00 00 00 00")
        << QStringList{"pos 0.1,-0.1,0.0", "btn 5,-128,-16,16"};
    QTest::newRow("type 4 assembles the raw record; values beyond 15 bits are clamped")
        << QByteArrayList{bytes(encodeReport(AccelReport, {1, -2, 3})), bytes(encodeReport(GyroReport, {-4, 5, 6}))}
        << bytes(encodeReport(MagReport, {32767, -32768, 0}))
        << QByteArray::fromHex("55 00 00 7F FF FF FF 00 00 00 00 00 00 00 00 00 04 00 00 00")
        << QStringList{"raw 1,-2,3,-4,5,6,32767,-32767,0"};
    QTest::newRow("success acknowledgement") << QByteArrayList() << bytes(encodeAcknowledgement(true))
        << QByteArray::fromHex("55 01 01 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00")
        << QStringList{"ack success"};
    QTest::newRow("fail acknowledgement") << QByteArrayList() << bytes(encodeAcknowledgement(false))
        << QByteArray::fromHex("55 01 01 00 01 00 01 00 01 00 00 00 00 00 00 00 01 00 00 00")
        << QStringList{"ack fail"};

    // As they may come from a controller.
    QTest::newRow("success acknowledgement of type 0 is also an orientation report") << QByteArrayList()
        << QByteArray::fromHex("55 01 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00") << QByteArray()
        << QStringList{"ack success", "pos 0.0,0.0,0.0", "btn 0,0,0,0"};
    QTest::newRow("fail acknowledgement ignores bytes 9-11, is also an orientation report") << QByteArrayList()
        << QByteArray::fromHex("55 01 01 00 01 00 01 00 01 33 00 02 00 00 00 00 00") << QByteArray()
        << QStringList{"ack fail", "pos 0.1,0.1,0.1", "btn 2,0,0,0"};
    QTest::newRow("fail acknowledgement of nine bytes") << QByteArrayList()
        << QByteArray::fromHex("55 01 01 00 01 00 01 00 01") << QByteArray() << QStringList{"ack fail"};
    QTest::newRow("success acknowledgement of eleven bytes") << QByteArrayList()
        << QByteArray::fromHex("55 01 01 00 00 00 00 00 00 00 00") << QByteArray() << QStringList();
    QTest::newRow("types 2 and 3 alone emit nothing") << QByteArrayList{report(2, "000100020003")}
        << report(3, "000100020003") << QByteArray() << QStringList();
    QTest::newRow("unknown type 5") << QByteArrayList() << report(5, "000100010001") << QByteArray()
        << QStringList();
    QTest::newRow("bad marker") << QByteArrayList() << "\xAA" + report(0, "000100010001").mid(1) << QByteArray()
        << QStringList();
    QTest::newRow("empty notification") << QByteArrayList() << QByteArray() << QByteArray() << QStringList();
    QTest::newRow("sixteen bytes: no type byte, none left over") << QByteArrayList{report(4, "000100010001")}
        << report(0, "000100010001").left(16) << QByteArray() << QStringList();
    QTest::newRow("oversized notification") << QByteArrayList()
        << report(0, "000A000A000A") + QByteArray(3000, char(0x55)) << QByteArray()
        << QStringList{"pos 1.0,1.0,1.0", "btn 0,0,0,0"};
}

void TestProtocol::reports()
{
    QFETCH(QByteArrayList, earlier);
    QFETCH(QByteArray, notification);
    QFETCH(QByteArray, golden);
    QFETCH(QStringList, expected);

    if (!golden.isEmpty())
        QCOMPARE(notification.toHex(' '), golden.toHex(' '));
    ReportState s;
    ReportResult result;
    for (const QByteArray &b : earlier + QByteArrayList{notification})
        result = decodeReport(reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size()), s);
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
