#!/usr/bin/python3
# A StatusNotifier watcher with a host registered, on the session bus: what a desktop whose
# notification area speaks StatusNotifier offers. Registered items are written to stdout.
from gi.repository import Gio, GLib

XML = """<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
  </interface>
</node>"""
items = []


def call(conn, sender, path, interface, method, args, invocation):
    if method == "RegisterStatusNotifierItem":
        items.append(args[0])
        print("item", sender, args[0], flush=True)
    invocation.return_value(None)


def get_property(conn, sender, path, interface, prop):
    if prop == "RegisteredStatusNotifierItems":
        return GLib.Variant("as", items)
    if prop == "IsStatusNotifierHostRegistered":
        return GLib.Variant("b", True)
    return GLib.Variant("i", 0)


bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
info = Gio.DBusNodeInfo.new_for_xml(XML)
bus.register_object("/StatusNotifierWatcher", info.interfaces[0], call, get_property, None)
Gio.bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", 0, None, None)
GLib.MainLoop().run()
