#include "devicelist.h"
#include "addresstext.h"
#include "hostevents.h"

#include <QtTest>

namespace {

// "ADDRESS|name" is a sighting with a name, "ADDRESS" one without.
const DeviceEntry *sight(DeviceList &list, const QString &sighting)
{
    const QStringList parts = sighting.split('|');
    BleAddress address{};
    const QByteArray text = parts.at(0).toLatin1();
    if (!parseAddressText(text.constData(), &address))
        qFatal("bad address %s", text.constData());
    const QByteArray name = parts.value(1).toUtf8();
    return list.update(address, parts.size() > 1 ? name.constData() : nullptr);
}

} // namespace

class TestDeviceList : public QObject
{
    Q_OBJECT

private slots:
    void announcements_data();
    void announcements();
    void textsOutliveReplacementAndGrowth();
};

void TestDeviceList::announcements_data()
{
    QTest::addColumn<QStringList>("sightings");
    QTest::addColumn<QStringList>("announced");
    QTest::addColumn<QStringList>("stored");

    QTest::newRow("name then no name") << QStringList{"123456789ABC|Alpha", "123456789ABC"}
        << QStringList{"Alpha 123456789ABC", "Alpha 123456789ABC"} << QStringList{"123456789ABC Alpha"};
    QTest::newRow("no name then name: silent until the name is stored")
        << QStringList{"123456789ABC", "123456789ABC|Alpha", "123456789ABC|Alpha"}
        << QStringList{"Unknown Device 123456789ABC", "Alpha 123456789ABC"}
        << QStringList{"123456789ABC Alpha"};
    QTest::newRow("literal Unknown Device is nameless")
        << QStringList{"123456789ABC|Unknown Device", "123456789ABC|Beta"}
        << QStringList{"Unknown Device 123456789ABC"} << QStringList{"123456789ABC Beta"};
    QTest::newRow("two addresses in order of first sight")
        << QStringList{"00AB0C00000D|Beta", "00AB0C00000E", "00AB0C00000D|Beta"}
        << QStringList{"Beta 00AB0C00000D", "Unknown Device 00AB0C00000E", "Beta 00AB0C00000D"}
        << QStringList{"00AB0C00000D Beta", "00AB0C00000E Unknown Device"};
}

void TestDeviceList::announcements()
{
    QFETCH(QStringList, sightings);
    QFETCH(QStringList, announced);
    QFETCH(QStringList, stored);

    DeviceList list;
    QStringList got;
    for (const QString &sighting : sightings) {
        if (const DeviceEntry *entry = sight(list, sighting))
            got << QString::fromUtf8(entry->name) + ' ' + QString::fromLatin1(entry->addressText);
    }
    QCOMPARE(got, announced);
    QStringList entries;
    for (size_t i = 0; i < list.size(); ++i)
        entries << QString::fromLatin1(list.at(i).addressText) + ' ' + QString::fromUtf8(list.at(i).name);
    QCOMPARE(entries, stored);
}

void TestDeviceList::textsOutliveReplacementAndGrowth()
{
    // The window may still hold the pointers of an earlier announcement in a queued signal.
    DeviceList list;
    const DeviceEntry *first = sight(list, "000000000001|First");
    QVERIFY(first);
    const char *oldName = first->name;
    const char *text = first->addressText;
    sight(list, "000000000001|Second");
    for (uint64_t i = 2; i < 2000; ++i)
        list.update(makeBleAddress(i), "Flood");
    QCOMPARE(list.size(), size_t(1999));
    QCOMPARE(list.find("000000000001"), first);
    QCOMPARE(QByteArray(oldName), QByteArray("First"));
    QCOMPARE(QByteArray(text), QByteArray("000000000001"));
    QCOMPARE(QByteArray(list.at(0).name), QByteArray("Second"));
    QVERIFY(!list.find("00000000000"));
    QVERIFY(!list.find(nullptr));
}

QTEST_GUILESS_MAIN(TestDeviceList)
#include "tst_devicelist.moc"
