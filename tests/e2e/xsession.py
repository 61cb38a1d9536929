"""A private X server for the end-to-end tests and the few things they do on it.

Xvfb picks a free display number itself (-displayfd) and is killed with its whole process
group when the session ends, or ends by itself when this process's connection goes. Windows are found, keyed and measured with xdotool; the close
box is pressed the way a window manager does it, with a WM_DELETE_WINDOW client message
(there is no window manager on the server to draw one).
"""

import ctypes
import ctypes.util
import os
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

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env(),
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=30, check=True)

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
            # A vanished window must give a failed call, not end the test process.
            handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
            self._error_handler = handler_type(lambda d, e: 0)
            x11.XSetErrorHandler(self._error_handler)
            dpy = x11.XOpenDisplay(self.display.encode())
            if not dpy:
                raise XError("cannot open display %s" % self.display)
            self._x11, self._dpy = x11, dpy
        return self._x11, self._dpy


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
