// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The stand-in BlueZ: a private dbus-daemon (at the test's DBUS_SYSTEM_BUS_ADDRESS, or at an
// address of its own) with the stand-in service on it, and calls into the stand-in's test
// interface over a connection of its own.
#pragma once

#include <QByteArrayList>
#include <QProcess>
#include <QStringList>
#include <QVariantList>

class BluezStandIn
{
public:
    explicit BluezStandIn(const QByteArray &busAddress = qgetenv("DBUS_SYSTEM_BUS_ADDRESS"));
    ~BluezStandIn() { stop(); }
    // False, with the reason in `error`, when the bus or the stand-in does not come up.
    // `controllers`: how many there are after each reset.
    bool start(QString *error, int controllers = 1);
    void stop();
    const QByteArray &busAddress() const { return address; }
    // bluetoothd stopped, or started again with nothing known; the bus stays.
    void stopService();
    bool startService(QString *error);

    // Adapter present and powered, no device known, no fault armed.
    bool reset() { return call(QStringLiteral("Reset")); }
    // Controller n (from 1) is 00:02:5B:0A:1C:0n, "IMU Controller" and the n-th capital letter.
    bool setControllers(uint count) { return call(QStringLiteral("SetControllers"), {count}); }
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
    // To the first controller's parameter characteristic, or to that of the one at `address`
    // (as "00:02:5B:0A:1C:01").
    QByteArrayList writes() { return byteArrays(QStringLiteral("Writes")); }
    QByteArrayList writesTo(const QString &address) { return byteArrays(QStringLiteral("WritesTo"), {address}); }
    QByteArrayList sent() { return byteArrays(QStringLiteral("Sent")); }   // the first's notifications, in order

private:
    bool call(const QString &method, const QVariantList &args = {}, QVariant *out = nullptr,
              QVariantList *all = nullptr);
    QVariant result(const QString &method);
    QByteArrayList byteArrays(const QString &method, const QVariantList &args = {});

    const QByteArray address;
    const QString connectionName;
    int controllers = 1;
    QProcess bus;
    QProcess service;
};
