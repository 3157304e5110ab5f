// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Where the computer's Bluetooth adapter stands: present, switched on, its stack running.
// Lives on the layer's thread and learns what changes from the stack's own signals, so
// losing the adapter (removed, switched off, bluetoothd stopped) is heard even when no call
// is under way. With BlueZ it talks to bluetoothd over D-Bus, and only asynchronously: a
// bluetoothd that stops answering never holds the layer's thread here.
#pragma once

#include <QBluetoothAddress>
#include <QObject>
#include <QString>

class AdapterWatch : public QObject
{
    Q_OBJECT

public:
    // What a probe found.
    enum class Stack { Ready, NoAdapter, PoweredOff, NoAnswer };

    explicit AdapterWatch(QObject *parent = nullptr);

    // Asks the stack where the adapter stands; refreshed() follows, also when it does not
    // answer in time.
    void refresh();
    bool usable() const { return present && powered; }
    QBluetoothAddress address() const { return adapterAddress; }
    // The adapter's object path under BlueZ, or empty.
    QString path() const { return adapterPath; }

    // Any thread: asks the stack itself whether it answers and has adapter `path` switched on,
    // waiting at most `timeoutMs`. Where there is no BlueZ, always Ready.
    static Stack probe(const QString &path, int timeoutMs);

signals:
    // A refresh began (asked for, or bluetoothd appeared); refreshed() follows.
    void refreshing();
    void refreshed();
    // The adapter went: removed, switched off, or its stack stopped.
    void lost();

private:
    friend class BluezSignals;
    void onOwnerChanged(bool running);
    void onAdapterAdded(const QString &path, const QVariantMap &properties);
    void onAdapterRemoved(const QString &path);
    void onPoweredChanged(bool on);
    void adopt(const QString &path, const QVariantMap &properties);
    void forget();

    QObject *bluez = nullptr;   // the receiver of BlueZ's D-Bus signals, once there is a bus
    bool present = false;
    bool powered = false;
    QBluetoothAddress adapterAddress;
    QString adapterPath;
    unsigned refreshes = 0;
};
