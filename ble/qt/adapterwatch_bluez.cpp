// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "adapterwatch.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMap>

#include <atomic>

namespace {

const QString Bluez = QStringLiteral("org.bluez");
const QString AdapterInterface = QStringLiteral("org.bluez.Adapter1");
const QString Properties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString ObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
// bluetoothd lists its objects at once; one that has not by then is taken as not there.
constexpr int RefreshTimeoutMs = 2000;

// Whether the system bus can be reached. Qt keeps the process's system bus connection from
// its first use on, so one first asked for while there is no bus stays unconnected for good,
// and Qt Bluetooth, which uses the same one, would never reach bluetoothd either. Until the
// bus has been reached once it is therefore tried with a connection of our own, and Qt's is
// used only from then on. A bus that goes away later takes Qt's connection with it for good.
bool systemBusReachable()
{
    static std::atomic<bool> reached{false};
    if (!reached.load()) {
        const QString name = QStringLiteral("imucal-bus-probe");
        const bool up = QDBusConnection::connectToBus(QDBusConnection::SystemBus, name).isConnected();
        QDBusConnection::disconnectFromBus(name);
        if (!up)
            return false;
        reached = true;
    }
    return QDBusConnection::systemBus().isConnected();
}

// The interfaces of one object with their properties: D-Bus type a{sa{sv}}.
QMap<QString, QVariantMap> readInterfaces(const QDBusArgument &argument)
{
    QMap<QString, QVariantMap> interfaces;
    argument.beginMap();
    while (!argument.atEnd()) {
        QString name;
        QVariantMap properties;
        argument.beginMapEntry();
        argument >> name >> properties;
        argument.endMapEntry();
        interfaces.insert(name, properties);
    }
    argument.endMap();
    return interfaces;
}

} // namespace

// Receives BlueZ's D-Bus signals (QtDBus delivers them to slots named by signature) and
// hands them to the watch.
class BluezSignals : public QObject
{
    Q_OBJECT

public:
    explicit BluezSignals(AdapterWatch *owner)
        : QObject(owner),
          watch(owner)
    {
        QDBusConnection bus = QDBusConnection::systemBus();
        auto *owners = new QDBusServiceWatcher(Bluez, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(owners, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString &, const QString &, const QString &newOwner) {
                    watch->onOwnerChanged(!newOwner.isEmpty());
                });
        bus.connect(Bluez, QStringLiteral("/"), ObjectManager, QStringLiteral("InterfacesAdded"),
                    this, SLOT(interfacesAdded(QDBusMessage)));
        bus.connect(Bluez, QStringLiteral("/"), ObjectManager, QStringLiteral("InterfacesRemoved"),
                    this, SLOT(interfacesRemoved(QDBusObjectPath,QStringList)));
    }

    // Listens to the properties of the adapter at `path` only (or of none): the other
    // objects' changes, notifications among them, are none of the watch's business.
    void follow(const QString &path)
    {
        if (path == followed)
            return;
        QDBusConnection bus = QDBusConnection::systemBus();
        const char *slot = SLOT(propertiesChanged(QString,QVariantMap,QStringList));
        if (!followed.isEmpty())
            bus.disconnect(Bluez, followed, Properties, QStringLiteral("PropertiesChanged"), this, slot);
        followed = path;
        if (!followed.isEmpty())
            bus.connect(Bluez, followed, Properties, QStringLiteral("PropertiesChanged"), this, slot);
    }

private slots:
    void interfacesAdded(const QDBusMessage &message)
    {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() < 2)
            return;
        const auto interfaces = readInterfaces(arguments[1].value<QDBusArgument>());
        const auto adapter = interfaces.find(AdapterInterface);
        if (adapter != interfaces.end())
            watch->onAdapterAdded(arguments[0].value<QDBusObjectPath>().path(), *adapter);
    }

    void interfacesRemoved(const QDBusObjectPath &path, const QStringList &interfaces)
    {
        if (interfaces.contains(AdapterInterface))
            watch->onAdapterRemoved(path.path());
    }

    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
    {
        const auto powered = changed.find(QStringLiteral("Powered"));
        if (interface == AdapterInterface && powered != changed.end())
            watch->onPoweredChanged(powered->toBool());
    }

private:
    AdapterWatch *const watch;
    QString followed;
};

AdapterWatch::AdapterWatch(QObject *parent)
    : QObject(parent)
{
}

void AdapterWatch::refresh()
{
    emit refreshing();
    const unsigned serial = ++refreshes;
    if (!systemBusReachable()) {
        // No bus, so no bluetoothd and no adapter: said at once, after this call as an answer
        // would be. BlueZ's signals are listened to once there is a bus to hear them on.
        forget();
        QMetaObject::invokeMethod(this, [this, serial] {
            if (serial == refreshes)
                emit refreshed();
        }, Qt::QueuedConnection);
        return;
    }
    if (!bluez)
        bluez = new BluezSignals(this);
    const QDBusMessage call = QDBusMessage::createMethodCall(Bluez, QStringLiteral("/"), ObjectManager,
                                                             QStringLiteral("GetManagedObjects"));
    auto *pending = new QDBusPendingCallWatcher(
            QDBusConnection::systemBus().asyncCall(call, RefreshTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, serial](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        if (serial != refreshes)
            return;   // a newer refresh is on its way
        QString path;
        QVariantMap properties;
        const QDBusMessage reply = done->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            // a{oa{sa{sv}}}: the adapter known so far if it is still there, else the first.
            const QDBusArgument objects = reply.arguments().constFirst().value<QDBusArgument>();
            objects.beginMap();
            while (!objects.atEnd()) {
                QDBusObjectPath object;
                objects.beginMapEntry();
                objects >> object;
                const auto interfaces = readInterfaces(objects);
                objects.endMapEntry();
                const auto adapter = interfaces.find(AdapterInterface);
                if (adapter != interfaces.end() && (path.isEmpty() || object.path() == adapterPath)) {
                    path = object.path();
                    properties = *adapter;
                }
            }
            objects.endMap();
        }
        if (path.isEmpty())
            forget();
        else
            adopt(path, properties);
        emit refreshed();
    });
}

void AdapterWatch::onOwnerChanged(bool running)
{
    if (running) {
        refresh();
        return;
    }
    // bluetoothd stopped: its adapter and everything it held went with it.
    forget();
    emit lost();
}

void AdapterWatch::onAdapterAdded(const QString &path, const QVariantMap &properties)
{
    if (present && path != adapterPath)
        return;
    adopt(path, properties);
    emit refreshed();
}

void AdapterWatch::onAdapterRemoved(const QString &path)
{
    if (!present || path != adapterPath)
        return;
    forget();
    emit lost();
}

void AdapterWatch::onPoweredChanged(bool on)
{
    if (!present || on == powered)
        return;
    powered = on;
    if (on)
        emit refreshed();
    else
        emit lost();
}

void AdapterWatch::adopt(const QString &path, const QVariantMap &properties)
{
    present = true;
    adapterPath = path;
    adapterAddress = QBluetoothAddress(properties.value(QStringLiteral("Address")).toString());
    powered = properties.value(QStringLiteral("Powered")).toBool();
    if (bluez)
        static_cast<BluezSignals *>(bluez)->follow(path);
}

void AdapterWatch::forget()
{
    present = false;
    powered = false;
    adapterPath.clear();
    adapterAddress.clear();
    if (bluez)
        static_cast<BluezSignals *>(bluez)->follow(QString());
}

AdapterWatch::Stack AdapterWatch::probe(const QString &path, int timeoutMs)
{
    if (path.isEmpty())
        return Stack::NoAdapter;
    QDBusMessage get = QDBusMessage::createMethodCall(Bluez, path, Properties, QStringLiteral("Get"));
    get << AdapterInterface << QStringLiteral("Powered");
    const QDBusMessage reply = QDBusConnection::systemBus().call(get, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply.arguments().value(0).value<QDBusVariant>().variant().toBool()
                ? Stack::Ready : Stack::PoweredOff;
    switch (QDBusError(reply).type()) {
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return Stack::NoAnswer;
    default:
        return Stack::NoAdapter;   // no such object, or nobody owns org.bluez
    }
}

#include "adapterwatch_bluez.moc"
