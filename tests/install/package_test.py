#!/usr/bin/env python3
"""Makes the Debian package with `cpack -G DEB` in the build folder and checks its name, its
control fields, its contents and what lintian says of it (errors fail; warnings are shown).

usage: package_test.py BUILD_DIR"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import show_check  # noqa: E402

BUILD = ""
VERSION = "1.0.0"
MAINTAINER = "the lumenfall team <team@lumenfall.invalid>"
# Libraries the programs link, which dpkg-shlibdeps must have found.
LINKED = ("libc6", "libstdc++6", "libegl1", "libgles2", "libglfw3", "libglew2.2", "libgtk-3-0",
          "libsdl2-2.0-0", "libvorbisfile3", "libminizip1")
BINARIES = ("usr/bin/lumenfall-capture", "usr/libexec/lumenfall/lumenfall-gl",
            "usr/libexec/lumenfall/lumenfall-gles")


def run(command, cwd=None, timeout=600):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)


def package_architecture():
    """The architecture the build makes its package for: the build machine's, or in a cross
    build the target's."""
    with open(os.path.join(BUILD, "CPackConfig.cmake")) as f:
        found = re.search(r'set\(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "([^"]+)"\)', f.read())
    return found.group(1) if found else run(["dpkg", "--print-architecture"]).stdout.strip()


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        arch = package_architecture()
        cls.deb = os.path.join(BUILD, "lumenfall_%s_%s.deb" % (VERSION, arch))
        if os.path.exists(cls.deb):
            os.remove(cls.deb)
        made = run(["cpack", "-G", "DEB"], cwd=BUILD)
        if made.returncode != 0 or not os.path.isfile(cls.deb):
            raise RuntimeError("cpack did not make %s:\n%s%s" % (cls.deb, made.stdout,
                                                                  made.stderr))
        cls.tmp = tempfile.TemporaryDirectory(prefix="lumenfall-package-test-")
        cls.root = os.path.join(cls.tmp.name, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name]).stdout.strip()

    def test_fields(self):
        self.assertEqual(self.field("Package"), "lumenfall")
        self.assertEqual(self.field("Version"), VERSION)
        self.assertEqual(self.field("Maintainer"), MAINTAINER)
        self.assertEqual(self.field("Section"), "video")
        self.assertNotIn("Homepage", run(["dpkg-deb", "-I", self.deb]).stdout)
        depends = [d.strip().split(" ")[0] for d in self.field("Depends").split(",")]
        for package in LINKED + ("ffmpeg",):
            self.assertIn(package, depends)
        # Only ffmpeg is named by hand; dpkg-shlibdeps adds the versions the symbols need.
        self.assertNotRegex(self.field("Depends"), r"ffmpeg \(")
        self.assertRegex(self.field("Depends"), r"libc6 \(>= [0-9.]+\)")
        self.assertRegex(self.field("Depends"), r"libgtk-3-0 \(>= [0-9.]+\)")

    def test_contents(self):
        listing = run(["dpkg-deb", "-c", self.deb]).stdout
        files = set()
        for line in listing.splitlines():
            mode, owner, _, _, _, path = line.split(None, 5)
            self.assertEqual(owner, "root/root", line)
            path = path.lstrip(".").lstrip("/")
            if not mode.startswith("d"):
                files.add(path)
                executable = path.startswith(("usr/bin/", "usr/libexec/"))
                self.assertEqual(mode, "-rwxr-xr-x" if executable else "-rw-r--r--", line)
            else:
                self.assertEqual(mode, "drwxr-xr-x", line)
        for path in BINARIES + ("usr/bin/lumenfall", "usr/share/lumenfall/demo.dat",
                                "usr/share/doc/lumenfall/copyright",
                                "usr/share/man/man6/lumenfall.6.gz",
                                "usr/share/applications/org.lumenfall.Lumenfall.desktop"):
            self.assertIn(path, files)
        self.assertFalse([f for f in files if re.search(r"test|bench|imagegen|synth|pack", f)])
        for path in BINARIES:
            described = run(["file", "-b", os.path.join(self.root, path)]).stdout
            self.assertIn(", stripped", described, path)
        with open(os.path.join(self.root, "usr/share/doc/lumenfall/copyright")) as f:
            self.assertIn("the lumenfall team", f.read())

    def test_lintian_finds_no_errors(self):
        checked = run(["lintian", "--no-tag-display-limit", "--display-info", self.deb])
        lines = checked.stdout.splitlines()
        for line in lines:
            print("lintian: " + line)
        self.assertEqual([l for l in lines if l.startswith("E:")], [])


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    for tool in ("cpack", "dpkg-deb", "lintian", "file"):
        if shutil.which(tool) is None:
            show_check.skip_or_fail("%s is not installed (scripts/install-deps.sh)" % tool)
    unittest.main(argv=sys.argv[:1], verbosity=2)
