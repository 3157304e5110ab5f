// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// How a device seen through Qt Bluetooth is named towards the worker: a 48-bit key in place
// of its address, and its advertised name or none.
#pragma once

#include <QByteArray>

#include <cstdint>

class QBluetoothDeviceInfo;
class QBluetoothUuid;
class QString;

// The device's 48-bit address where the platform shows it (Linux, Windows, Android).
// CoreBluetooth (macOS, iOS) hides addresses and gives each peripheral a UUID instead, which
// stays the same on one host; the key is then taken from that UUID (see keyFromDeviceUuid).
uint64_t deviceKey(const QBluetoothDeviceInfo &info);

// The first six bytes of the SHA-1 of the UUID's 16 bytes, most significant first, with the
// two top bits set as in a random static address. Stable across runs and never zero, so the
// address text that keys the window's list stays the same for one peripheral.
uint64_t keyFromDeviceUuid(const QBluetoothUuid &uuid);

// The name to announce, as UTF-8, or a null QByteArray when the device has none. BlueZ fills
// a nameless device's Alias with its address ("00-02-5B-0A-1C-03"), which Qt then reports as
// the name; that is no name.
QByteArray announcedName(const QString &name, uint64_t key);
