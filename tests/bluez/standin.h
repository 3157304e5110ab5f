// The stand-in BlueZ: a private dbus-daemon (at the test's DBUS_SYSTEM_BUS_ADDRESS) with the
// stand-in service on it, and calls into the stand-in's test interface.
#pragma once

#include <QByteArrayList>
#include <QProcess>
#include <QStringList>
#include <QVariantList>

class BluezStandIn
{
public:
    ~BluezStandIn() { stop(); }
    // False, with the reason in `error`, when the bus or the stand-in does not come up.
    bool start(QString *error);
    void stop();

    // Adapter present and powered, no device known, no fault armed.
    bool reset() { return call(QStringLiteral("Reset")); }
    bool setAdapterPresent(bool on) { return call(QStringLiteral("SetAdapterPresent"), {on}); }
    bool setPowered(bool on) { return call(QStringLiteral("SetPowered"), {on}); }
    bool setConnectMode(const QString &mode) { return call(QStringLiteral("SetConnectMode"), {mode}); }   // ok, fail, hang
    // ok, Failed, NotPermitted, InProgress (refused with that error), hang, drop (the link goes)
    bool setWriteMode(const QString &mode) { return call(QStringLiteral("SetWriteMode"), {mode}); }
    bool dropLink() { return call(QStringLiteral("DropLink")); }
    bool freeze(uint ms) { return call(QStringLiteral("Freeze"), {ms}); }   // stops answering
    bool removeService() { return call(QStringLiteral("RemoveService")); }   // Service Changed
    bool flood(uint perSecond, uint ms) { return call(QStringLiteral("Flood"), {perSecond, ms}); }
    // Reports sent by the last flood, and the monotonic seconds of its first and last.
    QVariantList floodStats() { QVariantList out; call(QStringLiteral("FloodStats"), {}, nullptr, &out); return out; }
    bool setCrowd(uint count, uint nameLength) { return call(QStringLiteral("SetCrowd"), {count, nameLength}); }
    // bluetoothd killed and started again: everything it knew is gone.
    bool restart(QString *error) { stopService(); return startService(error); }

    QStringList log() { return result(QStringLiteral("Log")).toStringList(); }   // BlueZ calls received
    QByteArrayList writes() { return byteArrays(QStringLiteral("Writes")); }   // to the parameter characteristic
    QByteArrayList sent() { return byteArrays(QStringLiteral("Sent")); }   // notifications, in order

private:
    bool startService(QString *error);
    void stopService();
    bool call(const QString &method, const QVariantList &args = {}, QVariant *out = nullptr,
              QVariantList *all = nullptr);
    QVariant result(const QString &method);
    QByteArrayList byteArrays(const QString &method);

    QProcess bus;
    QProcess service;
};
