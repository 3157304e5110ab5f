#!/usr/bin/python3
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

"""A stand-in for BlueZ on a private D-Bus bus: one adapter, motion controllers (one unless
told otherwise) and one nameless beacon, with the D-Bus objects and calls that Qt Bluetooth
uses. Each controller's reports come from a controller-stream helper of its own (the virtual
dongle's controller model, seeded with the controller's number), and its parameter
characteristic keeps the frames written to it.

    /usr/bin/python3 standin_bluez.py <controller-stream helper> [<bus daemon pid>]
                                      [--controllers N]

Runs on the bus named by DBUS_SYSTEM_BUS_ADDRESS, prints "ready" once it owns org.bluez, and
takes fault injection on org.imucal.StandIn at /org/imucal/standin. When its standard input
closes (the test that started it has gone, even by a crash) it ends, and takes the bus daemon
with it.

Controller n (from 1) has the address 00:02:5B:0A:1C:<n in hex> and the name "IMU Controller"
with the n-th capital letter. Discovery runs while any client has started it and not stopped
it, as BlueZ's does, so several tools on the one adapter each find their own controller.
"""
import argparse
import os
import signal
import subprocess
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BLUEZ = "org.bluez"
PROPS = "org.freedesktop.DBus.Properties"
OBJMGR = "org.freedesktop.DBus.ObjectManager"
ADAPTER = "org.bluez.Adapter1"
DEVICE = "org.bluez.Device1"
SERVICE = "org.bluez.GattService1"
CHAR = "org.bluez.GattCharacteristic1"
DESC = "org.bluez.GattDescriptor1"
CONTROL = "org.imucal.StandIn"

ADAPTER_PATH = "/org/bluez/hci0"
ADAPTER_ADDRESS = "00:1A:7D:DA:71:13"
CONTROLLER_PREFIX = "00:02:5B:0A:1C:"
MAX_CONTROLLERS = 26
BEACON_ADDRESS = "00:02:5B:F0:00:01"
ADVERTISING_MS = 300
CONNECT_DELAY_MS = 20
KEEP_SENT = 20000
CROWD_PREFIX = "00:02:5B:C0:00:"


def uuid16(value):
    return "0000%04x-0000-1000-8000-00805f9b34fb" % value


def byte_array(data):
    return dbus.Array([dbus.Byte(b) for b in data], signature="y")


def string_array(items):
    return dbus.Array(items, signature="s")


class Failed(dbus.DBusException):
    _dbus_error_name = "org.bluez.Error.Failed"


class NotPermitted(dbus.DBusException):
    _dbus_error_name = "org.bluez.Error.NotPermitted"


class InProgress(dbus.DBusException):
    _dbus_error_name = "org.bluez.Error.InProgress"


class InvalidArgs(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.DBus.Error.InvalidArgs"


# How SetWriteMode makes a write to the parameter characteristic end.
WRITE_ERRORS = {"Failed": Failed, "NotPermitted": NotPermitted, "InProgress": InProgress}


class BusObject(dbus.service.Object):
    """An exported object with its interfaces' properties."""

    def __init__(self, standin, path, interfaces):
        self.standin = standin
        self.path = path
        self.interfaces = interfaces    # {interface: {name: typed value}}
        dbus.service.Object.__init__(self, standin.bus, path)

    def set_props(self, interface, changes):
        self.interfaces[interface].update(changes)
        self.PropertiesChanged(interface, dbus.Dictionary(changes, signature="sv"),
                               dbus.Array([], signature="s"))

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        try:
            return self.interfaces[interface][name]
        except KeyError:
            raise InvalidArgs("no property %s.%s" % (interface, name))

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return dbus.Dictionary(self.interfaces.get(interface, {}), signature="sv")

    @dbus.service.method(PROPS, in_signature="ssv")
    def Set(self, interface, name, value):
        if name not in self.interfaces.get(interface, {}):
            raise InvalidArgs("no property %s.%s" % (interface, name))
        old = self.interfaces[interface][name]
        self.set_props(interface, {name: type(old)(value)})
        if interface == ADAPTER and name == "Powered":
            self.standin.powered_changed(bool(value))

    @dbus.service.signal(PROPS, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


class Root(dbus.service.Object):
    def __init__(self, standin):
        self.standin = standin
        dbus.service.Object.__init__(self, standin.bus, "/")

    @dbus.service.method(OBJMGR, out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return dbus.Dictionary({dbus.ObjectPath(o.path): self.standin.describe(o)
                                for o in self.standin.objects.values()},
                               signature="oa{sa{sv}}")

    @dbus.service.signal(OBJMGR, signature="oa{sa{sv}}")
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.signal(OBJMGR, signature="oas")
    def InterfacesRemoved(self, path, interfaces):
        pass


class Adapter(BusObject):
    def __init__(self, standin):
        BusObject.__init__(self, standin, ADAPTER_PATH, {ADAPTER: {
            "Address": dbus.String(ADAPTER_ADDRESS),
            "AddressType": dbus.String("public"),
            "Name": dbus.String("standin"),
            "Alias": dbus.String("standin"),
            "Class": dbus.UInt32(0),
            "Powered": dbus.Boolean(standin.powered),
            "Discoverable": dbus.Boolean(False),
            "DiscoverableTimeout": dbus.UInt32(180),
            "Pairable": dbus.Boolean(True),
            "PairableTimeout": dbus.UInt32(0),
            "Discovering": dbus.Boolean(False),
            "UUIDs": string_array([]),
        }})

    @dbus.service.method(ADAPTER, in_signature="a{sv}")
    def SetDiscoveryFilter(self, filter):
        self.standin.log("SetDiscoveryFilter")

    @dbus.service.method(ADAPTER, sender_keyword="sender")
    def StartDiscovery(self, sender=None):
        self.standin.log("StartDiscovery")
        if not self.interfaces[ADAPTER]["Powered"]:
            raise NotPermitted("Not Powered")
        self.standin.start_discovery(sender)

    @dbus.service.method(ADAPTER, sender_keyword="sender")
    def StopDiscovery(self, sender=None):
        self.standin.log("StopDiscovery")
        self.standin.stop_discovery(sender)

    @dbus.service.method(ADAPTER, in_signature="o")
    def RemoveDevice(self, path):
        self.standin.log("RemoveDevice")
        self.standin.remove_device(str(path))


class Device(BusObject):
    def __init__(self, standin, address, name, unit=None):
        props = {
            "Address": dbus.String(address),
            "AddressType": dbus.String("public"),
            # BlueZ gives a nameless device its address as alias.
            "Alias": dbus.String(name if name else address.replace(":", "-")),
            "Adapter": dbus.ObjectPath(ADAPTER_PATH),
            "Paired": dbus.Boolean(False),
            "Trusted": dbus.Boolean(False),
            "Blocked": dbus.Boolean(False),
            "LegacyPairing": dbus.Boolean(False),
            "RSSI": dbus.Int16(-50),
            "Connected": dbus.Boolean(False),
            "UUIDs": string_array([uuid16(0xFAEA)] if unit else []),
            "ServicesResolved": dbus.Boolean(False),
        }
        if name:
            props["Name"] = dbus.String(name)
        BusObject.__init__(self, standin, "%s/dev_%s" % (ADAPTER_PATH, address.replace(":", "_")),
                           {DEVICE: props})
        self.unit = unit    # the controller's Unit, or None for a device that is none

    @dbus.service.method(DEVICE, async_callbacks=("reply", "error"))
    def Connect(self, reply, error):
        self.standin.log("Connect")
        self.standin.connect(self, reply, error)

    @dbus.service.method(DEVICE)
    def Disconnect(self):
        self.standin.log("Disconnect")
        self.standin.disconnect(self)


class GattService(BusObject):
    def __init__(self, standin, device, handle, uuid):
        BusObject.__init__(self, standin, "%s/service%04x" % (device.path, handle), {SERVICE: {
            "UUID": dbus.String(uuid16(uuid)),
            "Device": dbus.ObjectPath(device.path),
            "Primary": dbus.Boolean(True),
            "Includes": dbus.Array([], signature="o"),
        }})


class GattCharacteristic(BusObject):
    def __init__(self, standin, service, handle, uuid, flags, value=b"", unit=None):
        BusObject.__init__(self, standin, "%s/char%04x" % (service.path, handle), {CHAR: {
            "UUID": dbus.String(uuid16(uuid)),
            "Service": dbus.ObjectPath(service.path),
            "Value": byte_array(value),
            "Notifying": dbus.Boolean(False),
            "Flags": string_array(flags),
        }})
        self.uuid = uuid
        self.unit = unit

    @dbus.service.method(CHAR, in_signature="a{sv}", out_signature="ay")
    def ReadValue(self, options):
        return self.interfaces[CHAR]["Value"]

    @dbus.service.method(CHAR, in_signature="aya{sv}", async_callbacks=("reply", "error"))
    def WriteValue(self, value, options, reply, error):
        self.standin.write(self, bytes(value), reply, error)

    @dbus.service.method(CHAR)
    def StartNotify(self):
        self.standin.log("StartNotify")
        self.standin.notify(self, True)

    @dbus.service.method(CHAR)
    def StopNotify(self):
        self.standin.log("StopNotify")
        self.standin.notify(self, False)


class GattDescriptor(BusObject):
    def __init__(self, standin, characteristic, handle, uuid):
        BusObject.__init__(self, standin, "%s/desc%04x" % (characteristic.path, handle), {DESC: {
            "UUID": dbus.String(uuid16(uuid)),
            "Characteristic": dbus.ObjectPath(characteristic.path),
            "Value": byte_array(b"\x00\x00"),
            "Flags": string_array(["read", "write"]),
        }})
        self.characteristic = characteristic

    @dbus.service.method(DESC, in_signature="a{sv}", out_signature="ay")
    def ReadValue(self, options):
        notifying = self.characteristic.interfaces[CHAR]["Notifying"]
        return byte_array(b"\x01\x00" if notifying else b"\x00\x00")

    @dbus.service.method(DESC, in_signature="aya{sv}")
    def WriteValue(self, value, options):
        # BlueZ refuses direct writes of the configuration descriptor: StartNotify does it.
        raise NotPermitted("Write not permitted")


class Control(dbus.service.Object):
    """Fault injection and inspection for the tests."""

    def __init__(self, standin):
        self.standin = standin
        dbus.service.Object.__init__(self, standin.bus, "/org/imucal/standin")

    @dbus.service.method(CONTROL)
    def Reset(self):
        self.standin.reset()

    @dbus.service.method(CONTROL, in_signature="u")
    def SetControllers(self, count):
        # How many controllers there are from now on (Reset brings back the start's number).
        self.standin.set_controllers(int(count))

    @dbus.service.method(CONTROL, in_signature="b")
    def SetAdapterPresent(self, present):
        self.standin.set_adapter_present(bool(present))

    @dbus.service.method(CONTROL, in_signature="b")
    def SetPowered(self, powered):
        self.standin.powered = bool(powered)
        if self.standin.adapter:
            self.standin.adapter.set_props(ADAPTER, {"Powered": dbus.Boolean(powered)})
            self.standin.powered_changed(bool(powered))

    @dbus.service.method(CONTROL, in_signature="s")
    def SetConnectMode(self, mode):
        # "ok", "fail" (an error reply) or "hang" (no reply at all)
        self.standin.connect_mode = str(mode)

    @dbus.service.method(CONTROL, in_signature="s")
    def SetWriteMode(self, mode):
        # "ok", an error of WRITE_ERRORS, "hang" (no reply at all) or "drop" (the link goes
        # during the write). Writes left hanging are answered by the new mode.
        self.standin.write_mode = str(mode)
        hung, self.standin.hung_writes = self.standin.hung_writes, []
        for write in hung:
            self.standin.write(*write)

    @dbus.service.method(CONTROL)
    def DropLink(self):
        self.standin.drop_links()

    @dbus.service.method(CONTROL, in_signature="u")
    def Freeze(self, ms):
        # bluetoothd stops answering: after this reply nothing is handled for `ms`.
        GLib.idle_add(lambda: time.sleep(ms / 1000.0))

    @dbus.service.method(CONTROL)
    def RemoveService(self):
        # A Service Changed that takes the controller's service away.
        self.standin.remove_service()

    @dbus.service.method(CONTROL, in_signature="uu")
    def Flood(self, rate, ms):
        self.standin.flood(rate, ms)

    @dbus.service.method(CONTROL, out_signature="udd")
    def FloodStats(self):
        # reports sent, and the monotonic seconds of the first and the last
        f = self.standin.flooded
        return dbus.UInt32(f["sent"]), dbus.Double(f["first"]), dbus.Double(f["last"])

    @dbus.service.method(CONTROL, in_signature="uu")
    def SetCrowd(self, count, name_length):
        # `count` more devices, each with a new name of `name_length` characters at every
        # advertisement.
        self.standin.crowd_size = int(count)
        self.standin.crowd_name_length = int(name_length)

    @dbus.service.method(CONTROL, out_signature="as")
    def Log(self):
        return string_array(self.standin.calls)

    @dbus.service.method(CONTROL, out_signature="aay")
    def Writes(self):
        # to the first controller's parameter characteristic
        return self.WritesTo(self.standin.units[0].address)

    @dbus.service.method(CONTROL, in_signature="s", out_signature="aay")
    def WritesTo(self, address):
        # to the parameter characteristic of the controller with this address
        unit = self.standin.unit(str(address))
        return dbus.Array([byte_array(w) for w in unit.writes] if unit else [], signature="ay")

    @dbus.service.method(CONTROL, out_signature="aay")
    def Sent(self):
        # the first controller's notifications
        return dbus.Array([byte_array(s) for s in self.standin.units[0].sent], signature="ay")


class Unit:
    """One motion controller: its device object once advertised, its attributes while
    connected, the helper that models it, and what it received and sent."""

    def __init__(self, standin, number, helper):
        self.standin = standin
        self.number = number
        self.address = CONTROLLER_PREFIX + "%02X" % number
        self.name = "IMU Controller " + chr(ord("A") + number - 1)
        self.helper = subprocess.Popen([helper, str(number)], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, bufsize=0)
        self.pending = b""
        self.watch = GLib.io_add_watch(self.helper.stdout.fileno(), GLib.IO_IN | GLib.IO_HUP,
                                       self.on_helper)
        self.device = None
        self.report = None
        self.param = None
        self.clear()

    def clear(self):
        self.writes = []    # frames its parameter characteristic took
        self.sent = []      # its notifications, in order (the first KEEP_SENT)
        self.command("off")
        self.command("rate 100")

    def connected(self):
        return bool(self.device and self.device.interfaces[DEVICE]["Connected"])

    def command(self, line):
        self.helper.stdin.write((line + "\n").encode())

    def close(self):
        GLib.source_remove(self.watch)
        self.helper.kill()
        self.helper.wait()

    def on_helper(self, fd, condition):
        data = os.read(fd, 65536)
        if not data:
            GLib.idle_add(lambda: sys.exit(1))
            return False
        self.pending += data
        *lines, self.pending = self.pending.split(b"\n")
        for line in lines:
            if not line.startswith(b"n "):
                continue
            value = bytes.fromhex(line[2:].decode())
            if self.standin.notify_value(value, self) and len(self.sent) < KEEP_SENT:
                self.sent.append(value)
        return True


class StandIn:
    def __init__(self, bus, helper, controllers=1):
        self.bus = bus
        self.helper_path = helper
        self.default_controllers = controllers
        self.units = []
        self.objects = {}
        self.root = Root(self)
        self.control = Control(self)
        self.adapter = None
        self.discovery_timer = None
        self.discovery_clients = {}   # bus name: the watch that ends its discovery with it
        self.flood_timer = None
        self.reset()

    @property
    def helper(self):
        # The first controller's model.
        return self.units[0].helper

    def unit(self, address):
        return next((u for u in self.units if u.address.upper() == address.upper()), None)

    def close(self):
        for unit in self.units:
            unit.close()

    # --- object bookkeeping --------------------------------------------------------------
    def describe(self, obj):
        return dbus.Dictionary({i: dbus.Dictionary(p, signature="sv")
                                for i, p in obj.interfaces.items()}, signature="sa{sv}")

    def add(self, obj):
        self.objects[obj.path] = obj
        self.root.InterfacesAdded(dbus.ObjectPath(obj.path), self.describe(obj))

    def remove(self, path):
        # Children first, as BlueZ takes a device's attributes away before the device.
        for child in sorted((p for p in self.objects if p.startswith(path + "/")), reverse=True):
            self.remove(child)
        obj = self.objects.pop(path, None)
        if obj is None:
            return
        obj.remove_from_connection()
        self.root.InterfacesRemoved(dbus.ObjectPath(path),
                                    string_array(list(obj.interfaces.keys())))

    def log(self, call):
        self.calls.append(call)

    # --- state ---------------------------------------------------------------------------
    def reset(self):
        self.stop_discovery()
        self.stop_flood()
        self.drop_links()
        for path in [p for p in self.objects if p.startswith(ADAPTER_PATH)]:
            self.remove(path)
        self.adapter = None
        self.beacon = None
        self.powered = True
        self.connect_mode = "ok"
        self.write_mode = "ok"
        self.crowd_size = 0
        self.crowd_name_length = 0
        self.crowd = []
        self.flooded = {"sent": 0, "first": 0.0, "last": 0.0}
        self.calls = []
        self.hung = []
        self.hung_writes = []
        self.set_controllers(self.default_controllers)
        for unit in self.units:
            unit.device = None
            unit.clear()
        self.set_adapter_present(True)

    def set_controllers(self, count):
        count = max(1, min(int(count), MAX_CONTROLLERS))
        while len(self.units) > count:
            unit = self.units.pop()
            self.drop_link(unit)
            if unit.device:
                self.remove(unit.device.path)
            unit.close()
        while len(self.units) < count:
            # The new ones appear at the next advertising period.
            self.units.append(Unit(self, len(self.units) + 1, self.helper_path))

    def set_adapter_present(self, present):
        if present and not self.adapter:
            self.adapter = Adapter(self)
            self.add(self.adapter)
        elif not present and self.adapter:
            self.stop_discovery()
            self.drop_links()
            self.remove(ADAPTER_PATH)
            self.adapter = None
            for unit in self.units:
                unit.device = None
            self.beacon = None
            self.crowd = []

    def powered_changed(self, powered):
        if not powered:
            self.stop_discovery()
            self.drop_links()

    # --- discovery -----------------------------------------------------------------------
    def start_discovery(self, client=None):
        if client and client not in self.discovery_clients:
            # A client that leaves the bus ends its discovery, as BlueZ sees to.
            self.discovery_clients[client] = self.bus.watch_name_owner(
                client, lambda owner, c=client: owner or self.stop_discovery(c))
        if self.discovery_timer is None:
            self.adapter.set_props(ADAPTER, {"Discovering": dbus.Boolean(True)})
            self.rssi_step = 0
            self.advertise()
            self.discovery_timer = GLib.timeout_add(ADVERTISING_MS, self.advertise)

    def stop_discovery(self, client=None):
        """Ends `client`'s discovery, and the adapter's once no client has one; without a
        client (the adapter going, a reset), everybody's."""
        if client is None:
            clients, self.discovery_clients = list(self.discovery_clients.values()), {}
        else:
            clients = [self.discovery_clients.pop(client)] if client in self.discovery_clients else []
        for watch in clients:
            watch.cancel()
        if self.discovery_clients or self.discovery_timer is None:
            return
        GLib.source_remove(self.discovery_timer)
        self.discovery_timer = None
        if self.adapter:
            self.adapter.set_props(ADAPTER, {"Discovering": dbus.Boolean(False)})

    def advertise(self):
        """One advertising period: unknown devices appear, known ones are seen again."""
        self.rssi_step += 1
        rssi = dbus.Int16(-50 - self.rssi_step % 2)
        for unit in self.units:
            if unit.device is None:
                unit.device = Device(self, unit.address, unit.name, unit)
                self.add(unit.device)
            elif not unit.connected():
                unit.device.set_props(DEVICE, {"RSSI": rssi})
        if self.beacon is None:
            self.beacon = Device(self, BEACON_ADDRESS, None)
            self.add(self.beacon)
        else:
            self.beacon.set_props(DEVICE, {"RSSI": rssi})
        for i in range(self.crowd_size):
            name = ("%d-%d " % (i, self.rssi_step) * self.crowd_name_length)[:self.crowd_name_length]
            if i < len(self.crowd):
                self.crowd[i].set_props(DEVICE, {"Name": dbus.String(name),
                                                 "Alias": dbus.String(name), "RSSI": rssi})
            else:
                self.crowd.append(Device(self, CROWD_PREFIX + "%02X" % i, name))
                self.add(self.crowd[-1])
        return True

    def remove_device(self, path):
        for unit in self.units:
            if unit.device and path == unit.device.path:
                self.drop_link(unit)
                unit.device = None
        if self.beacon and path == self.beacon.path:
            self.beacon = None
        self.remove(path)

    # --- connection ----------------------------------------------------------------------
    def connect(self, device, reply, error):
        unit = device.unit
        if self.connect_mode == "fail" or not unit or not self.powered:
            error(Failed("le-connection-abort-by-local"))
            return
        if self.connect_mode == "hang":
            self.hung.append((reply, error))
            return
        if device.interfaces[DEVICE]["Connected"]:
            reply()
            return

        def connected():
            if unit.device is not device or unit not in self.units:
                error(Failed("Device gone"))
                return False
            device.set_props(DEVICE, {"Connected": dbus.Boolean(True)})
            self.add_database(unit)
            reply()
            GLib.timeout_add(CONNECT_DELAY_MS, resolved)
            return False

        def resolved():
            if device.interfaces[DEVICE]["Connected"]:
                device.set_props(DEVICE, {"ServicesResolved": dbus.Boolean(True)})
            return False

        GLib.timeout_add(CONNECT_DELAY_MS, connected)

    def add_database(self, unit):
        device = unit.device
        info = GattService(self, device, 0x000A, 0x180A)
        maker = GattCharacteristic(self, info, 0x000B, 0x2A29, ["read"], b"IMU")
        service = GattService(self, device, 0x0010, 0xFAEA)
        unit.report = GattCharacteristic(self, service, 0x0011, 0xFAE1, ["read", "notify"], unit=unit)
        config = GattDescriptor(self, unit.report, 0x0013, 0x2902)
        unit.param = GattCharacteristic(self, service, 0x0014, 0xFAE2, ["read", "write"], unit=unit)
        for obj in (info, maker, service, unit.report, config, unit.param):
            self.add(obj)

    def disconnect(self, device):
        if device.unit:
            self.drop_link(device.unit)

    def drop_links(self):
        for unit in self.units:
            self.drop_link(unit)

    def drop_link(self, unit):
        if not unit.connected():
            return
        device = unit.device
        if unit is self.units[0]:
            self.stop_flood()
        unit.command("off")
        hung = [w for w in self.hung_writes if w[0].unit is unit]
        self.hung_writes = [w for w in self.hung_writes if w[0].unit is not unit]
        for characteristic, data, reply, error in hung:
            error(Failed("Not connected"))
        device.set_props(DEVICE, {"ServicesResolved": dbus.Boolean(False)})
        device.set_props(DEVICE, {"Connected": dbus.Boolean(False)})
        for path in sorted(p for p in self.objects if p.startswith(device.path + "/")):
            if path in self.objects and "/service" in path and path.count("/") == 5:
                self.remove(path)

    # --- attributes ----------------------------------------------------------------------
    def notify(self, characteristic, on):
        unit = characteristic.unit
        if not unit or characteristic is not unit.report:
            raise NotPermitted("Notify not supported")
        characteristic.set_props(CHAR, {"Notifying": dbus.Boolean(on)})
        unit.command("on" if on else "off")

    def remove_service(self):
        unit = self.units[0]
        service = unit.report.path.rsplit("/", 1)[0] if unit.device and unit.report else None
        if service in self.objects:
            self.remove(service)
            unit.device.set_props(DEVICE, {"UUIDs": string_array([])})

    def write(self, characteristic, data, reply, error):
        self.log("WriteValue")
        unit = characteristic.unit
        if not unit or characteristic is not unit.param:
            error(NotPermitted("Write not permitted"))
        elif self.write_mode in WRITE_ERRORS:
            error(WRITE_ERRORS[self.write_mode]("Operation failed with ATT error: 0x0e"))
        elif self.write_mode == "hang":
            self.hung_writes.append((characteristic, data, reply, error))
        elif self.write_mode == "drop":
            self.drop_link(unit)
            error(Failed("Not connected"))
        else:
            unit.writes.append(data)
            characteristic.interfaces[CHAR]["Value"] = byte_array(data)
            unit.command("write " + data.hex())
            reply()

    # --- floods of orientation reports (the first controller's) ---------------------------
    def flood(self, rate, ms):
        """`rate` orientation reports a second for `ms`, in place of the controller's own;
        the angle counts up, so the last one tells which report a display shows."""
        unit = self.units[0]
        self.stop_flood()
        unit.command("off")
        self.flooded = {"sent": 0, "first": time.monotonic(), "last": 0.0}
        start, end = self.flooded["first"], self.flooded["first"] + ms / 1000.0

        def tick():
            now = time.monotonic()
            due = int(rate * (min(now, end) - start)) + 1 - self.flooded["sent"]
            for _ in range(min(due, 5000)):
                self.notify_value(self.flood_report(self.flooded["sent"]), unit)
                self.flooded["sent"] += 1
            self.flooded["last"] = time.monotonic()
            if now < end:
                return True
            self.flood_timer = None
            unit.command("on")
            return False

        self.flood_timer = GLib.timeout_add(2, tick)

    def stop_flood(self):
        if self.flood_timer is not None:
            GLib.source_remove(self.flood_timer)
            self.flood_timer = None

    @staticmethod
    def flood_report(n):
        # Type 0: angle 1 in tenths of a degree, sign-magnitude, high byte first.
        tenths = n % 3600
        return bytes([0x55, 0, 0, tenths >> 8, tenths & 0xFF, 0, 0, 0, 0] + [0] * 11)

    def notify_value(self, value, unit):
        """Sends `value` as `unit`'s notification; False when its reports are not on."""
        if unit.connected() and unit.report and unit.report.interfaces[CHAR]["Notifying"]:
            unit.report.PropertiesChanged(CHAR, {"Value": dbus.ByteArray(value)},
                                          dbus.Array([], signature="s"))
            return True
        return False

    # --- the controller models -------------------------------------------------------------
    def helper_command(self, line):
        """`line` to every controller's model."""
        for unit in self.units:
            unit.command(line)


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("helper")
    parser.add_argument("bus_pid", nargs="?", type=int, default=0)
    parser.add_argument("--controllers", type=int, default=1)
    return parser.parse_args()


def main():
    args = arguments()
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    standin = StandIn(bus, args.helper, args.controllers)
    name = dbus.service.BusName(BLUEZ, bus)
    loop = GLib.MainLoop()
    bus_pid = args.bus_pid

    def on_stdin(fd, condition):
        if condition & GLib.IO_IN and os.read(fd, 4096):
            return True
        if bus_pid:
            os.kill(bus_pid, signal.SIGTERM)
        loop.quit()
        return False

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, on_stdin)
    print("ready", flush=True)
    try:
        loop.run()
    finally:
        del name
        standin.close()


if __name__ == "__main__":
    main()
