#include "addresstext.h"
#include "hostevents.h"

#include <QtTest>

#include <cstring>
#include <memory>

class TestAddressText : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestAddressText::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qulonglong>("value");      // 0: rejected

    QTest::newRow("capitals") << QByteArray("123456789ABC") << 0x123456789ABCull;
    QTest::newRow("lower case, leading zeros") << QByteArray("00ab0c00000d") << 0x00AB0C00000Dull;
    QTest::newRow("leading zeros come back") << QByteArray("00AB0C00000D") << 0x00AB0C00000Dull;
    QTest::newRow("empty") << QByteArray("") << 0ull;
    QTest::newRow("thirteen digits") << QByteArray("123456789ABCD") << 0ull;
    QTest::newRow("trailing space") << QByteArray("123456789ABC ") << 0ull;
    QTest::newRow("sign") << QByteArray("-23456789ABC") << 0ull;
    QTest::newRow("0x prefix") << QByteArray("0x3456789ABC") << 0ull;
    QTest::newRow("separators") << QByteArray("12:34:56:78:9A:BC") << 0ull;
    QTest::newRow("non-hex letter") << QByteArray("123456789ABG") << 0ull;
    QTest::newRow("high byte") << QByteArray("123456789AB\xC1") << 0ull;
}

void TestAddressText::parse()
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

QTEST_GUILESS_MAIN(TestAddressText)
#include "tst_addresstext.moc"
