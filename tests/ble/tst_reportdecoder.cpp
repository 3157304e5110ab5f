#include "reportdecoder.h"

#include <QtTest>

namespace {

// A 20-byte report: marker, six value bytes at 3..8, controls at 11..14, type at 16.
QByteArray report(int type, const char *values, const char *controls = "00000000")
{
    QByteArray bytes = QByteArray::fromHex("550000") + QByteArray::fromHex(values)
            + QByteArray::fromHex("0000") + QByteArray::fromHex(controls)
            + QByteArray::fromHex("00");
    bytes.append(char(type));
    bytes.append(QByteArray::fromHex("000000"));
    Q_ASSERT(bytes.size() == 20);
    return bytes;
}

// What the worker would emit for the last notification, in order.
QStringList emitted(const ReportResult &result, const ReportState &state)
{
    QStringList out;
    if (result.ack == ReportAck::Success)
        out << "ack success";
    else if (result.ack == ReportAck::Fail)
        out << "ack fail";
    if (result.pos) {
        out << QString::asprintf("pos %.1f,%.1f,%.1f", double(state.posSample.angle1),
                                 double(state.posSample.angle2), double(state.posSample.angle3));
        out << QString::asprintf("btn %d,%d,%d,%d", state.btn, state.trig, state.rock_x,
                                 state.rock_y);
    }
    if (result.raw) {
        const IMU_RAW &r = state.rawSample;
        out << QString::asprintf("raw %d,%d,%d,%d,%d,%d,%d,%d,%d", r.first_x, r.first_y,
                                 r.first_z, r.second_x, r.second_y, r.second_z, r.mag_x,
                                 r.mag_y, r.mag_z);
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

    const QByteArray ackSuccess = QByteArray::fromHex("55010100" "0000000000000000" "00000000" "00");
    const QByteArray ackFail = QByteArray::fromHex("55010100" "0100010001000000" "00000000" "00");

    QTest::newRow("3600 is a full turn") << QByteArrayList()
        << report(0, "0E10" "8E10" "0E11")
        << QStringList{"pos 0.0,0.0,0.1", "btn 0,0,0,0"};
    QTest::newRow("-3601 keeps its sign") << QByteArrayList()
        << report(0, "8E11" "8000" "8001")
        << QStringList{"pos -0.1,0.0,-0.1", "btn 0,0,0,0"};
    QTest::newRow("largest magnitudes") << QByteArrayList()
        << report(0, "7FFF" "FFFF" "0E0F")
        << QStringList{"pos 36.7,-36.7,359.9", "btn 0,0,0,0"};
    QTest::newRow("controls are signed bytes, joystick y before x") << QByteArrayList()
        << report(0, "000000000000", "058010F0")
        << QStringList{"pos 0.0,0.0,0.0", "btn 5,-128,-16,16"};
    QTest::newRow("success acknowledgement is also a type-0 report") << QByteArrayList()
        << ackSuccess << QStringList{"ack success", "pos 0.0,0.0,0.0", "btn 0,0,0,0"};
    QTest::newRow("fail acknowledgement is also a type-0 report") << QByteArrayList()
        << ackFail << QStringList{"ack fail", "pos 0.1,0.1,0.1", "btn 0,0,0,0"};
    {
        QByteArray bytes = ackFail;
        bytes[9] = char(0x33);
        bytes[10] = char(0x44);
        bytes[11] = char(0x02);
        bytes[16] = char(0x7F);
        QTest::newRow("fail acknowledgement ignores bytes 9-11") << QByteArrayList() << bytes
            << QStringList{"ack fail"};
    }
    {
        QByteArray bytes = ackSuccess;
        bytes[11] = char(0x01);
        QTest::newRow("not quite a success acknowledgement") << QByteArrayList() << bytes
            << QStringList{"pos 0.0,0.0,0.0", "btn 1,0,0,0"};
    }
    {
        QByteArray bytes = ackSuccess;
        bytes[16] = char(0x7F);
        QTest::newRow("acknowledgement without a report type") << QByteArrayList() << bytes
            << QStringList{"ack success"};
    }
    QTest::newRow("acknowledgement of twelve bytes") << QByteArrayList() << ackSuccess.left(12)
        << QStringList{"ack success"};
    QTest::newRow("acknowledgement of eleven bytes") << QByteArrayList() << ackSuccess.left(11)
        << QStringList();
    {
        QByteArray bytes = ackSuccess;
        bytes[0] = char(0x54);
        QTest::newRow("acknowledgement without marker") << QByteArrayList() << bytes
            << QStringList();
    }
    QTest::newRow("type 2 alone emits nothing") << QByteArrayList()
        << report(2, "000100020003") << QStringList();
    QTest::newRow("type 3 alone emits nothing") << QByteArrayList()
        << report(3, "000100020003") << QStringList();
    QTest::newRow("type 4 first: zeros before it") << QByteArrayList()
        << report(4, "00C880C80064") << QStringList{"raw 0,0,0,0,0,0,200,-200,100"};
    QTest::newRow("type 4 assembles the raw record")
        << QByteArrayList{report(2, "000180020003"), report(3, "800400050006")}
        << report(4, "000780080009") << QStringList{"raw 1,-2,3,-4,5,6,7,-8,9"};
    QTest::newRow("later type 2 replaces the earlier one")
        << QByteArrayList{report(2, "000100010001"), report(2, "000200020002")}
        << report(4, "000000000000") << QStringList{"raw 2,2,2,0,0,0,0,0,0"};
    QTest::newRow("unknown type 1") << QByteArrayList() << report(1, "0E1000000000") << QStringList();
    QTest::newRow("unknown type 5") << QByteArrayList() << report(5, "000100010001") << QStringList();
    {
        QByteArray bytes = report(0, "000100010001");
        bytes[0] = char(0xAA);
        QTest::newRow("bad marker") << QByteArrayList() << bytes << QStringList();
    }
    QTest::newRow("empty notification") << QByteArrayList() << QByteArray() << QStringList();
    QTest::newRow("sixteen bytes: no type byte") << QByteArrayList()
        << report(0, "000100010001").left(16) << QStringList();
    QTest::newRow("seventeen bytes are enough") << QByteArrayList()
        << report(0, "000100010001").left(17)
        << QStringList{"pos 0.1,0.1,0.1", "btn 0,0,0,0"};
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
