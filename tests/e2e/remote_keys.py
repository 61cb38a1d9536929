"""Types keys into a headless mutter through its remote-desktop D-Bus service, the way a remote
desktop viewer does: the compositor's own virtual keyboard, delivered to whichever window the
compositor has given the keyboard focus, native Wayland or XWayland alike.

Runs under the system Python (it needs python3-gi) as a child of the test, on the session's
bus. The remote-desktop session lives as long as this process's bus connection, so the process
stays up: it prints "ready", then reads one key per line ("Return", "shift+Tab") and answers
"ok" once the key has been pressed and released, or "error: ..." on stdout.
"""

import sys
import time

from gi.repository import Gio, GLib

SERVICE = "org.gnome.Mutter.RemoteDesktop"
SESSION = SERVICE + ".Session"
KEYSYMS = {
    "Return": 0xff0d, "Escape": 0xff1b, "Tab": 0xff09, "space": 0x20, "End": 0xff57,
    "Home": 0xff50, "Down": 0xff54, "Up": 0xff52, "shift": 0xffe1, "ctrl": 0xffe3,
}
HOLD = 0.03  # seconds between the press and the release


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)

    def call(path, interface, method, args=None, reply=None):
        return bus.call_sync(SERVICE, path, interface, method, args,
                             GLib.VariantType(reply) if reply else None,
                             Gio.DBusCallFlags.NONE, 5000, None)

    path = call("/org/gnome/Mutter/RemoteDesktop", SERVICE, "CreateSession",
                reply="(o)").unpack()[0]
    call(path, SESSION, "Start")

    def key(sym, down):
        call(path, SESSION, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (sym, down)))

    # The virtual keyboard comes into being with its first key; clients bind it only once the
    # seat has announced it, so a key sent at once would reach nobody.
    key(KEYSYMS["shift"], True)
    key(KEYSYMS["shift"], False)
    time.sleep(0.5)
    print("ready", flush=True)

    for line in sys.stdin:
        names = line.strip().split("+")
        try:
            syms = [KEYSYMS[n] for n in names]
            for sym in syms:
                key(sym, True)
                time.sleep(HOLD)
            for sym in reversed(syms):
                key(sym, False)
            print("ok", flush=True)
        except (KeyError, GLib.Error) as e:
            print("error: %s" % e, flush=True)


if __name__ == "__main__":
    main()
