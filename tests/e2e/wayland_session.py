"""A private Wayland desktop for the end-to-end tests: GNOME's compositor, mutter, headless with
one virtual monitor, and its XWayland, on a fresh XDG_RUNTIME_DIR and a private session bus.

The programs meet it as they meet a user's desktop: GTK's dialog and message boxes open natively
on Wayland, GLFW's window through XWayland. Keys come from the compositor's own virtual keyboard
(its remote-desktop service, see remote_keys.py) and go wherever the compositor has put the
keyboard focus. X windows are found and measured with xdotool on XWayland, as on Xvfb. Native
windows cannot be listed by another client, so each program runs with WAYLAND_DEBUG=client and
its own protocol trace (in its stderr) tells which toplevels it opened, their titles, and which
one holds the keyboard focus.
"""

import glob
import os
import re
import select
import shutil
import stat
import subprocess
import sys
import tempfile
import time

from xsession import XError, XSession, kill_group, wait_until

X11_SOCKETS = "/tmp/.X11-unix"
TRACE_LINE = re.compile(r"^\[\s*\d+\.\d+\] ")


class SessionUnavailable(RuntimeError):
    """Something the desktop needs is missing here (a skip, not a failure of the programs)."""


def missing_programs():
    return [p for p in ("mutter", "Xwayland", "dbus-daemon", "xdotool") if not shutil.which(p)]


class WaylandSession(XSession):
    native = True

    def __init__(self, width=1280, height=1024, log_path=None):
        super().__init__(width, height, log_path)
        self.runtime = None
        self.xauthority = None
        self._bus = None
        self._bus_address = None
        self._keys = None

    # Lifetime -------------------------------------------------------------------------------

    def start(self, timeout=30):
        missing = missing_programs()
        if missing:
            raise SessionUnavailable("not installed: " + ", ".join(missing))
        python = gi_python()
        if python is None:
            raise SessionUnavailable("no Python with the GObject bindings (python3-gi)")
        ensure_x11_socket_folder()
        self.runtime = tempfile.mkdtemp(prefix="lumenfall-wayland-")
        try:
            self._start_bus(timeout)
            self._start_mutter(timeout)
            self._start_keys(python, timeout)
        except BaseException:
            self.stop()
            raise

    def _base_env(self):
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "GDK_BACKEND",
                     "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DEBUG"):
            env.pop(name, None)
        env["XDG_RUNTIME_DIR"] = self.runtime
        # Nothing of the user's desktop settings is read or written.
        env["GSETTINGS_BACKEND"] = "memory"
        for name in ("CONFIG", "CACHE", "DATA", "STATE"):
            env["XDG_%s_HOME" % name] = os.path.join(self.runtime, name.lower())
        if self._bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self._bus_address
        return env

    def _start_bus(self, timeout):
        self._bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nosyslog", "--print-address=1",
             "--address=unix:path=%s/bus" % self.runtime],
            env=self._base_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, start_new_session=True)
        line = read_line(self._bus.stdout, timeout)
        if not line:
            raise XError("the session bus did not start")
        self._bus_address = line.strip()

    def _start_mutter(self, timeout):
        log_path = self._log_path or os.path.join(self.runtime, "mutter.log")
        self._log_path = log_path
        with open(log_path, "wb") as log:
            self._proc = subprocess.Popen(
                ["mutter", "--headless", "--wayland", "--wayland-display", "wayland-0",
                 "--virtual-monitor", "%dx%d" % self.size],
                env=self._base_env(), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)
        # mutter names its X display in its log once XWayland is set up.
        deadline = time.monotonic() + timeout
        while self.display is None:
            if self._proc.poll() is not None or time.monotonic() >= deadline:
                raise XError("mutter did not start:\n" + tail(log_path))
            found = re.search(r"Using public X11 display (:\d+)", read_text(log_path))
            if found:
                self.display = found.group(1)
            else:
                time.sleep(0.1)
        auth = glob.glob(os.path.join(self.runtime, ".mutter-Xwaylandauth.*"))
        self.xauthority = auth[0] if auth else None
        # The first X connection may have to wait for XWayland itself.
        while True:
            try:
                self._xlib()
                break
            except XError:
                if self._proc.poll() is not None or time.monotonic() >= deadline:
                    raise XError("XWayland did not answer on %s:\n%s" %
                                 (self.display, tail(log_path)))
                time.sleep(0.2)

    def _start_keys(self, python, timeout):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "remote_keys.py")
        with open(self._log_path, "ab") as log:  # its complaints go beside mutter's
            self._keys = subprocess.Popen([python, script], env=self._base_env(),
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                          stderr=log, text=True, start_new_session=True)
        if read_line(self._keys.stdout, timeout).strip() != "ready":
            raise XError("the compositor's remote-desktop keyboard did not start:\n" +
                         tail(self._log_path))

    def stop(self):
        if self._keys:
            self._keys.stdin.close()
            kill_group(self._keys)
            self._keys = None
        compositor = self._proc.pid if self._proc else None
        super().stop()  # our X connection, then mutter with XWayland
        if compositor:
            remove_x_locks(compositor)
        if self._bus:
            kill_group(self._bus)
            self._bus = None
        if self.runtime:
            shutil.rmtree(self.runtime, ignore_errors=True)
            self.runtime = None

    def env(self, base=None):
        env = self._base_env() if base is None else dict(base)
        env["DISPLAY"] = self.display
        if self.xauthority:
            env["XAUTHORITY"] = self.xauthority
        env["WAYLAND_DISPLAY"] = "wayland-0"
        env["NO_AT_BRIDGE"] = "1"
        env["WAYLAND_DEBUG"] = "client"
        return env

    def _xlib(self):
        # libX11 reads XAUTHORITY when it connects.
        if self._dpy is None and self.xauthority:
            os.environ["XAUTHORITY"] = self.xauthority
        return super()._xlib()

    # Keys -----------------------------------------------------------------------------------

    def keys(self, window, *keys, delay=0.15):
        """Types `keys` once `window` (an X window id or a NativeWindow) has the keyboard
        focus, which the compositor gives; a desktop user would click the window first."""
        if not wait_until(lambda: self.has_focus(window), 5, step=0.05):
            raise XError("the compositor did not give %s the keyboard focus" % describe(window))
        time.sleep(delay)
        for key in keys:
            self.type_key(key)
            time.sleep(delay)

    keys_under_pointer = keys

    def type_key(self, key):
        try:
            self._keys.stdin.write(key + "\n")
            self._keys.stdin.flush()
        except (OSError, ValueError):
            raise XError("the remote-desktop keyboard is gone")
        answer = read_line(self._keys.stdout, 10).strip()
        if answer != "ok":
            raise XError("key %s: %s" % (key, answer or "no answer"))

    def has_focus(self, window):
        if isinstance(window, NativeWindow):
            return window.focused()
        return self.active_window() == window

    # Pictures -------------------------------------------------------------------------------

    def screenshot(self, path, window=None):
        """XWayland has no root picture (each X window is its own Wayland surface): only an X
        window can be taken."""
        if window is None:
            raise XError("no picture of the whole screen on a Wayland desktop")
        super().screenshot(path, window)

    def press_close_box(self, window):
        raise XError("the close box is the compositor's on a Wayland desktop")


class NativeWindow:
    """A toplevel a program opened natively on Wayland, as its protocol trace tells."""

    def __init__(self, trace, key, title):
        self.trace = trace
        self.key = key
        self.title = title

    def state(self):
        return self.trace.toplevels().get(self.key)

    def is_open(self):
        state = self.state()
        return bool(state and state.open)

    def focused(self):
        state = self.state()
        return bool(state and state.open and state.focused)

    def __eq__(self, other):
        return isinstance(other, NativeWindow) and other.key == self.key

    def __hash__(self):
        return hash(self.key)

    def __repr__(self):
        return "native window %r" % self.title


class Toplevel:
    def __init__(self, key, surface):
        self.key = key
        self.surface = surface
        self.title = ""
        self.open = True
        self.mapped = False
        self.focused = False


class ProtocolTrace:
    """Reads a client's WAYLAND_DEBUG trace as it grows and keeps the toplevels it made."""

    def __init__(self, path):
        self.path = path
        self._offset = 0
        self._partial = ""
        self._xdg_surfaces = {}  # xdg_surface id -> wl_surface id
        self._live = {}  # xdg_toplevel id -> Toplevel
        self._all = {}  # key -> Toplevel, in the order made
        self._focus = None  # wl_surface id with the keyboard focus

    def toplevels(self):
        self._read()
        return self._all

    def windows(self, title_pattern):
        """The open, mapped toplevels whose title matches."""
        return [NativeWindow(self, t.key, t.title) for t in self.toplevels().values()
                if t.open and t.mapped and re.match(title_pattern, t.title)]

    def _read(self):
        try:
            with open(self.path, "r", errors="replace") as f:
                f.seek(self._offset)
                text = f.read()
                self._offset = f.tell()
        except OSError:
            return
        lines = (self._partial + text).split("\n")
        self._partial = lines.pop()
        for line in lines:
            if TRACE_LINE.match(line):
                self._line(line)

    def _line(self, line):
        m = re.search(r"xdg_wm_base@\d+\.get_xdg_surface\(new id xdg_surface@(\d+), "
                      r"wl_surface@(\d+)\)", line)
        if m:
            self._xdg_surfaces[m.group(1)] = m.group(2)
            return
        m = re.search(r"xdg_surface@(\d+)\.get_toplevel\(new id xdg_toplevel@(\d+)\)", line)
        if m:
            top = Toplevel(len(self._all), self._xdg_surfaces.get(m.group(1)))
            self._live[m.group(2)] = top
            self._all[top.key] = top
            return
        m = re.search(r"-> xdg_toplevel@(\d+)\.set_title\(\"(.*)\"\)", line)
        if m and m.group(1) in self._live:
            self._live[m.group(1)].title = m.group(2)
            return
        m = re.search(r"-> xdg_toplevel@(\d+)\.destroy\(\)", line)
        if m and m.group(1) in self._live:
            top = self._live.pop(m.group(1))
            top.open = top.focused = False
            return
        m = re.search(r"-> wl_surface@(\d+)\.attach\(wl_buffer@", line)
        if m:
            for top in self._live.values():
                if top.surface == m.group(1):
                    top.mapped = True
            return
        m = re.search(r"wl_keyboard@\d+\.(enter|leave)\(\d+, (?:wl_surface@(\d+)|nil)", line)
        if m:
            self._focus = m.group(2) if m.group(1) == "enter" else None
            for top in self._live.values():
                top.focused = top.surface is not None and top.surface == self._focus


def without_trace(text):
    """A program's stderr without its protocol trace."""
    return "".join(l for l in text.splitlines(True) if not TRACE_LINE.match(l))


# Helpers --------------------------------------------------------------------------------------

def ensure_x11_socket_folder():
    """mutter starts XWayland only where any user may make X sockets (mode 1777, as X servers
    make the folder); some containers leave it 0755 behind."""
    try:
        mode = os.stat(X11_SOCKETS).st_mode
    except FileNotFoundError:
        mode = None
    if mode is not None and stat.S_IMODE(mode) & 0o1777 == 0o1777:
        return
    if os.geteuid() != 0:
        raise SessionUnavailable("%s is not writable by all (mode %s), and mutter will not "
                                 "start XWayland" % (X11_SOCKETS, oct(mode) if mode else "none"))
    if mode is None:
        os.mkdir(X11_SOCKETS)
    os.chmod(X11_SOCKETS, 0o1777)


def remove_x_locks(pid):
    """mutter leaves its X displays' lock files and sockets behind when it is ended; other X
    servers would take them over, but they need not wait for that."""
    for lock in glob.glob("/tmp/.X*-lock"):
        if read_text(lock).strip() != str(pid):
            continue
        number = os.path.basename(lock)[2:-5]
        for path in (lock, os.path.join(X11_SOCKETS, "X" + number)):
            try:
                os.remove(path)
            except OSError:
                pass


def gi_python():
    """An interpreter that has the GObject bindings: this one, else Debian's."""
    for python in dict.fromkeys([sys.executable, "/usr/bin/python3"]):
        if python and os.access(python, os.X_OK) and subprocess.run(
                [python, "-c", "from gi.repository import Gio"], stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return python
    return None


def read_line(stream, timeout):
    ready, _, _ = select.select([stream], [], [], timeout)
    return stream.readline() if ready else ""


def read_text(path):
    try:
        with open(path, "r", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def tail(path, lines=15):
    return "\n".join(read_text(path).splitlines()[-lines:])


def describe(window):
    return repr(window) if isinstance(window, NativeWindow) else "X window %#x" % window
