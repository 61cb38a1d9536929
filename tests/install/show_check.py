"""Starts the installed launcher on a private Xvfb the way a person would, and checks it:
the setup dialog, Return, the show's window, Escape, exit status 0, no message box.

Shared by the staging-prefix test and the fresh-root test (which starts it in a chroot)."""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from xsession import XError, XSession, kill_group, wait_until  # noqa: E402,F401

SCREEN = (1024, 768)
LOAD_TIMEOUT = 120  # a fresh root, a busy machine, llvmpipe
SKIPPED = 77  # CTest's SKIP_RETURN_CODE for these tests
BOX_CAPTIONS = r"^(ERROR|Error|Loader::Get.*)$"


def run_show(x, command, cwd, player, log_dir):
    """Runs `command` (the launcher, possibly wrapped) in `cwd`; `player` is the program the
    launcher must start ("lumenfall-gles" or "lumenfall-gl"). Returns a list of problems."""
    env = x.env()
    env.pop("XDG_RUNTIME_DIR", None)
    err_path = os.path.join(log_dir, "%s-stderr.txt" % player)
    with open(err_path, "wb") as err:
        proc = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=err, stderr=err, start_new_session=True)
    problems = []
    boxes = set()

    def stderr():
        with open(err_path, "r", errors="replace") as f:
            return f.read()

    def windows(title, instance):
        return [w for w in x.search(title, instance) if x.window_name(w) == "lumenfall"]

    def note_boxes():
        for w in x.search(BOX_CAPTIONS, player):
            boxes.add(x.window_name(w))

    try:
        dialog = wait_until(lambda: windows("^lumenfall$", player) or proc.poll() is not None,
                            30)
        if not isinstance(dialog, list):
            return ["no setup dialog of %s appeared (exit %s): %s" %
                    (player, proc.poll(), stderr())]
        time.sleep(0.3)
        x.keys(dialog[0], "Return")
        gl = wait_until(lambda: windows("^lumenfall$", "lumenfall") or proc.poll() is not None,
                        30)
        if not isinstance(gl, list):
            return ["no show window appeared (exit %s): %s" % (proc.poll(), stderr())]
        # Let it load for a while, as a person would watch, then end it.
        wait_until(lambda: note_boxes() or proc.poll() is not None, 3)
        note_boxes()
        if proc.poll() is not None:
            return ["the show ended by itself (exit %s): %s" % (proc.poll(), stderr())]
        x.keys_under_pointer(gl[0], "Escape")
        try:
            code = proc.wait(timeout=LOAD_TIMEOUT)
        except subprocess.TimeoutExpired:
            return ["the show did not end on Escape"]
        if code != 0:
            problems.append("exit status %d, expected 0: %s" % (code, stderr()))
        if boxes:
            problems.append("message boxes appeared: %s" % sorted(boxes))
        lines = [l for l in stderr().splitlines() if re.match(r"^(ERROR|Error|Loader::Get)", l)]
        if lines:
            problems.append("message lines on stderr: %s" % lines)
        return problems
    finally:
        if proc.poll() is None:
            kill_group(proc)


def skip_or_fail(reason):
    """A test that cannot run here says so; under CI that is a failure."""
    if os.environ.get("CI"):
        print("FAIL (CI): " + reason)
        sys.exit(1)
    print("SKIP: " + reason)
    sys.exit(SKIPPED)
