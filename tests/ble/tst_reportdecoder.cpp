#include "reportdecoder.h"

#include <QtTest>

namespace {

// A 20-byte report: marker, six value bytes at 3..8, controls at 11..14, type at 16.
QByteArray report(int type, const char *values, const char *controls = "00000000")
{
    QByteArray bytes = QByteArray::fromHex(QByteArray("550000") + values + "0000" + controls + "00");
    bytes.append(char(type));
    return bytes + QByteArray(3, '\0');
}

// What the worker would emit for the last notification, in order.
QStringList emitted(const ReportResult &result, const ReportState &s)
{
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
    return out;
}

} // namespace

class TestReportDecoder : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
};

void TestReportDecoder::decode_data()
{
    QTest::addColumn<QByteArrayList>("earlier");
    QTest::addColumn<QByteArray>("notification");
    QTest::addColumn<QStringList>("expected");

    const QByteArray ackSuccess = QByteArray::fromHex("5501010000000000000000000000000000");
    const QByteArray ackFail = QByteArray::fromHex("5501010001000100010000000000000000");
    const QStringList zeroPos{"pos 0.0,0.0,0.0", "btn 0,0,0,0"};
    QByteArray failWithoutType = ackFail;
    failWithoutType[9] = char(0x33);
    failWithoutType[11] = char(0x02);
    failWithoutType[16] = char(0x7F);
    QByteArray badMarker = report(0, "000100010001");
    badMarker[0] = char(0xAA);

    QTest::newRow("3600 is a full turn, -3601 keeps its sign") << QByteArrayList()
        << report(0, "0E10" "8E11" "0E11") << QStringList{"pos 0.0,-0.1,0.1", "btn 0,0,0,0"};
    QTest::newRow("largest magnitudes") << QByteArrayList() << report(0, "7FFF" "FFFF" "0E0F")
        << QStringList{"pos 36.7,-36.7,359.9", "btn 0,0,0,0"};
    QTest::newRow("controls are signed bytes, joystick y before x") << QByteArrayList()
        << report(0, "000000000000", "058010F0") << QStringList{"pos 0.0,0.0,0.0", "btn 5,-128,-16,16"};
    QTest::newRow("success acknowledgement is also a type-0 report") << QByteArrayList()
        << ackSuccess << QStringList{"ack success"} + zeroPos;
    QTest::newRow("fail acknowledgement is also a type-0 report") << QByteArrayList()
        << ackFail << QStringList{"ack fail", "pos 0.1,0.1,0.1", "btn 0,0,0,0"};
    QTest::newRow("fail acknowledgement ignores bytes 9-11") << QByteArrayList()
        << failWithoutType << QStringList{"ack fail"};
    QTest::newRow("acknowledgement of twelve bytes") << QByteArrayList() << ackSuccess.left(12)
        << QStringList{"ack success"};
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

void TestReportDecoder::decode()
{
    QFETCH(QByteArrayList, earlier);
    QFETCH(QByteArray, notification);
    QFETCH(QStringList, expected);

    ReportState state;
    for (const QByteArray &bytes : earlier)
        decodeReport(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), state);
    const ReportResult result = decodeReport(
        reinterpret_cast<const uint8_t *>(notification.constData()), size_t(notification.size()), state);
    QCOMPARE(emitted(result, state), expected);
}

QTEST_GUILESS_MAIN(TestReportDecoder)
#include "tst_reportdecoder.moc"
