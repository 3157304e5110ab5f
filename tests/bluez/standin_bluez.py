#!/usr/bin/python3
"""A stand-in for BlueZ on a private D-Bus bus: one adapter, one motion controller and one
nameless beacon, with the D-Bus objects and calls that Qt Bluetooth uses. The controller's
reports come from the controller-stream helper (the virtual dongle's controller model).

    /usr/bin/python3 standin_bluez.py <controller-stream helper> [<bus daemon pid>]

Runs on the bus named by DBUS_SYSTEM_BUS_ADDRESS, prints "ready" once it owns org.bluez, and
takes fault injection on org.imucal.StandIn at /org/imucal/standin. When its standard input
closes (the test that started it has gone, even by a crash) it ends, and takes the bus daemon
with it.
"""
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
CONTROLLER_ADDRESS = "00:02:5B:0A:1C:01"
CONTROLLER_NAME = "IMU Controller A"
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

    @dbus.service.method(ADAPTER)
    def StartDiscovery(self):
        self.standin.log("StartDiscovery")
        if not self.interfaces[ADAPTER]["Powered"]:
            raise NotPermitted("Not Powered")
        self.standin.start_discovery()

    @dbus.service.method(ADAPTER)
    def StopDiscovery(self):
        self.standin.log("StopDiscovery")
        self.standin.stop_discovery()

    @dbus.service.method(ADAPTER, in_signature="o")
    def RemoveDevice(self, path):
        self.standin.log("RemoveDevice")
        self.standin.remove_device(str(path))


class Device(BusObject):
    def __init__(self, standin, address, name, controller):
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
            "UUIDs": string_array([uuid16(0xFAEA)] if controller else []),
            "ServicesResolved": dbus.Boolean(False),
        }
        if name:
            props["Name"] = dbus.String(name)
        BusObject.__init__(self, standin, "%s/dev_%s" % (ADAPTER_PATH, address.replace(":", "_")),
                           {DEVICE: props})
        self.controller = controller

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
    def __init__(self, standin, service, handle, uuid, flags, value=b""):
        BusObject.__init__(self, standin, "%s/char%04x" % (service.path, handle), {CHAR: {
            "UUID": dbus.String(uuid16(uuid)),
            "Service": dbus.ObjectPath(service.path),
            "Value": byte_array(value),
            "Notifying": dbus.Boolean(False),
            "Flags": string_array(flags),
        }})
        self.uuid = uuid

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
        self.standin.drop_link()

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
        return dbus.Array([byte_array(w) for w in self.standin.writes], signature="ay")

    @dbus.service.method(CONTROL, out_signature="aay")
    def Sent(self):
        return dbus.Array([byte_array(s) for s in self.standin.sent], signature="ay")


class StandIn:
    def __init__(self, bus, helper):
        self.bus = bus
        self.helper = subprocess.Popen([helper], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       bufsize=0)
        self.pending = b""
        GLib.io_add_watch(self.helper.stdout.fileno(), GLib.IO_IN | GLib.IO_HUP, self.on_helper)
        self.objects = {}
        self.root = Root(self)
        self.control = Control(self)
        self.adapter = None
        self.controller = None
        self.discovery_timer = None
        self.flood_timer = None
        self.reset()

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
        if self.controller:
            self.drop_link()
        for path in [p for p in self.objects if p.startswith(ADAPTER_PATH)]:
            self.remove(path)
        self.adapter = None
        self.controller = None
        self.beacon = None
        self.powered = True
        self.connect_mode = "ok"
        self.write_mode = "ok"
        self.crowd_size = 0
        self.crowd_name_length = 0
        self.crowd = []
        self.flooded = {"sent": 0, "first": 0.0, "last": 0.0}
        self.calls = []
        self.writes = []
        self.sent = []
        self.hung = []
        self.hung_writes = []
        self.helper_command("off")
        self.helper_command("rate 100")
        self.set_adapter_present(True)

    def set_adapter_present(self, present):
        if present and not self.adapter:
            self.adapter = Adapter(self)
            self.add(self.adapter)
        elif not present and self.adapter:
            self.stop_discovery()
            self.drop_link()
            self.remove(ADAPTER_PATH)
            self.adapter = None
            self.controller = None
            self.beacon = None
            self.crowd = []

    def powered_changed(self, powered):
        if not powered:
            self.stop_discovery()
            self.drop_link()

    # --- discovery -----------------------------------------------------------------------
    def start_discovery(self):
        if self.discovery_timer is None:
            self.adapter.set_props(ADAPTER, {"Discovering": dbus.Boolean(True)})
            self.rssi_step = 0
            self.advertise()
            self.discovery_timer = GLib.timeout_add(ADVERTISING_MS, self.advertise)

    def stop_discovery(self):
        if self.discovery_timer is not None:
            GLib.source_remove(self.discovery_timer)
            self.discovery_timer = None
            if self.adapter:
                self.adapter.set_props(ADAPTER, {"Discovering": dbus.Boolean(False)})

    def advertise(self):
        """One advertising period: unknown devices appear, known ones are seen again."""
        self.rssi_step += 1
        rssi = dbus.Int16(-50 - self.rssi_step % 2)
        if self.controller is None:
            self.controller = Device(self, CONTROLLER_ADDRESS, CONTROLLER_NAME, True)
            self.add(self.controller)
        elif not self.controller.interfaces[DEVICE]["Connected"]:
            self.controller.set_props(DEVICE, {"RSSI": rssi})
        if self.beacon is None:
            self.beacon = Device(self, BEACON_ADDRESS, None, False)
            self.add(self.beacon)
        else:
            self.beacon.set_props(DEVICE, {"RSSI": rssi})
        for i in range(self.crowd_size):
            name = ("%d-%d " % (i, self.rssi_step) * self.crowd_name_length)[:self.crowd_name_length]
            if i < len(self.crowd):
                self.crowd[i].set_props(DEVICE, {"Name": dbus.String(name),
                                                 "Alias": dbus.String(name), "RSSI": rssi})
            else:
                self.crowd.append(Device(self, CROWD_PREFIX + "%02X" % i, name, False))
                self.add(self.crowd[-1])
        return True

    def remove_device(self, path):
        if self.controller and path == self.controller.path:
            self.drop_link()
            self.controller = None
        elif self.beacon and path == self.beacon.path:
            self.beacon = None
        self.remove(path)

    # --- connection ----------------------------------------------------------------------
    def connect(self, device, reply, error):
        if self.connect_mode == "fail" or not device.controller or not self.powered:
            error(Failed("le-connection-abort-by-local"))
            return
        if self.connect_mode == "hang":
            self.hung.append((reply, error))
            return
        if device.interfaces[DEVICE]["Connected"]:
            reply()
            return

        def connected():
            if self.controller is not device:
                error(Failed("Device gone"))
                return False
            device.set_props(DEVICE, {"Connected": dbus.Boolean(True)})
            self.add_database(device)
            reply()
            GLib.timeout_add(CONNECT_DELAY_MS, resolved)
            return False

        def resolved():
            if device.interfaces[DEVICE]["Connected"]:
                device.set_props(DEVICE, {"ServicesResolved": dbus.Boolean(True)})
            return False

        GLib.timeout_add(CONNECT_DELAY_MS, connected)

    def add_database(self, device):
        info = GattService(self, device, 0x000A, 0x180A)
        maker = GattCharacteristic(self, info, 0x000B, 0x2A29, ["read"], b"IMU")
        service = GattService(self, device, 0x0010, 0xFAEA)
        self.report = GattCharacteristic(self, service, 0x0011, 0xFAE1, ["read", "notify"])
        config = GattDescriptor(self, self.report, 0x0013, 0x2902)
        self.param = GattCharacteristic(self, service, 0x0014, 0xFAE2, ["read", "write"])
        for obj in (info, maker, service, self.report, config, self.param):
            self.add(obj)

    def disconnect(self, device):
        if device is self.controller:
            self.drop_link()

    def drop_link(self):
        device = self.controller
        if not device or not device.interfaces[DEVICE]["Connected"]:
            return
        self.stop_flood()
        self.helper_command("off")
        hung, self.hung_writes = self.hung_writes, []
        for characteristic, data, reply, error in hung:
            error(Failed("Not connected"))
        device.set_props(DEVICE, {"ServicesResolved": dbus.Boolean(False)})
        device.set_props(DEVICE, {"Connected": dbus.Boolean(False)})
        for path in sorted(p for p in self.objects if p.startswith(device.path + "/")):
            if path in self.objects and "/service" in path and path.count("/") == 5:
                self.remove(path)

    # --- attributes ----------------------------------------------------------------------
    def notify(self, characteristic, on):
        if characteristic is not self.report:
            raise NotPermitted("Notify not supported")
        characteristic.set_props(CHAR, {"Notifying": dbus.Boolean(on)})
        self.helper_command("on" if on else "off")

    def remove_service(self):
        device = self.controller
        service = self.report.path.rsplit("/", 1)[0] if device else None
        if service in self.objects:
            self.remove(service)
            device.set_props(DEVICE, {"UUIDs": string_array([])})

    def write(self, characteristic, data, reply, error):
        self.log("WriteValue")
        if characteristic is not self.param:
            error(NotPermitted("Write not permitted"))
        elif self.write_mode in WRITE_ERRORS:
            error(WRITE_ERRORS[self.write_mode]("Operation failed with ATT error: 0x0e"))
        elif self.write_mode == "hang":
            self.hung_writes.append((characteristic, data, reply, error))
        elif self.write_mode == "drop":
            self.drop_link()
            error(Failed("Not connected"))
        else:
            self.writes.append(data)
            characteristic.interfaces[CHAR]["Value"] = byte_array(data)
            self.helper_command("write " + data.hex())
            reply()

    # --- floods of orientation reports ---------------------------------------------------
    def flood(self, rate, ms):
        """`rate` orientation reports a second for `ms`, in place of the controller's own;
        the angle counts up, so the last one tells which report a display shows."""
        self.stop_flood()
        self.helper_command("off")
        self.flooded = {"sent": 0, "first": time.monotonic(), "last": 0.0}
        start, end = self.flooded["first"], self.flooded["first"] + ms / 1000.0

        def tick():
            now = time.monotonic()
            due = int(rate * (min(now, end) - start)) + 1 - self.flooded["sent"]
            for _ in range(min(due, 5000)):
                self.notify_value(self.flood_report(self.flooded["sent"]))
                self.flooded["sent"] += 1
            self.flooded["last"] = time.monotonic()
            if now < end:
                return True
            self.flood_timer = None
            self.helper_command("on")
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

    def notify_value(self, value):
        device = self.controller
        if (device and device.interfaces[DEVICE]["Connected"]
                and self.report.interfaces[CHAR]["Notifying"]):
            self.report.PropertiesChanged(CHAR, {"Value": dbus.ByteArray(value)},
                                          dbus.Array([], signature="s"))
            return True
        return False

    # --- the controller model ------------------------------------------------------------
    def helper_command(self, line):
        self.helper.stdin.write((line + "\n").encode())

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
            if self.notify_value(value) and len(self.sent) < KEEP_SENT:
                self.sent.append(value)
        return True


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    standin = StandIn(bus, sys.argv[1])
    name = dbus.service.BusName(BLUEZ, bus)
    loop = GLib.MainLoop()
    bus_pid = int(sys.argv[2]) if len(sys.argv) > 2 else 0

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
        standin.helper.kill()


if __name__ == "__main__":
    main()
