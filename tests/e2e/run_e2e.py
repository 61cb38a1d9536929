#!/usr/bin/env python3
"""End-to-end tests of lumenfall-gl and lumenfall-gles.

Each case runs the real program on a private Xvfb server, with its working directory in a
fresh folder holding the assets it needs (a demo.dat, an ./assets/ folder, or both missing a
file), drives the real GTK setup dialog with xdotool, dismisses message boxes as they come,
and checks the exit code, the windows that appeared, the box captions and the stderr lines.
With --wayland the cases that differ on a desktop run on a headless mutter instead
(wayland_session.py): the dialog and the boxes native on Wayland, the show through XWayland.

usage: run_e2e.py GL_PROGRAM GLES_PROGRAM BUILD_DIR [--packer PACK] [--only gl|gles]
                  [--trace LIBRARY] [--case NAME ...] [--keep] [--wayland]
"""

import argparse
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import XError, XSession, kill_group, wait_until  # noqa: E402
from wayland_session import (NativeWindow, ProtocolTrace, SessionUnavailable,  # noqa: E402
                             WaylandSession, without_trace)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import skipping  # noqa: E402

SCREEN = (1280, 1024)
SHORT_MUSIC_SECONDS = 3
LOAD_TIMEOUT = 60  # loading builds random sets on a software rasteriser
WINDOW_TIMEOUT = 20
BOX_CAPTIONS = r"^(ERROR|Error|Loader::Get.*)$"


class Failure(AssertionError):
    pass


class MissedLoading(Failure):
    """Loading ended before the bar could be caught part-drawn: a matter of timing, not of
    the program, so the case is tried again."""


def check(condition, message):
    if not condition:
        raise Failure(message)


class Run:
    """One start of a program: its process, the windows it showed, the boxes it raised."""

    def __init__(self, x, program, cwd, address_space=None, preload=None):
        self.x = x
        self.program = program
        self.cwd = cwd
        self.instance = os.path.basename(program)
        self.stderr_path = os.path.join(cwd, "stderr.txt")
        self.boxes = []  # captions, in the order the boxes appeared
        self.gl_windows = set()
        self._seen_boxes = set()
        # On a Wayland desktop GTK's windows are native: the program's protocol trace lists them.
        self.trace = ProtocolTrace(self.stderr_path) if getattr(x, "native", False) else None
        with open(self.stderr_path, "wb") as err, open(os.path.join(cwd, "stdout.txt"),
                                                       "wb") as out:
            limit = None
            if address_space:  # as "ulimit -v": a lying file must not take the machine
                def limit():
                    resource.setrlimit(resource.RLIMIT_AS, (address_space, address_space))
            env = x.env()
            if preload:
                env["LD_PRELOAD"] = preload
            self.proc = subprocess.Popen([program], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                         stdout=out, stderr=err, start_new_session=True,
                                         preexec_fn=limit)

    # Windows ----------------------------------------------------------------------------------

    def dialog(self):
        if self.trace:
            return self.trace.windows("^lumenfall$")
        # GTK names its windows after the program; GLFW names its window after the title.
        found = self.x.search("^lumenfall$", self.instance)
        return [w for w in found if self.x.window_name(w) == "lumenfall"]

    def gl_window(self):
        found = self.x.search("^lumenfall$", "lumenfall")
        self.gl_windows.update(found)
        return found

    def open_boxes(self):
        if self.trace:
            return [(w, w.title) for w in self.trace.windows(BOX_CAPTIONS)]
        found = self.x.search(BOX_CAPTIONS, self.instance)
        return [(w, self.x.window_name(w)) for w in found]

    def wait_dialog(self, timeout=WINDOW_TIMEOUT):
        windows = wait_until(lambda: self.dialog() or self.exited(), timeout)
        check(isinstance(windows, list) and windows,
              "the setup dialog did not appear (exit code %s)" % self.proc.poll())
        time.sleep(0.3)  # let GTK settle the focus before keys arrive
        return windows[0]

    def wait_gl_window(self, timeout=WINDOW_TIMEOUT):
        windows = wait_until(lambda: self.gl_window() or self.exited(), timeout)
        check(isinstance(windows, list) and windows,
              "no GL window appeared (exit code %s)" % self.proc.poll())
        return windows[0]

    def wait_gl_window_stopped(self, timeout=WINDOW_TIMEOUT):
        """Lets the program run in short slices until its GL window exists, and returns the
        window with the program stopped, so that nothing of its loading has been missed."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            check(not self.exited(), "no GL window appeared (exit code %s)" % self.proc.poll())
            os.kill(self.proc.pid, signal.SIGSTOP)
            windows = self.gl_window()
            if windows:
                return windows[0]
            os.kill(self.proc.pid, signal.SIGCONT)
            time.sleep(0.002)
        raise Failure("no GL window appeared within %d s" % timeout)

    def wait_box(self, timeout=LOAD_TIMEOUT):
        """Waits for the next message box; returns (window, caption) without dismissing it."""
        def fresh():
            self.gl_window()
            return [b for b in self.open_boxes() if b[0] not in self._seen_boxes] or self.exited()
        boxes = wait_until(fresh, timeout)
        check(isinstance(boxes, list) and boxes,
              "no message box appeared (exit code %s)" % self.proc.poll())
        window, caption = boxes[0]
        self._seen_boxes.add(window)
        self.boxes.append(caption)
        return window, caption

    def dismiss(self, window):
        """Presses Return in a message box until it is gone."""
        for _ in range(5):
            self.x.keys(window, "Return")
            if wait_until(lambda: window not in [w for w, _ in self.open_boxes()], 3):
                return
        raise Failure("the message box %s does not go away on Return" % (window,))

    # Process ----------------------------------------------------------------------------------

    def exited(self):
        return self.proc.poll() is not None

    def wait_exit(self, timeout, dismiss_boxes=True):
        """Waits for the exit, watching for GL windows and dismissing boxes on the way."""
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None:
            if time.monotonic() >= deadline:
                raise Failure("the program did not exit within %d s" % timeout)
            self.gl_window()
            if dismiss_boxes:
                for window, caption in self.open_boxes():
                    if window not in self._seen_boxes:
                        self._seen_boxes.add(window)
                        self.boxes.append(caption)
                        self.dismiss(window)
            time.sleep(0.2)
        return self.proc.returncode

    def freeze_while_loading(self, least=1, attempts=400):
        """Stops the program at a moment its loading bar is drawn at least `least` pixels
        long but not yet full, so that what the test does next happens during loading
        whatever the machine's speed. Returns the bar's right end in pixels; the caller
        resumes the program with thaw()."""
        width = SCREEN[0]
        for _ in range(attempts):
            check(not self.exited(), "the program ended before its loading bar was caught "
                  "(exit code %s)" % self.proc.poll())
            os.kill(self.proc.pid, signal.SIGSTOP)
            row = self.x.row(SCREEN[1] // 2)
            lit = [sum(p) > 60 for p in row]
            if lit[0] and not lit[-1] and lit.index(False) >= least:
                return lit.index(False)
            os.kill(self.proc.pid, signal.SIGCONT)
            time.sleep(0.002)
        raise MissedLoading("never caught the loading bar part-drawn")

    def thaw(self):
        os.kill(self.proc.pid, signal.SIGCONT)

    def stderr(self):
        with open(self.stderr_path, "r", errors="replace") as f:
            text = f.read()
        return without_trace(text) if self.trace else text

    def kill(self):
        if self.proc.poll() is None:
            kill_group(self.proc)


# Assets ---------------------------------------------------------------------------------------

class Assets:
    """Builds the asset sets the cases need from the built content."""

    def __init__(self, build_dir, packer, scratch):
        self.source = os.path.join(build_dir, "assets")
        self.archive = os.path.join(build_dir, "demo.dat")
        self.packer = os.path.abspath(packer) if packer else None
        self.short_music = os.path.join(scratch, "short.ogg")
        check(os.path.isdir(self.source), "no built assets in %s" % self.source)
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "sine=f=440:d=%d" % SHORT_MUSIC_SECONDS, "-ac", "2", "-ar", "44100",
                        "-c:a", "libvorbis", self.short_music],
                       check=True, stdin=subprocess.DEVNULL, timeout=60)

    def folder(self, cwd, short_music=True, missing=(), extra_sprite=False):
        """cwd/assets/: the built assets with the short music, less `missing`."""
        target = os.path.join(cwd, "assets")
        shutil.copytree(self.source, target)
        if short_music:
            shutil.copyfile(self.short_music, os.path.join(target, "music.ogg"))
        for name in missing:
            os.remove(os.path.join(target, name))
        if extra_sprite:
            return add_sprite(os.path.join(target, "overlay.ife"))
        return None

    def archive_only(self, cwd, change=None):
        """cwd/demo.dat packed from the built assets with the short music, no folder;
        `change` (a function of the staged assets folder) alters them before packing."""
        staging = os.path.join(cwd, "staging")
        self.folder(staging)
        if change:
            change(os.path.join(staging, "assets"))
        check(self.packer and os.access(self.packer, os.X_OK), "no packer to build demo.dat")
        subprocess.run([self.packer, os.path.join(staging, "assets"),
                        os.path.join(cwd, "demo.dat")],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       timeout=120)
        shutil.rmtree(staging)


def add_sprite(path):
    """Appends one sprite to an .ife file, reusing its first sprite's image so the texture
    cache holds it already. Returns the loading steps the sprite adds (a cached image still
    takes five: the asset's two, the decode's and the texture's)."""
    with open(path, "rb") as f:
        data = f.read()
    newline = b"\r\n" if b"\r\n" in data else b"\r"
    lines = data.split(newline)
    if lines and lines[-1] == b"":
        lines.pop()
    data_lines = [i for i, line in enumerate(lines) if not line.startswith(b"#")]
    check(len(data_lines) >= 3, "%s has no sprite to copy" % path)
    count_at = data_lines[0]
    count = int(re.match(rb"\s*(-?\d+)", lines[count_at]).group(1))
    check(count > 0, "%s has no sprite to copy" % path)
    image = lines[data_lines[2]]
    lines[count_at] = str(count + 1).encode()
    lines += [image, b"added by the end-to-end test", b"", b"2", b"1",
              b"0 640 360 0 0 64 64 255 255 255 255",
              b"100000 640 360 0 0 64 64 255 255 255 255"]
    with open(path, "wb") as f:
        f.write(newline.join(lines) + newline)
    return 5


# Cases ----------------------------------------------------------------------------------------

class Context:
    def __init__(self, x, program, assets, artifacts, cwd, trace=None):
        self.x = x
        self.trace = trace
        self.program = program
        self.flavour = "gles" if program.endswith("gles") else "gl"
        self.assets = assets
        self.artifacts = artifacts
        self.cwd = cwd
        self.run = None

    def start(self, address_space=None, traced=False):
        self.run = Run(self.x, self.program, self.cwd, address_space,
                       self.trace if traced else None)
        return self.run

    def expect_shutdown_traced(self):
        """The window was destroyed, then GLFW terminated (which restores a changed screen
        mode), before the process ended."""
        if not self.trace:
            check(not os.environ.get("CI"), "no --trace library to check the shutdown with")
            print("     skipped: no --trace library, the shutdown calls are not checked")
            return
        calls = [l for l in self.run.stderr().splitlines() if l.startswith("trace: ")]
        check(calls == ["trace: glfwDestroyWindow", "trace: glfwTerminate"],
              "shutdown calls %s, expected the window destroyed, then GLFW terminated" % calls)


def box_lines(text):
    """The stderr lines message boxes print ("caption: text"), other chatter left out."""
    return [l for l in text.splitlines() if re.match(r"^(ERROR|Error|Loader::Get[^:]*): ", l)]


def expect_clean_exit(run, code, timeout):
    rc = run.wait_exit(timeout)
    check(rc == code, "exit code %s, expected %s; stderr:\n%s" % (rc, code, run.stderr()))


def case_enter_plays_archive_to_end(c):
    """Enter at once: full screen in the first mode; demo.dat is read; a set made to match
    takes exactly 342 steps (no box); a short music plays to its end and the program exits."""
    c.assets.archive_only(c.cwd)
    run = c.start()
    dialog = run.wait_dialog()
    c.x.screenshot(os.path.join(c.artifacts, "dialog-%s.png" % c.flavour))
    c.x.keys(dialog, "Return")
    window = run.wait_gl_window()
    opened = time.monotonic()
    geometry = c.x.geometry(window)
    check(geometry == (0, 0) + SCREEN, "full-screen window at %s, expected %s" %
          (geometry, (0, 0) + SCREEN))
    # Xvfb offers one mode, the screen's size, so the windowed window has this geometry too;
    # what tells full screen apart without a window manager is bypassing window management.
    check(c.x.override_redirect(window), "the full-screen window is managed like a window")
    expect_clean_exit(run, 0, LOAD_TIMEOUT + SHORT_MUSIC_SECONDS + 15)
    shown = time.monotonic() - opened
    check(shown >= SHORT_MUSIC_SECONDS - 0.5,
          "the show ended %.1f s after the window opened, before its music could" % shown)
    check(run.boxes == [], "unexpected message boxes %s; stderr:\n%s" % (run.boxes, run.stderr()))
    check(box_lines(run.stderr()) == [], "unexpected messages:\n" + run.stderr())


def case_windowed_is_centred_close_box_while_loading(c):
    """Unchecking "fullscreen" (Tab to the list, Tab to the box, Space) and Enter on the box
    give a window of the mode's size, centred; the close box during loading exits 0 (the
    full-length music: an exit can only come from the close box)."""
    c.assets.folder(c.cwd, short_music=False)
    run = c.start(traced=True)
    dialog = run.wait_dialog()
    c.x.keys(dialog, "Tab", "Tab", "space", "Return")
    window = run.wait_gl_window_stopped()
    run.freeze_while_loading(least=SCREEN[0] // 4)
    c.x.screenshot(os.path.join(c.artifacts, "loading-%s.png" % c.flavour))
    x, y, width, height = c.x.geometry(window)
    check((width, height) == SCREEN, "window size %dx%d, expected the mode's %dx%d" %
          ((width, height) + SCREEN))
    check((x, y) == (SCREEN[0] // 2 - width // 2, SCREEN[1] // 2 - height // 2),
          "window at %d,%d is not centred" % (x, y))
    check(not c.x.override_redirect(window), "the windowed window bypasses the window manager")
    c.x.press_close_box(window)
    run.thaw()
    expect_clean_exit(run, 0, 15)
    check(run.boxes == [], "unexpected message boxes %s" % run.boxes)
    c.expect_shutdown_traced()


def case_enter_from_mode_list_escape_while_loading(c):
    """Enter while the mode list has the focus starts (full screen); Escape during loading
    exits 0 at once (the full-length music, as above)."""
    c.assets.folder(c.cwd, short_music=False)
    run = c.start(traced=True)
    dialog = run.wait_dialog()
    c.x.keys(dialog, "Tab", "Return")
    window = run.wait_gl_window_stopped()
    check(c.x.geometry(window) == (0, 0) + SCREEN, "not a full-screen window")
    run.freeze_while_loading()
    c.x.keys_under_pointer(window, "Escape")
    run.thaw()
    expect_clean_exit(run, 0, 15)
    check(run.boxes == [], "unexpected message boxes %s" % run.boxes)
    c.expect_shutdown_traced()


def expect_cancelled(c, how):
    c.assets.folder(c.cwd)
    run = c.start()
    dialog = run.wait_dialog()
    if how == "cancel":
        c.x.keys(dialog, "shift+Tab", "Return")  # from "start" back to "cancel"
    elif how == "escape":
        c.x.keys(dialog, "Escape")
    else:
        c.x.press_close_box(dialog)
    expect_clean_exit(run, 0, 10)
    check(not run.gl_windows, "a GL window appeared after %s" % how)
    check(run.boxes == [] and box_lines(run.stderr()) == [],
          "messages after %s: %s %s" % (how, run.boxes, run.stderr()))


def case_cancel_button(c):
    """"cancel" exits 0 without a GL window or a message."""
    expect_cancelled(c, "cancel")


def case_dialog_escape(c):
    """Escape in the dialog exits 0 without a GL window."""
    expect_cancelled(c, "escape")


def case_dialog_close_box(c):
    """The dialog's close box exits 0 without a GL window."""
    expect_cancelled(c, "close box")


def case_extra_sprite_counts_then_escape_in_playback(c):
    """One sprite more than the matching set: "progress position = 347" in a box captioned
    "Error", then the show plays (from ./assets/, no demo.dat); Escape ends it with 0.
    Windowed: a full-screen window that loses the focus to the box would be iconified, which
    GLFW cannot do without a window manager (it reports an error instead)."""
    added = c.assets.folder(c.cwd, short_music=False, extra_sprite=True)
    expected = "progress position = %d" % (342 + added)
    run = c.start()
    run.x.keys(run.wait_dialog(), "Tab", "Tab", "space", "Return")
    run.wait_gl_window()
    window, caption = run.wait_box()
    check(caption == "Error", "box captioned %r, expected 'Error'" % caption)
    check("Error: %s\n" % expected in run.stderr(),
          "stderr lacks %r:\n%s" % (expected, run.stderr()))
    run.dismiss(window)
    time.sleep(2.0)
    check(not run.exited(), "the show did not go on after the count box (exit code %s)" %
          run.proc.poll())
    gl = run.gl_window()
    check(gl, "the GL window is gone during playback")
    run.x.keys_under_pointer(gl[0], "Escape")
    expect_clean_exit(run, 0, 10)
    check(run.boxes == ["Error"], "boxes %s, expected only the count" % run.boxes)


def expect_load_failure(c, name):
    c.assets.folder(c.cwd, missing=[name])
    expect_failure_message(c, "Load error : " + name)


def expect_failure_message(c, message, address_space=None):
    """Start: the one message, then the joined list; exit 1."""
    run = c.start(address_space)
    run.x.keys(run.wait_dialog(), "Return")
    expect_clean_exit(run, 1, LOAD_TIMEOUT)
    err = run.stderr()
    check(run.boxes == ["ERROR", "Error"],
          "boxes %s, expected ERROR then Error; stderr:\n%s" % (run.boxes, err))
    check("ERROR: %s\n" % message in err, "stderr lacks the ERROR line:\n" + err)
    # The joined list is "- " + message + "\n"; the box's stderr line adds its own newline.
    check(err.endswith("Error: - %s\n\n" % message),
          "stderr lacks the joined list as the last box:\n" + err)
    check(box_lines(err) == ["ERROR: " + message, "Error: - " + message],
          "other messages besides the load error:\n" + err)


def case_missing_progress_bar_shader(c):
    """No "progressBar.glsl": its load error, then the joined list; exit 1."""
    expect_load_failure(c, "progressBar.glsl")


def case_missing_music(c):
    """No "music.ogg": "Load error : music.ogg", then "- Load error : music.ogg\\n" in a box
    captioned "Error"; exit 1."""
    expect_load_failure(c, "music.ogg")


def case_missing_overlay_fails_the_build(c):
    """No "racs.ife": the show's build fails after its own message; the joined list is shown
    and the program exits 1."""
    expect_load_failure(c, "racs.ife")


def write_lying_animation(assets):
    """racs.ife with one sprite announcing 50 million keys over 50 MB of empty lines (each
    a legal, empty key): 2.2 GB of keys from a file the archive packs into 50 kB."""
    with open(os.path.join(assets, "racs.ife"), "wb") as f:
        f.write(b"1\r\n0\r\nenvflare3.tga\r\n\r\n\r\n50000000\r\n2\r\n")
        f.write(b"\r" * 50000000)


LYING_LIMIT = 3 << 30  # bytes of address space


def case_lying_animation_in_the_folder_ends_with_a_message(c):
    """Under a 3 GB address-space limit, the lying racs.ife in ./assets/ ends with
    "Ife count error : racs.ife" and exit 1, never a signal."""
    c.assets.folder(c.cwd)
    write_lying_animation(os.path.join(c.cwd, "assets"))
    expect_failure_message(c, "Ife count error : racs.ife", LYING_LIMIT)


def case_lying_animation_in_the_archive_ends_with_a_message(c):
    """The same animation packed into demo.dat, read from the archive."""
    c.assets.archive_only(c.cwd, change=write_lying_animation)
    expect_failure_message(c, "Ife count error : racs.ife", LYING_LIMIT)


def write_endless_events(assets):
    """music.msd of 16 MB: two million events for every frame to scan, from a 16 kB entry."""
    with open(os.path.join(assets, "music.msd"), "wb") as f:
        f.write(bytes(16 << 20))


def case_too_many_sync_events_in_the_archive_end_with_a_message(c):
    """More than a million sync events: "Sync event count error : music.msd", exit 1."""
    c.assets.archive_only(c.cwd, change=write_endless_events)
    expect_failure_message(c, "Sync event count error : music.msd", LYING_LIMIT)


# On a Wayland desktop ---------------------------------------------------------------------------
# The dialog and the boxes are native Wayland windows, the show an XWayland window under a window
# manager: full screen is asked of the window manager (_NET_WM_STATE_FULLSCREEN) rather than taken
# by bypassing it, and XWayland offers the usual smaller modes besides the monitor's own, emulated
# for the program that picks one.

def letterbox(width, height):
    """The 16:9 box the show draws in, centred, as (x, y, width, height)."""
    box_width, box_height = min(width, height // 9 * 16), min(height, width // 16 * 9)
    return (width - box_width) // 2, (height - box_height) // 2, box_width, box_height


def lit_rows(width, height, data):
    return [y for y in range(height) if bright(data[y * width * 3:(y + 1) * width * 3])]


def bar_values(width, height, data, box):
    """How many colour values outside the box are lit. The row and the column touching the
    box are left out (the sprites' rows reach one row below the box, on Xvfb alike), and so
    are the window's two top rows, where XWayland's pictures of the loading screen now and
    then carry a few stray values."""
    x0, y0, box_width, box_height = box
    lit = 0
    for y in range(2, height):
        row = data[y * width * 3:(y + 1) * width * 3]
        if y < y0 - 1 or y > y0 + box_height:
            lit += bright(row)
        elif x0 > 1:
            lit += bright(row[:(x0 - 1) * 3]) + bright(row[(x0 + box_width + 1) * 3:])
    return lit


def bright(values):
    """How many colour values are above the darkest few (what the eye would call black)."""
    return len(values.translate(None, bytes(range(9))))


def expect_black_bars(c, window, size, pictures, every=0.3):
    """Once the show is past its loading screen (something lit outside the loading bar's
    rows), `pictures` pictures of the window: the mode's size, black bars outside the 16:9
    box."""
    box = letterbox(*size)
    loading_rows = None
    deadline = time.monotonic() + LOAD_TIMEOUT
    taken = 0
    while taken < pictures:
        check(not c.run.exited(), "the show ended after %d pictures of it" % taken)
        check(time.monotonic() < deadline, "the show did not start within %d s" % LOAD_TIMEOUT)
        width, height, data = c.x.window_picture(window)
        check((width, height) == size, "window of %dx%d, expected the mode's %dx%d" %
              ((width, height) + size))
        rows = set(lit_rows(width, height, data))
        if loading_rows is None or rows <= loading_rows:
            loading_rows = loading_rows or rows or None
            time.sleep(every)
            continue
        lit = bar_values(width, height, data, box)
        if lit:
            c.x.screenshot(os.path.join(c.artifacts, "bars-%s.png" % c.flavour), window)
        check(lit == 0, "%d lit colour values outside the %dx%d picture at %d,%d" %
              ((lit,) + box[2:] + box[:2]))
        taken += 1
        time.sleep(every)


def expect_native_dialog(c, run):
    """The dialog opened natively on Wayland (not on XWayland) and the compositor gave it the
    keyboard."""
    dialog = run.wait_dialog()
    check(isinstance(dialog, NativeWindow), "the dialog is not a Wayland window")
    check(not c.x.search("^lumenfall$"), "the dialog opened on XWayland")
    check(wait_until(dialog.focused, 5), "the dialog did not get the keyboard focus")
    return dialog


def wait_show_window(c, run, sizes):
    """The GL window in full screen at one of `sizes`, at the screen's corner, with the
    keyboard. Returns the window and its size."""
    window = run.wait_gl_window()
    check(wait_until(lambda: "_NET_WM_STATE_FULLSCREEN" in c.x.net_wm_state(window), 10),
          "the window manager was not asked for full screen: %s" % c.x.net_wm_state(window))
    geometry = wait_until(lambda: c.x.geometry(window) in [(0, 0) + s for s in sizes], 10)
    check(geometry, "full-screen window at %s, expected one of %s" % (c.x.geometry(window),
                                                                       sizes))
    check(wait_until(lambda: c.x.active_window() == window, 5),
          "the full-screen window did not get the keyboard focus")
    return window, c.x.geometry(window)[2:]


def case_wayland_enter_full_screen_letterboxed_then_escape(c):
    """Enter in the native dialog: full screen in the monitor's own mode (the first line),
    black bars above and below the 16:9 picture; Escape during the show exits 0."""
    c.assets.folder(c.cwd, short_music=False)
    run = c.start()
    dialog = expect_native_dialog(c, run)
    c.x.keys(dialog, "Return")
    window, _ = wait_show_window(c, run, [SCREEN])
    expect_black_bars(c, window, SCREEN, pictures=3)
    c.x.keys(window, "Escape")
    expect_clean_exit(run, 0, 15)
    check(run.boxes == [] and box_lines(run.stderr()) == [],
          "unexpected messages %s:\n%s" % (run.boxes, run.stderr()))


def case_wayland_smallest_mode_full_screen_plays_to_end(c):
    """The last line of the list is XWayland's smallest mode, which XWayland fakes for the
    program. A compositor that honours that gives the full-screen window the mode's size
    (and scales it up); mutter 43 gives it the monitor's size, and the picture takes the
    mode's size in its lower left corner (the README's Wayland section). Either way the
    short music plays to its end from demo.dat and the program exits 0."""
    modes = c.x.screen_modes()
    check(len(modes) > 1, "XWayland offers one mode only: %s" % modes)
    c.assets.archive_only(c.cwd)
    run = c.start()
    c.x.keys(expect_native_dialog(c, run), "Tab", "End", "Return")
    _, size = wait_show_window(c, run, [modes[-1], SCREEN])
    opened = time.monotonic()
    if size != modes[-1]:
        print("     the window manager made the %dx%d window monitor-sized" % modes[-1])
    expect_clean_exit(run, 0, LOAD_TIMEOUT + SHORT_MUSIC_SECONDS + 15)
    shown = time.monotonic() - opened
    check(shown >= SHORT_MUSIC_SECONDS - 0.5,
          "the show ended %.1f s after the window opened, before its music could" % shown)
    check(run.boxes == [] and box_lines(run.stderr()) == [],
          "unexpected messages %s:\n%s" % (run.boxes, run.stderr()))


def case_wayland_windowed_then_escape(c):
    """The sixth line without "fullscreen": a managed window of that mode's size, placed by
    the window manager; Escape exits 0."""
    modes = c.x.screen_modes()
    check(len(modes) > 5, "XWayland offers fewer than six modes: %s" % modes)
    c.assets.folder(c.cwd, short_music=False)
    run = c.start()
    dialog = expect_native_dialog(c, run)
    c.x.keys(dialog, "Tab", "Down", "Down", "Down", "Down", "Down", "Tab", "space", "Return")
    window = run.wait_gl_window()
    check(wait_until(lambda: c.x.active_window() == window, 10),
          "the window did not get the keyboard focus")
    x, y, width, height = c.x.geometry(window)
    check((width, height) == modes[5], "window size %dx%d, expected the mode's %dx%d" %
          ((width, height) + modes[5]))
    # The program centres the window; the window manager puts its frame there (the frame's
    # corner is the reference point), so the picture sits a border and a title bar lower.
    cx, cy = SCREEN[0] // 2 - width // 2, SCREEN[1] // 2 - height // 2
    check(cx <= x <= cx + 16 and cy <= y <= cy + 64,
          "window at %d,%d, expected its frame's corner at %d,%d (centred)" % (x, y, cx, cy))
    check("_NET_WM_STATE_FULLSCREEN" not in c.x.net_wm_state(window), "the window is full screen")
    c.x.keys(window, "Escape")
    expect_clean_exit(run, 0, LOAD_TIMEOUT + 15)
    check(run.boxes == [], "unexpected message boxes %s" % run.boxes)


WAYLAND_CASES = [
    case_wayland_enter_full_screen_letterboxed_then_escape,
    case_wayland_smallest_mode_full_screen_plays_to_end,
    case_wayland_windowed_then_escape,
    case_dialog_escape,
    case_missing_music,
]

CASES = [
    case_enter_plays_archive_to_end,
    case_windowed_is_centred_close_box_while_loading,
    case_enter_from_mode_list_escape_while_loading,
    case_cancel_button,
    case_dialog_escape,
    case_dialog_close_box,
    case_extra_sprite_counts_then_escape_in_playback,
    case_missing_progress_bar_shader,
    case_missing_music,
    case_missing_overlay_fails_the_build,
    case_lying_animation_in_the_folder_ends_with_a_message,
    case_lying_animation_in_the_archive_ends_with_a_message,
    case_too_many_sync_events_in_the_archive_end_with_a_message,
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("gl")
    parser.add_argument("gles")
    parser.add_argument("build_dir")
    parser.add_argument("--packer")
    parser.add_argument("--only", choices=["gl", "gles"])
    parser.add_argument("--trace", default=os.environ.get("LUMENFALL_E2E_TRACE"),
                        help="library preloaded to report the GLFW shutdown calls "
                             "(default: $LUMENFALL_E2E_TRACE)")
    parser.add_argument("--case", action="append", help="run only cases containing this")
    parser.add_argument("--keep", action="store_true", help="keep the case folders")
    parser.add_argument("--wayland", action="store_true",
                        help="run the Wayland desktop's cases on a headless mutter")
    args = parser.parse_args()
    if args.wayland:
        skipping.require_programs("mutter", "Xwayland", "dbus-daemon", "xdotool", "ffmpeg")
    else:
        skipping.require_programs("Xvfb", "xdotool", "ffmpeg")

    programs = [os.path.abspath(p) for p, f in ((args.gl, "gl"), (args.gles, "gles"))
                if args.only in (None, f)]
    trace = os.path.abspath(args.trace) if args.trace else None
    cases = [c for c in (WAYLAND_CASES if args.wayland else CASES)
             if not args.case or any(s in c.__name__ for s in args.case)]
    artifacts = os.path.join(args.build_dir, "artifacts")
    os.makedirs(artifacts, exist_ok=True)
    for program in programs:  # screens of earlier failures would mislead
        prefix = "failed-%s-" % os.path.basename(program)
        for name in os.listdir(artifacts):
            if name.startswith(prefix):
                os.remove(os.path.join(artifacts, name))
    scratch = tempfile.mkdtemp(prefix="lumenfall-e2e-")
    failures = []
    try:
        try:
            assets = Assets(args.build_dir, args.packer, scratch)
        except (Failure, subprocess.SubprocessError, OSError) as e:
            print("FAIL cannot prepare the assets: %s" % e)
            return 1
        session = WaylandSession if args.wayland else XSession
        log = os.path.join(scratch, "mutter.log" if args.wayland else "xvfb.log")
        try:
            x = session(*SCREEN, log_path=log)
            x.start()
        except SessionUnavailable as e:
            skipping.skip(str(e))
        except XError as e:
            print("FAIL the desktop did not start: %s" % e)
            return 1
        with x:
            for program in programs:
                for case in cases:
                    name = "%s %s" % (os.path.basename(program), case.__name__[5:])
                    cwd = tempfile.mkdtemp(prefix=case.__name__[5:] + "-", dir=scratch)
                    c = Context(x, program, assets, artifacts, cwd, trace)
                    started = time.monotonic()
                    try:
                        for attempt in range(1, 4):
                            try:
                                case(c)
                                break
                            except MissedLoading:
                                if attempt == 3:
                                    raise
                                print("RETRY %s: loading ended before it was caught" % name,
                                      flush=True)
                                if c.run:
                                    c.run.kill()
                                shutil.rmtree(cwd, ignore_errors=True)
                                cwd = tempfile.mkdtemp(prefix=case.__name__[5:] + "-", dir=scratch)
                                c = Context(x, program, assets, artifacts, cwd, trace)
                        print("PASS %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
                    except (Failure, XError, subprocess.SubprocessError, OSError) as e:
                        failures.append(name)
                        print("FAIL %s (%.1f s): %s" % (name, time.monotonic() - started, e),
                              flush=True)
                        if not isinstance(e, Failure):
                            traceback.print_exc()
                        if c.run:
                            shot = os.path.join(artifacts, "failed-%s.png" % name.replace(" ", "-"))
                            try:
                                # XWayland has no root picture: take the show's window.
                                shown = c.run.gl_window() if args.wayland else [None]
                                if shown:
                                    x.screenshot(shot, shown[0])
                                    print("     screen: %s" % shot)
                            except (subprocess.SubprocessError, OSError, XError):
                                pass
                    finally:
                        if c.run:
                            c.run.kill()
                        if not args.keep:
                            shutil.rmtree(cwd, ignore_errors=True)
    finally:
        if not args.keep:
            shutil.rmtree(scratch, ignore_errors=True)
    print("%d of %d cases passed" % (len(programs) * len(cases) - len(failures),
                                     len(programs) * len(cases)))
    for name in failures:
        print("  failed: " + name)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
