// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "devicekey.h"

#include <QBluetoothAddress>
#include <QBluetoothDeviceInfo>
#include <QBluetoothUuid>
#include <QCryptographicHash>
#include <QString>

uint64_t deviceKey(const QBluetoothDeviceInfo &info)
{
    const QBluetoothAddress address = info.address();
    if (!address.isNull())
        return address.toUInt64() & 0xFFFFFFFFFFFFull;
    return keyFromDeviceUuid(info.deviceUuid());
}

uint64_t keyFromDeviceUuid(const QBluetoothUuid &uuid)
{
    const quint128 bytes = uuid.toUInt128();
    const QByteArray digest = QCryptographicHash::hash(
            QByteArray(reinterpret_cast<const char *>(bytes.data), int(sizeof bytes.data)),
            QCryptographicHash::Sha1);
    uint64_t key = 0;
    for (int i = 0; i < 6; ++i)
        key = (key << 8) | uint8_t(digest[i]);
    return key | 0xC00000000000ull;
}

QByteArray announcedName(const QString &name, uint64_t key)
{
    if (name.isEmpty())
        return QByteArray();
    QString dashed;
    for (int shift = 40; shift >= 0; shift -= 8) {
        if (!dashed.isEmpty())
            dashed += QLatin1Char('-');
        dashed += QString::number((key >> shift) & 0xFF, 16).rightJustified(2, QLatin1Char('0'));
    }
    if (name.compare(dashed, Qt::CaseInsensitive) == 0)
        return QByteArray();
    return name.toUtf8();
}
