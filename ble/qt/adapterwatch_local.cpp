// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "adapterwatch.h"

#include <QBluetoothLocalDevice>

// Without BlueZ the platform's own adapter API answers at once: the first adapter, if it is
// switched on. Its loss is seen through the links themselves.
AdapterWatch::AdapterWatch(QObject *parent)
    : QObject(parent)
{
}

void AdapterWatch::refresh()
{
    emit refreshing();
    const QList<QBluetoothHostInfo> adapters = QBluetoothLocalDevice::allDevices();
    present = !adapters.isEmpty();
    adapterAddress = present ? adapters.first().address() : QBluetoothAddress();
    QBluetoothLocalDevice local(adapterAddress);
    powered = present && local.isValid() && local.hostMode() != QBluetoothLocalDevice::HostPoweredOff;
    emit refreshed();
}

void AdapterWatch::onOwnerChanged(bool) {}
void AdapterWatch::onAdapterAdded(const QString &, const QVariantMap &) {}
void AdapterWatch::onAdapterRemoved(const QString &) {}
void AdapterWatch::onPoweredChanged(bool) {}
void AdapterWatch::adopt(const QString &, const QVariantMap &) {}
void AdapterWatch::forget() {}

AdapterWatch::Stack AdapterWatch::probe(const QString &, int)
{
    return Stack::Ready;
}
