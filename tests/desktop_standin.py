#!/usr/bin/python3
"""desktop_standin.py portal|screensaver

Stands in on the session bus for the desktop portal's Inhibit or for the screen saver, and
prints what is asked of it, a line a call: "inhibit CALLER TOKEN FLAGS REASON" (TOKEN the
request object or the cookie; FLAGS "-" for the screen saver) and "release TOKEN", also when
the caller's connection closes, which ends what it held, as with the desktop's own services.
Prints "ready" once it owns its name.
"""
import itertools
import sys

from gi.repository import Gio, GLib

PORTAL = ("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", """<node>
<interface name="org.freedesktop.portal.Inhibit"><method name="Inhibit"><arg type="s"/>
<arg type="u"/><arg type="a{sv}"/><arg type="o" direction="out"/></method></interface></node>""")
SAVER = ("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", """<node>
<interface name="org.freedesktop.ScreenSaver"><method name="Inhibit"><arg type="s"/>
<arg type="s"/><arg type="u" direction="out"/></method><method name="UnInhibit">
<arg type="u"/></method></interface></node>""")
REQUEST = Gio.DBusNodeInfo.new_for_xml("""<node><interface name="org.freedesktop.portal.Request">
<method name="Close"/></interface></node>""").interfaces[0]

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
held = {}  # token -> (caller, request object registration or None)
numbers = itertools.count(1)


def say(line):
    print(line, flush=True)


def release(token):
    caller, registration = held.pop(token)
    if registration:
        bus.unregister_object(registration)
    say(f"release {token}")


def call(connection, caller, path, interface, method, args, invocation):
    if method == "Close":
        release(path)
        return invocation.return_value(None)
    if method == "UnInhibit":
        release(str(args[0]))
        return invocation.return_value(None)
    token = f"{PORTAL[1]}/request/{next(numbers)}" if interface.endswith("Inhibit") else None
    if token:  # the portal: a request object of its own
        registration = bus.register_object(token, REQUEST, call)
        held[token] = (caller, registration)
        say(f"inhibit {caller} {token} {args[1]} {args[2].get('reason', '')}")
        return invocation.return_value(GLib.Variant("(o)", (token,)))
    token = str(1000 + next(numbers))
    held[token] = (caller, None)
    say(f"inhibit {caller} {token} - {args[1]}")
    invocation.return_value(GLib.Variant("(u)", (int(token),)))


def owner_changed(connection, sender, path, interface, signal, args):
    name, _, new = args
    if not new:
        for token in [t for t, (c, _) in held.items() if c == name]:
            release(token)


name, path, xml = PORTAL if sys.argv[1] == "portal" else SAVER
bus.register_object(path, Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0], call)
bus.signal_subscribe("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                     "/org/freedesktop/DBus", None, Gio.DBusSignalFlags.NONE, owner_changed)
Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE, lambda *a: say("ready"),
                               None)
GLib.MainLoop().run()
