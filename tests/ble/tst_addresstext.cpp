#include "addresstext.h"
#include "hostevents.h"

#include <QtTest>

#include <cstring>

class TestAddressText : public QObject
{
    Q_OBJECT

private slots:
    void format_data();
    void format();
    void parse_data();
    void parse();
};

void TestAddressText::format_data()
{
    QTest::addColumn<int>("nap");
    QTest::addColumn<int>("uap");
    QTest::addColumn<uint>("lap");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");

    QTest::newRow("byte order") << 0x1234 << 0x56 << 0x789ABCu << 0 << "123456789ABC";
    QTest::newRow("leading zeros, capitals") << 0xAB << 0x0C << 0xDu << 0 << "00AB0C00000D";
    QTest::newRow("all zero") << 0 << 0 << 0u << 0 << "000000000000";
    QTest::newRow("all ones") << 0xFFFF << 0xFF << 0xFFFFFFu << 0 << "FFFFFFFFFFFF";
    QTest::newRow("lap above 24 bits is not part of it") << 0xAB << 0x0C << 0xFF00000Du << 0
                                                         << "00AB0C00000D";
    QTest::newRow("kind is not part of it") << 0xAB << 0x0C << 0xDu << 1 << "00AB0C00000D";
}

void TestAddressText::format()
{
    QFETCH(int, nap);
    QFETCH(int, uap);
    QFETCH(uint, lap);
    QFETCH(int, kind);
    QFETCH(QString, text);

    BleAddress address{};
    address.kind = uint16_t(kind);
    address.nap = uint16_t(nap);
    address.uap = uint8_t(uap);
    address.lap = lap;
    char out[13];
    std::memset(out, 'x', sizeof out);
    formatAddressText(address, out);
    QCOMPARE(out[12], '\0');
    QCOMPARE(QString::fromLatin1(out), text);
}

void TestAddressText::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qulonglong>("value");

    QTest::newRow("capitals") << QByteArray("123456789ABC") << true << 0x123456789ABCull;
    QTest::newRow("leading zeros") << QByteArray("00AB0C00000D") << true << 0x00AB0C00000Dull;
    QTest::newRow("lower case") << QByteArray("00ab0c00000d") << true << 0x00AB0C00000Dull;
    QTest::newRow("all ones") << QByteArray("FFFFFFFFFFFF") << true << 0xFFFFFFFFFFFFull;
    QTest::newRow("empty") << QByteArray("") << false << 0ull;
    QTest::newRow("five digits") << QByteArray("12345") << false << 0ull;
    QTest::newRow("eleven digits") << QByteArray("123456789AB") << false << 0ull;
    QTest::newRow("thirteen digits") << QByteArray("123456789ABCD") << false << 0ull;
    QTest::newRow("trailing space") << QByteArray("123456789ABC ") << false << 0ull;
    QTest::newRow("leading space") << QByteArray(" 23456789ABC") << false << 0ull;
    QTest::newRow("sign") << QByteArray("-23456789ABC") << false << 0ull;
    QTest::newRow("0x prefix") << QByteArray("0x3456789ABC") << false << 0ull;
    QTest::newRow("separators") << QByteArray("12:34:56:78:9A:BC") << false << 0ull;
    QTest::newRow("non-hex letter") << QByteArray("123456789ABG") << false << 0ull;
    QTest::newRow("high byte") << QByteArray("123456789AB\xC1") << false << 0ull;
}

void TestAddressText::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    QFETCH(qulonglong, value);

    // An exact-size copy, so a read past the NUL would leave the allocation.
    std::unique_ptr<char[]> exact(new char[size_t(text.size()) + 1]);
    std::memcpy(exact.get(), text.constData(), size_t(text.size()) + 1);

    BleAddress address = makeBleAddress(0x0102030405ull);
    address.kind = 7;
    QCOMPARE(parseAddressText(exact.get(), &address), accepted);
    if (accepted) {
        QCOMPARE(qulonglong(bleAddressValue(address)), value);
        QCOMPARE(address.kind, uint16_t(0));
        char back[13];
        formatAddressText(address, back);
        QCOMPARE(QByteArray(back), text.toUpper());
    } else {
        QCOMPARE(qulonglong(bleAddressValue(address)), 0x0102030405ull);
        QCOMPARE(address.kind, uint16_t(7));
    }
}

QTEST_GUILESS_MAIN(TestAddressText)
#include "tst_addresstext.moc"
