// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

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

// A report or a parameter frame.
static QByteArray bytes(const std::array<uint8_t, 20> &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.data()), int(r.size()));
}

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
    void keptName_data();
    void keptName();
};

void TestProtocol::addressText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qulonglong>("address");   // nap'uap'lap; 0: rejected

    QTest::newRow("most significant byte first") << QByteArray("123456789ABC") << 0x1234'56'789ABCull;
    QTest::newRow("two digits a byte, leading zeros") << QByteArray("00AB0C00000D") << 0x00AB'0C'00000Dull;
    QTest::newRow("lower case is read") << QByteArray("00ab0c00000d") << 0x00AB'0C'00000Dull;
    QTest::newRow("empty") << QByteArray("") << 0ull;
    QTest::newRow("thirteen digits") << QByteArray("123456789ABCD") << 0ull;
    QTest::newRow("separators") << QByteArray("12:34:56:78:9A:BC") << 0ull;
    QTest::newRow("non-hex letter") << QByteArray("123456789ABG") << 0ull;
    QTest::newRow("high byte") << QByteArray("123456789AB\xC1") << 0ull;
}

void TestProtocol::addressText()
{
    QFETCH(QByteArray, text);
    QFETCH(qulonglong, address);

    // An exact-size copy, so a read past the NUL would leave the allocation.
    std::unique_ptr<char[]> exact(new char[size_t(text.size()) + 1]);
    std::memcpy(exact.get(), text.constData(), size_t(text.size()) + 1);

    BleAddress parsed = makeBleAddress(0x0102030405ull);
    parsed.kind = 7;
    QCOMPARE(parseAddressText(exact.get(), &parsed), address != 0);
    const qulonglong fields = (qulonglong(parsed.nap) << 32) | (qulonglong(parsed.uap) << 24) | parsed.lap;
    QCOMPARE(fields, address ? address : 0x0102030405ull);
    QCOMPARE(parsed.kind, uint16_t(address ? 0 : 7));
    if (address) {
        parsed.kind = 3;    // not part of the text
        char back[AddressTextLength + 1];
        std::memset(back, 'x', sizeof back);
        formatAddressText(parsed, back);
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
    // A replaced name is held until its owner takes it back; then only the names in use are.
    QCOMPARE(list.nameBytes(), sizeof "First" + sizeof "Second" + 1998 * sizeof "Flood");
    list.takeRetired();
    QCOMPARE(list.nameBytes(), sizeof "Second" + 1998 * sizeof "Flood");
    QVERIFY(!list.find("00000000000"));
    QVERIFY(!list.find(nullptr));
}

void TestProtocol::paramFrame_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<MAG_PARAM>("param");
    auto row = [](const char *name, const char *hex, bool valid,
                  const MAG_PARAM &param = {120, 35, 200, -75, -200, -3}) {
        QTest::newRow(name) << QByteArray::fromHex(hex) << valid << param;
    };

    row("all zero: checksum 5", "5A 04 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 A5", true, {});
    row("checksum keeps its low byte", "5A 04 01 00 C8 FF 38 00 C8 FF 38 00 C8 FF 38 00 00 00 02 A5", true,
        {200, 200, 200, -200, -200, -200});
    row("max then min per axis", "5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5", true);
    row("-1, 256 and -32768", "5A 04 01 FF FF 00 00 01 00 00 00 80 00 00 00 00 00 00 84 A5", true,
        {-1, 256, -32768, 0, 0, 0});
    row("wrong start", "5B 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5", false);
    row("other command byte", "5A 05 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 50 A5", false);
    row("other version byte", "5A 04 02 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 50 A5", false);
    row("wrong checksum", "5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 50 A5", false);
    row("wrong end", "5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A4", false);
    row("one byte short", "5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F", false);
    row("one byte long", "5A 04 01 00 78 FF B5 00 23 FF 38 00 C8 FF FD 00 00 00 4F A5 A5", false);
    row("empty", "", false);
}

void TestProtocol::paramFrame()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, valid);
    QFETCH(MAG_PARAM, param);

    if (valid)
        QCOMPARE(bytes(buildParamFrame(param)), frame);
    // Exact size, so a read past the frame leaves the allocation.
    const std::vector<uint8_t> exact(frame.begin(), frame.end());
    const MAG_PARAM untouched{1, 2, 3, 4, 5, 6};
    MAG_PARAM parsed = untouched;
    QCOMPARE(parseParamFrame(exact.data(), exact.size(), &parsed), valid);
    // Compared as frames: the builder matches the bytes above.
    QCOMPARE(bytes(buildParamFrame(parsed)), bytes(buildParamFrame(valid ? param : untouched)));
}

void TestProtocol::reports_data()
{
    QTest::addColumn<QByteArrayList>("earlier");
    QTest::addColumn<QByteArray>("notification");
    QTest::addColumn<QByteArray>("golden");     // what the encoder must have built, if it did
    QTest::addColumn<QStringList>("expected");
    auto row = [](const char *name, const QByteArray &notification, const char *golden,
                  const QStringList &expected, const QByteArrayList &earlier = {}) {
        QTest::newRow(name) << earlier << notification << QByteArray::fromHex(golden) << expected;
    };
    auto hex = [](const char *text) { return QByteArray::fromHex(text); };

    // Built by the encoder, checked against the bytes it must be, then decoded.
    row("3600 is a full turn, -3601 keeps its sign, largest magnitude",
        bytes(encodeReport(OrientationReport, {3600, -3601, 32767})),
        "55 00 00 0E 10 8E 11 7F FF 00 00 00 00 00 00 00 00 00 00 00", {"pos 0.0,-0.1,36.7", "btn 0,0,0,0"});
    row("controls are signed bytes, joystick y before x",
        bytes(encodeReport(OrientationReport, {1, -1, 0}, Controls{5, -128, -16, 16})),
        "55 00 00 00 01 80 01 00 00 00 00 05 80 10 F0 00 00 00 00 00", {"pos 0.1,-0.1,0.0", "btn 5,-128,-16,16"});
    row("type 4 assembles the raw record; values beyond 15 bits are clamped",
        bytes(encodeReport(MagReport, {32767, -32768, 0})),
        "55 00 00 7F FF FF FF 00 00 00 00 00 00 00 00 00 04 00 00 00", {"raw 1,-2,3,-4,5,6,32767,-32767,0"},
        {bytes(encodeReport(AccelReport, {1, -2, 3})), bytes(encodeReport(GyroReport, {-4, 5, 6}))});
    row("success acknowledgement", bytes(encodeAcknowledgement(true)),
        "55 01 01 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00", {"ack success"});
    row("fail acknowledgement", bytes(encodeAcknowledgement(false)),
        "55 01 01 00 01 00 01 00 01 00 00 00 00 00 00 00 01 00 00 00", {"ack fail"});

    // As a controller may send them.
    const QByteArray orientation = bytes(encodeReport(OrientationReport, {10, 10, 10}));
    row("success acknowledgement of type 0 is also an orientation report",
        hex("55 01 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00"), "",
        {"ack success", "pos 0.0,0.0,0.0", "btn 0,0,0,0"});
    row("fail acknowledgement ignores bytes 9-11, is also an orientation report",
        hex("55 01 01 00 01 00 01 00 01 33 00 02 00 00 00 00 00"), "",
        {"ack fail", "pos 0.1,0.1,0.1", "btn 2,0,0,0"});
    row("fail acknowledgement of nine bytes", hex("55 01 01 00 01 00 01 00 01"), "", {"ack fail"});
    row("success acknowledgement of eleven bytes", hex("55 01 01 00 00 00 00 00 00 00 00"), "", {});
    row("success pattern needs byte 11 zero", hex("55 01 01 00 00 00 00 00 00 00 00 01"), "", {});
    row("types 2 and 3 alone emit nothing", bytes(encodeReport(GyroReport, {1, 2, 3})), "", {},
        {bytes(encodeReport(AccelReport, {1, 2, 3}))});
    row("unknown type 5", bytes(encodeReport(ReportType(5), {1, 1, 1})), "", {});
    row("bad marker", "\xAA" + orientation.mid(1), "", {});
    row("empty notification", QByteArray(), "", {});
    row("sixteen bytes: no type byte, none left over", orientation.left(16), "", {},
        {bytes(encodeReport(MagReport, {1, 1, 1}))});
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
    const IMU_POS &p = s.posSample;
    const IMU_RAW &r = s.rawSample;
    QStringList out;
    if (result.ack != ReportAck::None)
        out << (result.ack == ReportAck::Success ? "ack success" : "ack fail");
    if (result.pos)
        out << QString::asprintf("pos %.1f,%.1f,%.1f", double(p.angle1), double(p.angle2), double(p.angle3))
            << QString::asprintf("btn %d,%d,%d,%d", s.btn, s.trig, s.rock_x, s.rock_y);
    if (result.raw)
        out << QString::asprintf("raw %d,%d,%d,%d,%d,%d,%d,%d,%d", r.first_x, r.first_y, r.first_z, r.second_x,
                                 r.second_y, r.second_z, r.mag_x, r.mag_y, r.mag_z);
    QCOMPARE(out, expected);
}

// A device name is kept to 248 bytes, cut before a character it would split.
void TestProtocol::keptName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("kept");
    QTest::newRow("short") << QByteArray("IMU") << 3;
    QTest::newRow("exactly the longest") << QByteArray(248, 'a') << 248;
    QTest::newRow("longer") << QByteArray(10000, 'a') << 248;
    QTest::newRow("a two-byte letter across the cut") << QByteArray(247, 'a') + "\xC3\xA9" << 247;
    QTest::newRow("a four-byte sign across the cut") << QByteArray(246, 'a') + "\xF0\x9F\x98\x80" << 246;
}

void TestProtocol::keptName()
{
    QFETCH(QByteArray, name);
    QFETCH(int, kept);
    QCOMPARE(int(Protocol::keptNameLength(name.constData())), kept);
    QCOMPARE(int(Protocol::keptNameLength(name.constData(), size_t(name.size()))), kept);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
