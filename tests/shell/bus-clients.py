#!/usr/bin/python3
# Clients of the program's session bus service, as desktop widgets make them.
#   bus-clients.py ADDRESS proxy      a Gio.DBusProxy, as widgets and shell extensions read
#                                     properties: prints its cached EnLigne, Compte and
#                                     DureeConnexionMs at start and after each change it hears,
#                                     and the same from each Changed signal ("Changed ...")
#   bus-clients.py ADDRESS follow N   N connections that each call Suivre, then all vanish
import os
import sys

from gi.repository import Gio, GLib

address, mode = sys.argv[1], sys.argv[2]


def connect():
    return Gio.DBusConnection.new_for_address_sync(
        address,
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None,
        None,
    )


if mode == "proxy":
    proxy = Gio.DBusProxy.new_sync(connect(), Gio.DBusProxyFlags.NONE, None,
                                   "org.example.tallimer", "/org/example/tallimer",
                                   "org.example.tallimer.Session", None)

    def show(*_):
        values = [proxy.get_cached_property(n) for n in ("EnLigne", "Compte", "DureeConnexionMs")]
        print(" ".join(str(v.unpack()) if v is not None else "-" for v in values), flush=True)

    def signal(_proxy, _sender, name, parameters):
        state = parameters.unpack()[0]
        print(name, *(state[n] for n in ("EnLigne", "Compte", "DureeConnexionMs")), flush=True)

    proxy.connect("g-properties-changed", show)
    proxy.connect("g-signal", signal)
    show()
    GLib.MainLoop().run()
else:
    calls = []
    for _ in range(int(sys.argv[3])):
        c = connect()
        c.call("org.example.tallimer", "/org/example/tallimer", "org.example.tallimer.Session",
               "Suivre", None, None, Gio.DBusCallFlags.NONE, -1, None, None, None)
        c.flush_sync(None)
        calls.append(c)
    print("called", flush=True)
    os._exit(0)
