// The stand-in BlueZ for the Bluetooth tests: a private D-Bus bus (dbus-daemon as a child,
// at the address the test's environment gives as DBUS_SYSTEM_BUS_ADDRESS) with the stand-in
// service on it, and calls into the stand-in's test interface.
#pragma once

#include <QByteArrayList>
#include <QProcess>
#include <QStringList>
#include <QVariantList>

class BluezStandIn
{
public:
    ~BluezStandIn();

    // Starts the bus, then the stand-in, and waits until it owns its name. False, with the
    // reason in `error`, when either does not come up.
    bool start(QString *error);
    void stop();

    // Every test starts from an adapter that is there and powered, no device known yet, and
    // no fault armed.
    bool reset();
    bool setAdapterPresent(bool present);
    bool setPowered(bool powered);
    bool setConnectMode(const QString &mode);   // "ok", "fail" or "hang"
    bool setWriteFails(bool fails);
    bool setRate(int perSecond);
    bool dropLink();

    QStringList log();              // the BlueZ calls received, in order
    QByteArrayList writes();        // values written to the parameter characteristic
    QByteArrayList sent();          // notifications sent, in order
    bool connected();

private:
    bool call(const QString &method, const QVariantList &args = {}, QVariant *result = nullptr);
    static bool waitForLine(QProcess &process, QByteArray *line);

    QProcess bus;
    QProcess service;
};
