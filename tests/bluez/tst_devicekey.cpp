// How devices seen through Qt Bluetooth are keyed and named towards the worker.
#include "devicekey.h"

#include <QBluetoothAddress>
#include <QBluetoothDeviceInfo>
#include <QBluetoothUuid>
#include <QtTest>

class TestDeviceKey : public QObject
{
    Q_OBJECT

private slots:
    void key_data();
    void key();
    void name_data();
    void name();
};

// Where the platform shows the address it is the key; where it hides it (CoreBluetooth) the
// key comes from the peripheral's UUID, the same on every run (golden values computed
// independently: SHA-1 of the UUID's 16 bytes, first six bytes, two top bits set).
void TestDeviceKey::key_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<quint64>("key");

    QTest::newRow("address shown") << "00:02:5B:0A:1C:01" << "" << quint64(0x00025B0A1C01ull);
    QTest::newRow("address hidden") << "" << "{3f2504e0-4f89-11d3-9a0c-0305e82c3301}"
                                    << quint64(0xCCBD5DDC15C6ull);
    QTest::newRow("address hidden, null uuid") << "" << "{00000000-0000-0000-0000-000000000000}"
                                               << quint64(0xE129F27C5103ull);
}

void TestDeviceKey::key()
{
    QFETCH(QString, address);
    QFETCH(QString, uuid);
    QFETCH(quint64, key);

    QBluetoothDeviceInfo info;
    if (!address.isEmpty())
        info = QBluetoothDeviceInfo(QBluetoothAddress(address), QStringLiteral("x"), 0);
    else
        info = QBluetoothDeviceInfo(QBluetoothUuid(uuid), QStringLiteral("x"), 0);
    QCOMPARE(quint64(deviceKey(info)), key);
}

// A name is announced as it is, except none, and BlueZ's stand-in for none: the device's
// own address with dashes.
void TestDeviceKey::name_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint64>("key");
    QTest::addColumn<QByteArray>("announced");     // null: none

    QTest::newRow("named") << "IMU Controller A" << quint64(0x00025B0A1C01ull)
                           << QByteArray("IMU Controller A");
    QTest::newRow("no name") << "" << quint64(0x00025B0A1C01ull) << QByteArray();
    QTest::newRow("own address as alias") << "00-02-5B-F0-00-01" << quint64(0x00025BF00001ull)
                                          << QByteArray();
    QTest::newRow("another device's address") << "00-02-5B-F0-00-02"
                                              << quint64(0x00025BF00001ull)
                                              << QByteArray("00-02-5B-F0-00-02");
    QTest::newRow("own address with colons") << "00:02:5B:F0:00:01" << quint64(0x00025BF00001ull)
                                             << QByteArray("00:02:5B:F0:00:01");
}

void TestDeviceKey::name()
{
    QFETCH(QString, name);
    QFETCH(quint64, key);
    QFETCH(QByteArray, announced);

    const QByteArray result = announcedName(name, key);
    QCOMPARE(result.isNull(), announced.isNull());   // QCOMPARE takes null and empty alike
    QCOMPARE(result, announced);
}

QTEST_GUILESS_MAIN(TestDeviceKey)
#include "tst_devicekey.moc"
