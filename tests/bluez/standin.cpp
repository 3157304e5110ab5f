#include "standin.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDebug>

BluezStandIn::~BluezStandIn()
{
    stop();
}

bool BluezStandIn::waitForLine(QProcess &process, QByteArray *line)
{
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000))
            return false;
    }
    *line = process.readLine().trimmed();
    return true;
}

bool BluezStandIn::start(QString *error)
{
    const QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (address.isEmpty()) {
        *error = QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS is not set");
        return false;
    }
    bus.setProcessChannelMode(QProcess::SeparateChannels);
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--nofork"), QStringLiteral("--config-file=" STANDIN_BUS_CONFIG),
               QStringLiteral("--print-address"), QStringLiteral("--address=") + address});
    QByteArray printed;
    if (!bus.waitForStarted() || !waitForLine(bus, &printed)) {
        *error = QStringLiteral("dbus-daemon did not start: ") + bus.readAllStandardError();
        return false;
    }

    // Debian's interpreter: it is the one with the D-Bus and GLib bindings.
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Its standard input stays open while this process lives; should the test die, the
    // stand-in sees it close and ends the bus daemon too.
    service.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral(STANDIN_SCRIPT), QStringLiteral(STANDIN_HELPER),
                   QString::number(bus.processId())});
    QByteArray ready;
    if (!service.waitForStarted() || !waitForLine(service, &ready) || ready != "ready") {
        *error = QStringLiteral("the stand-in did not come up");
        return false;
    }
    return true;
}

void BluezStandIn::stop()
{
    for (QProcess *process : {&service, &bus}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
    }
}

bool BluezStandIn::call(const QString &method, const QVariantList &args, QVariant *result)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.bluez"), QStringLiteral("/org/imucal/standin"),
            QStringLiteral("org.imucal.StandIn"), method);
    message.setArguments(args);
    const QDBusMessage reply = QDBusConnection::systemBus().call(message, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning() << "stand-in" << method << reply.errorName() << reply.errorMessage();
        return false;
    }
    if (result)
        *result = reply.arguments().value(0);
    return true;
}

bool BluezStandIn::reset() { return call(QStringLiteral("Reset")); }
bool BluezStandIn::setAdapterPresent(bool present)
{
    return call(QStringLiteral("SetAdapterPresent"), {present});
}
bool BluezStandIn::setPowered(bool powered) { return call(QStringLiteral("SetPowered"), {powered}); }
bool BluezStandIn::setConnectMode(const QString &mode)
{
    return call(QStringLiteral("SetConnectMode"), {mode});
}
bool BluezStandIn::setWriteFails(bool fails)
{
    return call(QStringLiteral("SetWriteFails"), {fails});
}
bool BluezStandIn::setRate(int perSecond) { return call(QStringLiteral("SetRate"), {perSecond}); }
bool BluezStandIn::dropLink() { return call(QStringLiteral("DropLink")); }

QStringList BluezStandIn::log()
{
    QVariant result;
    call(QStringLiteral("Log"), {}, &result);
    return result.toStringList();
}

namespace {
QByteArrayList byteArrays(const QVariant &value)
{
    QByteArrayList list;
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> list;
    return list;
}
} // namespace

QByteArrayList BluezStandIn::writes()
{
    QVariant result;
    call(QStringLiteral("Writes"), {}, &result);
    return byteArrays(result);
}

QByteArrayList BluezStandIn::sent()
{
    QVariant result;
    call(QStringLiteral("Sent"), {}, &result);
    return byteArrays(result);
}

bool BluezStandIn::connected()
{
    QVariant result;
    call(QStringLiteral("Connected"), {}, &result);
    return result.toBool();
}
