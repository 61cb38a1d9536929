"""A private X server for the end-to-end tests and the few things they do on it.

Xvfb picks a free display number itself (-displayfd) and is killed with its whole process
group when the session ends, or ends by itself when this process's connection goes. Windows are found, keyed and measured with xdotool; the close
box is pressed the way a window manager does it, with a WM_DELETE_WINDOW client message
(there is no window manager on the server to draw one).
"""

import ctypes
import ctypes.util
import os
import re
import select
import signal
import subprocess
import time

XDOTOOL_TIMEOUT = 10


class XError(RuntimeError):
    pass


class XSession:
    def __init__(self, width=1280, height=1024, log_path=None):
        self.size = (width, height)
        self.display = None
        self._log_path = log_path
        self._proc = None
        self._x11 = None
        self._dpy = None

    # Lifetime -------------------------------------------------------------------------------

    def __enter__(self):
        if self._proc is None:
            self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self, timeout=15):
        read_fd, write_fd = os.pipe()
        log = open(self._log_path, "wb") if self._log_path else subprocess.DEVNULL
        try:
            self._proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                 "%dx%dx24" % self.size, "-nolisten", "tcp", "-terminate"],
                pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)
        finally:
            os.close(write_fd)
            if log is not subprocess.DEVNULL:
                log.close()
        # Xvfb writes the display number once it accepts connections.
        number = b""
        deadline = time.monotonic() + timeout
        try:
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self._proc.poll() is not None:
                    raise XError("Xvfb did not start (see %s)" % self._log_path)
                ready, _, _ = select.select([read_fd], [], [], left)
                if ready:
                    chunk = os.read(read_fd, 16)
                    if not chunk:
                        raise XError("Xvfb closed its display pipe")
                    number += chunk
        except BaseException:
            os.close(read_fd)
            self.stop()
            raise
        os.close(read_fd)
        self.display = ":" + number.decode().strip()
        # Our own connection keeps the server up between programs; with -terminate the
        # server also ends when this process dies, however it dies.
        self._xlib()

    def stop(self):
        if self._dpy:
            self._x11.XCloseDisplay(self._dpy)
            self._dpy = None
        if self._proc and self._proc.poll() is None:
            kill_group(self._proc)
        self._proc = None

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        env["DISPLAY"] = self.display
        env.pop("WAYLAND_DISPLAY", None)
        env["GDK_BACKEND"] = "x11"
        env["NO_AT_BRIDGE"] = "1"  # no accessibility bus to wait for
        return env

    # xdotool --------------------------------------------------------------------------------

    def xdotool(self, *args, check=True):
        try:
            done = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env(),
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                  timeout=XDOTOOL_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise XError("xdotool %s timed out" % " ".join(map(str, args)))
        if check and done.returncode != 0:
            raise XError("xdotool %s failed: %s" % (" ".join(map(str, args)),
                                                    done.stderr.strip()))
        return done.stdout

    def search(self, name, instance=None):
        """Visible windows whose title matches the regex `name` (xdotool ignores case; callers
        check exact titles) and, when given, whose WM_CLASS instance name is `instance`."""
        out = self.xdotool("search", "--onlyvisible", "--name", name, check=False)
        windows = [int(w) for w in out.split()]
        if instance is not None:
            windows = [w for w in windows if self.instance_name(w) == instance]
        return windows

    def window_name(self, window):
        return self.xdotool("getwindowname", window, check=False).rstrip("\n")

    def geometry(self, window):
        values = {}
        for line in self.xdotool("getwindowgeometry", "--shell", window).splitlines():
            key, _, value = line.partition("=")
            values[key] = int(value)
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def keys(self, window, *keys, delay=0.15):
        """Gives `window` the keyboard focus and types `keys` through XTEST."""
        self.xdotool("windowfocus", window, check=False)
        time.sleep(delay)
        for key in keys:
            self.xdotool("key", key)
            time.sleep(delay)

    def keys_under_pointer(self, window, *keys, delay=0.15):
        """Types `keys` into the window under the pointer, without moving the keyboard focus.
        With no window manager the focus rests on the root window, so the keys reach the
        window below the pointer. Used for GLFW windows: taking the focus explicitly sends a
        full-screen window a FocusOut, and GLFW answers that with an iconify it cannot do
        without a window manager."""
        x, y, width, height = self.geometry(window)
        self.xdotool("mousemove", x + width // 2, y + height // 2)
        time.sleep(delay)
        for key in keys:
            self.xdotool("key", key)
            time.sleep(delay)

    def screenshot(self, path, window=None):
        target = "root" if window is None else "%#x" % window
        subprocess.run(["import", "-window", target, path], env=self.env(),
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=30, check=True)

    def window_picture(self, window):
        """The window's pixels: (width, height, bytes), 3 bytes a pixel, rows top down."""
        try:
            done = subprocess.run(["import", "-window", "%#x" % window, "-depth", "8", "ppm:-"],
                                  env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=15, check=True)
        except subprocess.SubprocessError as e:
            raise XError("no picture of window %#x: %s" % (window, e))
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", done.stdout)
        if not header:
            raise XError("no picture of window %#x" % window)
        width, height = int(header.group(1)), int(header.group(2))
        return width, height, done.stdout[header.end():]

    def row(self, y):
        """The screen's pixel row y as (r, g, b) tuples."""
        done = subprocess.run(["import", "-window", "root", "-crop", "%dx1+0+%d" % (self.size[0], y),
                               "-depth", "8", "rgb:-"], env=self.env(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=30, check=True)
        data = done.stdout
        return [tuple(data[i:i + 3]) for i in range(0, len(data) - 2, 3)]

    # The close box ---------------------------------------------------------------------------

    def press_close_box(self, window):
        x11, dpy = self._xlib()

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                        ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                        ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

        class XEvent(ctypes.Union):
            _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

        protocols = x11.XInternAtom(dpy, b"WM_PROTOCOLS", False)
        delete = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", False)
        event = XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = protocols
        event.xclient.format = 32
        event.xclient.data[0] = delete
        event.xclient.data[1] = 0  # CurrentTime
        if not x11.XSendEvent(dpy, ctypes.c_ulong(window), False, 0, ctypes.byref(event)):
            raise XError("XSendEvent failed")
        x11.XSync(dpy, False)

    def instance_name(self, window):
        """The instance half of WM_CLASS: GTK sets the program's name, GLFW the title."""
        x11, dpy = self._xlib()

        class ClassHint(ctypes.Structure):
            _fields_ = [("name", ctypes.c_void_p), ("klass", ctypes.c_void_p)]

        hint = ClassHint()
        if not x11.XGetClassHint(dpy, ctypes.c_ulong(window), ctypes.byref(hint)):
            return None
        name = ctypes.string_at(hint.name).decode(errors="replace") if hint.name else ""
        for pointer in (hint.name, hint.klass):
            if pointer:
                x11.XFree(ctypes.c_void_p(pointer))
        return name

    def override_redirect(self, window):
        """True for a window that bypasses window management (how a full-screen window
        without a window manager covers the screen)."""
        x11, dpy = self._xlib()
        attributes = (ctypes.c_char * 256)()  # XWindowAttributes is 136 bytes on LP64
        if not x11.XGetWindowAttributes(dpy, ctypes.c_ulong(window), attributes):
            raise XError("XGetWindowAttributes failed")
        # override_redirect follows the three long event masks (offsets 96, 104, 112).
        return bool(ctypes.c_int.from_buffer(attributes, 120).value)

    def screen_modes(self):
        """The (width, height) of every mode the X server's RandR offers, largest first."""
        x11, dpy = self._xlib()
        xrandr = ctypes.CDLL(ctypes.util.find_library("Xrandr") or "libXrandr.so.2")

        class ModeInfo(ctypes.Structure):
            _fields_ = [("id", ctypes.c_ulong), ("width", ctypes.c_uint),
                        ("height", ctypes.c_uint), ("dotClock", ctypes.c_ulong)] + \
                       [(n, ctypes.c_uint) for n in ("hSyncStart", "hSyncEnd", "hTotal",
                                                     "hSkew", "vSyncStart", "vSyncEnd",
                                                     "vTotal")] + \
                       [("name", ctypes.c_char_p), ("nameLength", ctypes.c_uint),
                        ("modeFlags", ctypes.c_ulong)]

        class Resources(ctypes.Structure):
            _fields_ = [("timestamp", ctypes.c_ulong), ("configTimestamp", ctypes.c_ulong),
                        ("ncrtc", ctypes.c_int), ("crtcs", ctypes.c_void_p),
                        ("noutput", ctypes.c_int), ("outputs", ctypes.c_void_p),
                        ("nmode", ctypes.c_int), ("modes", ctypes.POINTER(ModeInfo))]

        xrandr.XRRGetScreenResourcesCurrent.restype = ctypes.POINTER(Resources)
        xrandr.XRRGetScreenResourcesCurrent.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        xrandr.XRRFreeScreenResources.argtypes = [ctypes.c_void_p]
        resources = xrandr.XRRGetScreenResourcesCurrent(dpy, x11.XDefaultRootWindow(dpy))
        if not resources:
            raise XError("RandR gave no screen resources")
        r = resources.contents
        modes = {(r.modes[i].width, r.modes[i].height) for i in range(r.nmode)}
        xrandr.XRRFreeScreenResources(resources)
        return sorted(modes, key=lambda m: (-m[0] * m[1], -m[0]))

    def net_wm_state(self, window):
        """The names in the window's _NET_WM_STATE (what a window manager was asked to do)."""
        return [self._atom_name(a) for a in self._property(window, b"_NET_WM_STATE")]

    def active_window(self):
        """The window manager's _NET_ACTIVE_WINDOW, None without a window manager."""
        x11, dpy = self._xlib()
        values = self._property(x11.XDefaultRootWindow(dpy), b"_NET_ACTIVE_WINDOW")
        return values[0] if values else None

    def _property(self, window, name):
        """A 32-bit property's values (atoms, windows) as integers."""
        x11, dpy = self._xlib()
        actual_type, actual_format = ctypes.c_ulong(), ctypes.c_int()
        count, after = ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.POINTER(ctypes.c_ulong)()
        status = x11.XGetWindowProperty(
            dpy, ctypes.c_ulong(window), x11.XInternAtom(dpy, name, False), 0, 64, False, 0,
            ctypes.byref(actual_type), ctypes.byref(actual_format), ctypes.byref(count),
            ctypes.byref(after), ctypes.byref(data))
        if status != 0 or not data:
            return []
        values = [data[i] for i in range(count.value)] if actual_format.value == 32 else []
        x11.XFree(data)
        return values

    def _atom_name(self, atom):
        x11, dpy = self._xlib()
        name = x11.XGetAtomName(dpy, ctypes.c_ulong(atom))
        if not name:
            return None
        text = ctypes.string_at(name).decode()
        x11.XFree(name)
        return text

    def _xlib(self):
        if self._dpy is None:
            x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
            x11.XOpenDisplay.restype = ctypes.c_void_p
            x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
            x11.XInternAtom.restype = ctypes.c_ulong
            x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
            x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                       ctypes.c_long, ctypes.c_void_p]
            x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
            x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
            x11.XGetClassHint.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
            x11.XFree.argtypes = [ctypes.c_void_p]
            x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                                 ctypes.c_void_p]
            x11.XDefaultRootWindow.restype = ctypes.c_ulong
            x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
            x11.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                               ctypes.c_long, ctypes.c_long, ctypes.c_int,
                                               ctypes.c_ulong] + [ctypes.c_void_p] * 5
            x11.XGetAtomName.restype = ctypes.c_void_p
            x11.XGetAtomName.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            # A vanished window must give a failed call, not end the test process.
            handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
            self._error_handler = handler_type(lambda d, e: 0)
            x11.XSetErrorHandler(self._error_handler)
            dpy = x11.XOpenDisplay(self.display.encode())
            if not dpy:
                raise XError("cannot open display %s" % self.display)
            self._x11, self._dpy = x11, dpy
        return self._x11, self._dpy


def wait_until(predicate, timeout, step=0.1):
    """Calls `predicate` every `step` seconds until it gives something true or `timeout`
    seconds have passed; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def kill_group(proc, grace=3):
    """Ends a process started with start_new_session=True together with its children."""
    try:
        os.killpg(proc.pid, signal.SIGTERM)
        os.killpg(proc.pid, signal.SIGCONT)  # a frozen program must see the SIGTERM
    except ProcessLookupError:
        pass
    try:
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait(timeout=grace)
