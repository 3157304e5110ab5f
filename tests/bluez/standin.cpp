// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "standin.h"
#include "waits.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcessEnvironment>
#include <QDebug>

namespace {
bool readLine(QProcess &process, QByteArray *line)
{
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(WaitDeadline))
            return false;
    }
    *line = process.readLine().trimmed();
    return true;
}
} // namespace

BluezStandIn::BluezStandIn(const QByteArray &busAddress)
    : address(busAddress),
      connectionName(QStringLiteral("standin ") + QString::fromUtf8(busAddress))
{
}

bool BluezStandIn::start(QString *error, int count)
{
    if (address.isEmpty()) {
        *error = QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS is not set");
        return false;
    }
    controllers = count;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--nofork"), QStringLiteral("--config-file=" STANDIN_BUS_CONFIG),
               QStringLiteral("--print-address"), QStringLiteral("--address=") + address});
    QByteArray line;
    if (!bus.waitForStarted() || !readLine(bus, &line)) {
        *error = QStringLiteral("dbus-daemon did not start: ") + bus.readAllStandardError();
        return false;
    }
    return startService(error);
}

bool BluezStandIn::startService(QString *error)
{
    // Debian's interpreter has the D-Bus and GLib bindings. Its standard input stays open
    // while this process lives; should the test die, the stand-in ends the bus too.
    QByteArray line;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QString::fromUtf8(address));
    service.setProcessEnvironment(environment);
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral(STANDIN_SCRIPT), QStringLiteral(STANDIN_HELPER),
                   QString::number(bus.processId()), QStringLiteral("--controllers"),
                   QString::number(controllers)});
    if (!service.waitForStarted() || !readLine(service, &line) || line != "ready") {
        *error = QStringLiteral("the stand-in did not come up");
        return false;
    }
    return true;
}

void BluezStandIn::stopService()
{
    if (service.state() != QProcess::NotRunning) {
        service.kill();
        service.waitForFinished();
    }
}

void BluezStandIn::stop()
{
    stopService();
    if (bus.state() != QProcess::NotRunning) {
        bus.kill();
        bus.waitForFinished();
    }
    QDBusConnection::disconnectFromBus(connectionName);
}

bool BluezStandIn::call(const QString &method, const QVariantList &args, QVariant *out,
                        QVariantList *all)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.bluez"), QStringLiteral("/org/imucal/standin"),
            QStringLiteral("org.imucal.StandIn"), method);
    message.setArguments(args);
    // A connection to a bus that has gone stays unconnected: the next one is made anew.
    QDBusConnection connection(connectionName);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(connectionName);
        connection = QDBusConnection::connectToBus(QString::fromUtf8(address), connectionName);
    }
    const QDBusMessage reply = connection.call(message, QDBus::Block, WaitDeadline);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning() << "stand-in" << method << reply.errorName() << reply.errorMessage();
        return false;
    }
    if (out)
        *out = reply.arguments().value(0);
    if (all)
        *all = reply.arguments();
    return true;
}

QVariant BluezStandIn::result(const QString &method)
{
    QVariant out;
    call(method, {}, &out);
    return out;
}

QByteArrayList BluezStandIn::byteArrays(const QString &method, const QVariantList &args)
{
    QVariant value;
    call(method, args, &value);
    QByteArrayList list;
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> list;
    return list;
}
