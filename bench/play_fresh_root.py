#!/usr/bin/env python3
"""Times the play command on a fresh Debian 12 root, the way a new user meets it: a bare
debootstrap root (the install tests' cached one), this tree as committed copied in, `scripts/play.sh` run
as root with nothing installed.

Two runs in the same root:
1. no display: install, build, and the recording starts; timed to the end of the build and
   to the first progress line of the recording (its first frames are written by then);
2. a private Xvfb: the play command again (now nothing to install or build), timed to the
   setup dialog, which is then cancelled.
From a fresh root to the dialog is the first run's build time plus the second run's time to
the dialog.

Needs root, debootstrap and Xvfb. The packages apt downloads are cached under
/var/cache/lumenfall-test/apt-archives: only a first run on a machine pays for the downloads.

usage: play_fresh_root.py [--keep]"""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(TOP, "tests", "install"))
import fresh_root_test as fresh  # noqa: E402
import show_check  # noqa: E402

TREE = "/srv/lumenfall"


def copy_tree(root):
    """The tree as committed, as a clone would have it."""
    target = root.inside(TREE)
    os.makedirs(target)
    pack = subprocess.Popen(["git", "-C", TOP, "archive", "--format=tar", "HEAD"],
                            stdout=subprocess.PIPE)
    unpack = subprocess.Popen(["tar", "-xf", "-"], cwd=target, stdin=pack.stdout)
    pack.stdout.close()
    if pack.wait() != 0 or unpack.wait() != 0:
        raise fresh.Failure("copying the tree failed")


def play(root, env_extra, log_path):
    env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/root", "LANG": "C.UTF-8"}
    env.update(env_extra)
    log = open(log_path, "wb")
    proc = subprocess.Popen(["chroot", root.path, "/bin/sh", "-c",
                             "cd %s && exec scripts/play.sh" % TREE],
                            env=env, stdin=subprocess.DEVNULL, stdout=log,
                            stderr=subprocess.STDOUT, start_new_session=True)
    return proc, log


def text_of(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-8", "replace")


def wait_for(proc, predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        if proc.poll() is not None:
            return predicate()
        time.sleep(0.2)
    return False


def recording_run(root, logs):
    """From nothing to the first recorded frames, no display."""
    log_path = os.path.join(logs, "headless.txt")
    started = time.monotonic()
    proc, log = play(root, {}, log_path)
    try:
        if not wait_for(proc, lambda: "No display found" in text_of(log_path), 3600):
            raise fresh.Failure("the play command did not build:\n" + text_of(log_path)[-3000:])
        built = time.monotonic() - started
        if not wait_for(proc, lambda: "frame " in text_of(log_path).split("No display found")[-1],
                        600):
            raise fresh.Failure("no recorded frame:\n" + text_of(log_path)[-3000:])
        first_frame = time.monotonic() - started
    finally:
        show_check.kill_group(proc)
        log.close()
    return built, first_frame


def dialog_run(root, logs):
    """The play command once more, with a display: to the setup dialog."""
    with show_check.XSession(*show_check.SCREEN,
                             log_path=os.path.join(logs, "xvfb.log")) as x:
        env = x.env()
        started = time.monotonic()
        proc, log = play(root, {"DISPLAY": env["DISPLAY"], "XAUTHORITY": env.get("XAUTHORITY", "")},
                         os.path.join(logs, "dialog.txt"))
        try:
            dialogs = []
            found = wait_for(proc, lambda: dialogs.extend(x.search("^lumenfall$")) or dialogs, 600)
            if not found:
                raise fresh.Failure("no setup dialog:\n" + text_of(os.path.join(logs, "dialog.txt")))
            seconds = time.monotonic() - started
            x.keys(dialogs[0], "Escape")
            wait_for(proc, lambda: False, 5)
        finally:
            show_check.kill_group(proc)
            log.close()
    return seconds


def main():
    keep = "--keep" in sys.argv[1:]
    if os.geteuid() != 0:
        print("needs root (debootstrap, chroot)")
        return 2
    root = None
    logs = os.path.join("/var/tmp", "lumenfall-play-fresh-root-logs")
    os.makedirs(logs, exist_ok=True)
    try:
        root = fresh.FreshRoot()
        arch = subprocess.run(["dpkg", "--print-architecture"], check=True, capture_output=True,
                              text=True).stdout.strip()
        root.unpack(fresh.base_tarball(arch, False))
        copy_tree(root)
        built, first_frame = recording_run(root, logs)
        print("fresh root, no display: built in %.0f s, recording from %.0f s" %
              (built, first_frame), flush=True)
        dialog = dialog_run(root, logs)
        print("then with a display: the dialog after %.1f s; from a fresh root about %.0f s"
              % (dialog, built + dialog))
        return 0
    except (fresh.Failure, subprocess.SubprocessError, OSError, show_check.XError) as e:
        print("FAIL: %s (logs in %s)" % (e, logs))
        return 1
    finally:
        if root is not None:
            root.remove(keep)


if __name__ == "__main__":
    sys.exit(main())
