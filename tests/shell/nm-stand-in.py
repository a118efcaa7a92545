#!/usr/bin/python3
# A NetworkManager that knows one active connection, on the bus at DBUS_SYSTEM_BUS_ADDRESS,
# so the program meters under that connection's name. METERED is its device's Metered value
# (NetworkManager's NMMetered: 0 unknown, 1 yes, 2 no, 3 guess yes, 4 guess no), 0 by default.
# Usage: nm-stand-in.py CONNECTION-NAME [METERED]
import sys

from gi.repository import Gio, GLib

NAME = sys.argv[1]
METERED = int(sys.argv[2]) if len(sys.argv) > 2 else 0
ACTIVE = "/org/freedesktop/NetworkManager/ActiveConnection/1"
DEVICE = "/org/freedesktop/NetworkManager/Devices/1"
XML = """<node>
  <interface name="org.freedesktop.NetworkManager">
    <property name="PrimaryConnection" type="o" access="read"/>
  </interface>
  <interface name="org.freedesktop.NetworkManager.Connection.Active">
    <property name="Id" type="s" access="read"/>
    <property name="Devices" type="ao" access="read"/>
  </interface>
  <interface name="org.freedesktop.NetworkManager.Device">
    <property name="Metered" type="u" access="read"/>
  </interface>
</node>"""
info = Gio.DBusNodeInfo.new_for_xml(XML)


def get_property(conn, sender, path, interface, prop):
    if prop == "PrimaryConnection":
        return GLib.Variant("o", ACTIVE)
    if prop == "Devices":
        return GLib.Variant("ao", [DEVICE])
    if prop == "Metered":
        return GLib.Variant("u", METERED)
    return GLib.Variant("s", NAME)


bus = Gio.DBusConnection.new_for_address_sync(
    Gio.dbus_address_get_for_bus_sync(Gio.BusType.SYSTEM, None),
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
    | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
    None,
    None,
)
bus.register_object("/org/freedesktop/NetworkManager", info.interfaces[0], None, get_property, None)
bus.register_object(ACTIVE, info.interfaces[1], None, get_property, None)
bus.register_object(DEVICE, info.interfaces[2], None, get_property, None)
Gio.bus_own_name_on_connection(bus, "org.freedesktop.NetworkManager", 0, None, None)
GLib.MainLoop().run()
