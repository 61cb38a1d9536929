#!/usr/bin/env python3
"""Installs the Debian package into a fresh minimal Debian 12 root, the way a user would
(`apt-get install ./lumenfall_*.deb`, so apt resolves what it needs), then records a picture
with lumenfall-capture and plays the show through the launcher under Xvfb from an unrelated
folder, removes the package and checks that nothing of it is left.

A machine with every development package installed cannot catch a missing dependency; a
fresh root can. The bare root (debootstrap --variant=minbase) is cached as a tarball under
/var/cache/lumenfall-test (one a day), and so are the packages apt downloads, so only the
first run of a day takes long.

A package for another architecture (an arm64 one from the cross build) goes into a root of
its own architecture, made with debootstrap --foreign and finished under qemu-user-static;
everything inside then runs under emulation (binfmt_misc). There the recorded picture is the
check; the show's dialog and window are the native root's to test: driving them needs a
display session whose timings an emulated desktop toolkit cannot keep.

usage: fresh_root_test.py DEB [--keep]"""

import datetime
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import show_check  # noqa: E402

SUITE = "bookworm"
MIRROR = "http://deb.debian.org/debian"
CACHE = os.environ.get("LUMENFALL_TEST_CACHE", "/var/cache/lumenfall-test")
USER_FOLDER = "/srv/someone"  # where the user stands: unrelated to the installation


class Failure(Exception):
    pass


def log(text):
    print(text, flush=True)


def sh(command, timeout=900, check=True, **kw):
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=timeout, **kw)
    if check and done.returncode != 0:
        raise Failure("%s failed (%d):\n%s%s" % (" ".join(command), done.returncode,
                                                 done.stdout[-4000:], done.stderr[-4000:]))
    return done


def base_tarball(arch, foreign):
    """Today's bare root for arch, made with debootstrap when there is none yet."""
    os.makedirs(CACHE, exist_ok=True)
    today = datetime.date.today().strftime("%Y%m%d")
    kind = "%s-%s-minbase" % (SUITE, arch) if foreign else "%s-minbase" % SUITE
    tarball = os.path.join(CACHE, "%s-%s.tar.gz" % (kind, today))
    if os.path.isfile(tarball):
        return tarball
    log("making a bare %s %s root with debootstrap (only the first run of the day)"
        % (SUITE, arch))
    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="lumenfall-debootstrap-", dir="/var/tmp")
    try:
        debs = os.path.join(CACHE, "debootstrap-debs")
        os.makedirs(debs, exist_ok=True)
        root = os.path.join(work, "root")
        if foreign:
            # Unpacked here, configured inside under emulation.
            sh(["debootstrap", "--foreign", "--arch=" + arch, "--variant=minbase",
                "--cache-dir=" + debs, SUITE, root, MIRROR], timeout=1800)
            sh(["chroot", root, "/debootstrap/debootstrap", "--second-stage"], timeout=1800)
        else:
            sh(["debootstrap", "--variant=minbase", "--cache-dir=" + debs, SUITE, root, MIRROR],
               timeout=1800)
        part = "%s.%d.part" % (tarball, os.getpid())
        sh(["tar", "--numeric-owner", "-C", root, "-czf", part, "."])
        os.rename(part, tarball)
    finally:
        unmount_below(os.path.join(work, "root"))
        shutil.rmtree(work, ignore_errors=True)
    for old in glob.glob(os.path.join(CACHE, "%s-*.tar.gz" % kind)):
        if old != tarball:
            os.remove(old)
    log("bare root made in %.0f s" % (time.monotonic() - started))
    return tarball


# Debian architecture -> qemu's name for the processor
QEMU_NAMES = {"arm64": "aarch64", "armhf": "arm", "amd64": "x86_64", "i386": "i386",
              "riscv64": "riscv64", "ppc64el": "ppc64le", "s390x": "s390x"}


def emulated(arch):
    """Whether programs of arch run here through qemu and binfmt_misc. Debian registers qemu
    with the F flag, so its interpreter works inside a chroot as well."""
    entry = "/proc/sys/fs/binfmt_misc/qemu-%s" % QEMU_NAMES.get(arch, arch)
    try:
        with open(entry) as f:
            return f.readline().strip() == "enabled"
    except OSError:
        return False


def mounts_below(root):
    below = []
    with open("/proc/self/mounts") as f:
        for line in f:
            point = line.split()[1].replace("\\040", " ")
            if point == root or point.startswith(root + "/"):
                below.append(point)
    return below


def unmount_below(root):
    """Unmounts everything mounted inside root, deepest first. True when none is left."""
    root = os.path.realpath(root)
    for point in sorted(mounts_below(root), key=len, reverse=True):
        if subprocess.run(["umount", point], capture_output=True).returncode != 0:
            subprocess.run(["umount", "-l", point], capture_output=True)
    return not mounts_below(root)


class FreshRoot:
    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="lumenfall-fresh-root-", dir="/var/tmp")

    def unpack(self, tarball):
        sh(["tar", "--numeric-owner", "-C", self.path, "-xzf", tarball])
        shutil.copyfile("/etc/resolv.conf", self.inside("/etc/resolv.conf"))
        # Faster unpacking; what is installed stays the same.
        with open(self.inside("/etc/dpkg/dpkg.cfg.d/unsafe-io"), "w") as f:
            f.write("force-unsafe-io\n")
        archives = os.path.join(CACHE, "apt-archives")
        os.makedirs(os.path.join(archives, "partial"), exist_ok=True)
        self.mount(["-t", "proc", "proc"], "/proc")
        self.mount(["-t", "sysfs", "sysfs"], "/sys")
        self.mount(["--bind", "/dev"], "/dev")
        self.mount(["--bind", archives], "/var/cache/apt/archives")

    def inside(self, path):
        return os.path.join(self.path, path.lstrip("/"))

    def mount(self, how, point):
        sh(["mount"] + how + [self.inside(point)])

    def run(self, script, timeout=900, check=True):
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/root", "LANG": "C.UTF-8",
               "DEBIAN_FRONTEND": "noninteractive"}
        return sh(["chroot", self.path, "/bin/sh", "-ec", script], timeout=timeout, check=check,
                  env=env)

    def remove(self, keep=False):
        if not unmount_below(self.path):
            log("WARNING: %s still has mounts; left in place" % self.path)
            return
        if keep:
            log("root kept in %s" % self.path)
        else:
            shutil.rmtree(self.path, ignore_errors=True)


def check(condition, message):
    if not condition:
        raise Failure(message)


def leftovers(root, before):
    """Paths in the root that did not exist before the install and hold the name."""
    found = []
    for top, dirs, files in os.walk(root.path):
        dirs[:] = [d for d in dirs if os.path.join(top, d) not in
                   (root.inside("/proc"), root.inside("/sys"), root.inside("/dev"))]
        for name in dirs + files:
            path = os.path.join(top, name)
            relative = "/" + os.path.relpath(path, root.path)
            if "lumenfall" in name.lower() and relative not in before:
                found.append(relative)
    return found


def test(deb, root, foreign):
    started = time.monotonic()
    name = os.path.basename(deb)
    shutil.copyfile(deb, root.inside("/tmp/" + name))
    before = set(leftovers(root, set()))  # anything so named already there is not ours

    root.run("apt-get -q update", timeout=600)
    log("installing %s and what it needs" % name)
    root.run("apt-get -q install -y --no-install-recommends /tmp/%s" % name, timeout=1200)
    installed = root.run("dpkg-query -L lumenfall").stdout.split()
    log("installed in %.0f s" % (time.monotonic() - started))

    # A picture, from a folder of the user's own, with no display.
    root.run("mkdir -p %s && cd %s && lumenfall-capture --version && "
             "lumenfall-capture --size 160x90 --at 61089" % (USER_FOLDER, USER_FOLDER),
             timeout=600)
    picture = root.inside(USER_FOLDER + "/at_061089.png")
    check(os.path.isfile(picture), "lumenfall-capture wrote no at_061089.png")
    log("lumenfall-capture --at: %d bytes" % os.path.getsize(picture))

    # The show, as a person starts it.
    logs = tempfile.mkdtemp(prefix="lumenfall-fresh-root-logs-")
    try:
        if foreign:
            log("the show itself: left to the native root (dialog and window under emulation)")
        else:
            with show_check.XSession(*show_check.SCREEN,
                                     log_path=os.path.join(logs, "xvfb.log")) as x:
                for option, player in (("", "lumenfall-gles"), ("--gl", "lumenfall-gl")):
                    command = ["chroot", root.path, "/bin/sh", "-c",
                               "cd %s && HOME=/root exec lumenfall %s" % (USER_FOLDER, option)]
                    problems = show_check.run_show(x, command, None, player, logs)
                    check(problems == [], "lumenfall %s: %s" % (option, problems))
                    log("lumenfall %s: dialog, window, Escape, exit 0" % option)
    finally:
        shutil.rmtree(logs, ignore_errors=True)

    # Removal leaves nothing of the package.
    shutil.rmtree(root.inside(USER_FOLDER))
    os.remove(root.inside("/tmp/" + name))
    root.run("apt-get -q purge -y lumenfall")
    status = root.run("dpkg-query -W -f '${db:Status-Status}' lumenfall", check=False)
    check(status.stdout.strip() in ("", "not-installed"), "lumenfall is still known to dpkg: %s"
          % status.stdout)
    left = [p for p in installed if os.path.lexists(root.inside(p)) and
            not os.path.isdir(root.inside(p))]
    left += [p for p in installed if p.rstrip("/").endswith("lumenfall") and
             os.path.lexists(root.inside(p))]
    left += leftovers(root, before)
    check(not left, "left after removal: %s" % sorted(set(left)))
    log("removed without a trace; %.0f s in all" % (time.monotonic() - started))


def main():
    args = [a for a in sys.argv[1:] if a != "--keep"]
    keep = "--keep" in sys.argv[1:]
    if len(args) != 1:
        print(__doc__)
        return 2
    deb = os.path.abspath(args[0])
    if os.geteuid() != 0:
        show_check.skip_or_fail("making a root and chrooting into it needs root")
    for tool in ("debootstrap", "chroot", "Xvfb", "xdotool", "mount"):
        if shutil.which(tool) is None:
            show_check.skip_or_fail("%s is not installed (scripts/install-deps.sh)" % tool)
    if not os.path.isfile(deb):
        print("FAIL: no package %s (the package test makes it)" % deb)
        return 1
    arch = sh(["dpkg-deb", "-f", deb, "Architecture"]).stdout.strip()
    foreign = arch != sh(["dpkg", "--print-architecture"]).stdout.strip()
    if foreign and not emulated(arch):
        show_check.skip_or_fail("%s programs do not run here: binfmt_misc has no enabled qemu "
                                "entry for them (scripts/build-arm64.sh switches it on)" % arch)

    # CTest's timeout and Ctrl-C must not leave mounts behind.
    def stop(signum, _frame):
        raise KeyboardInterrupt("signal %d" % signum)
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGHUP, stop)

    root = None
    try:
        tarball = base_tarball(arch, foreign)
        root = FreshRoot()
        root.unpack(tarball)
        test(deb, root, foreign)
        print("PASS")
        return 0
    except (Failure, subprocess.SubprocessError, OSError, show_check.XError) as e:
        print("FAIL: %s" % e)
        return 1
    finally:
        if root is not None:
            root.remove(keep)


if __name__ == "__main__":
    sys.exit(main())
