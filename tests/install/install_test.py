#!/usr/bin/env python3
"""Installs the built show into a staging prefix and checks it as a user would meet it: the
tree, the validators for the desktop entry, metadata and man pages, the launcher started from
an unrelated folder under Xvfb, and lumenfall-capture finding its show each way it can.

usage: install_test.py BUILD_DIR"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import show_check  # noqa: E402

BUILD = ""
ID = "org.lumenfall.Lumenfall"
VERSION = "1.0.0"
# Every file the install puts under the prefix, and nothing else.
TREE = {
    "bin/lumenfall", "bin/lumenfall-capture",
    "libexec/lumenfall/lumenfall-gl", "libexec/lumenfall/lumenfall-gles",
    "share/lumenfall/demo.dat",
    "share/applications/%s.desktop" % ID,
    "share/metainfo/%s.metainfo.xml" % ID,
    "share/icons/hicolor/48x48/apps/%s.png" % ID,
    "share/icons/hicolor/128x128/apps/%s.png" % ID,
    "share/icons/hicolor/256x256/apps/%s.png" % ID,
    "share/man/man6/lumenfall.6.gz", "share/man/man1/lumenfall-capture.1.gz",
    "share/doc/lumenfall/copyright", "share/doc/lumenfall/changelog.gz",
}
EXECUTABLES = {"bin/lumenfall", "bin/lumenfall-capture", "libexec/lumenfall/lumenfall-gl",
               "libexec/lumenfall/lumenfall-gles"}
FRAME = "61089"
CAPTURE_ARGS = ["--size", "160x90", "--at", FRAME]
FRAME_FILE = "at_061089.png"


def run(command, cwd=None, timeout=300, env_extra=None):
    env = dict(os.environ, DISPLAY="", WAYLAND_DISPLAY="", LC_ALL="C.UTF-8", **(env_extra or {}))
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True,
                          timeout=timeout, stdin=subprocess.DEVNULL)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


class StagedInstall(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="lumenfall-install-test-")
        cls.prefix = os.path.join(cls.tmp.name, "stage", "usr")
        done = run(["cmake", "--install", BUILD, "--prefix", cls.prefix])
        if done.returncode != 0:
            raise RuntimeError("cmake --install failed:\n" + done.stdout + done.stderr)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def folder(self, name):
        path = os.path.join(self.tmp.name, name)
        os.makedirs(path)
        return path

    def staged(self, relative):
        return os.path.join(self.prefix, relative)

    def test_tree_holds_the_show_and_nothing_else(self):
        found = set()
        for top, _, files in os.walk(self.prefix):
            for name in files:
                found.add(os.path.relpath(os.path.join(top, name), self.prefix))
        self.assertEqual(found, TREE)
        for path in TREE:
            executable = os.access(self.staged(path), os.X_OK)
            self.assertEqual(executable, path in EXECUTABLES, path)
        for size in (48, 128, 256):
            icon = self.staged("share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, ID))
            self.assertEqual(png_size(icon), (size, size))

    def test_validators_accept_the_desktop_files(self):
        desktop = run(["desktop-file-validate", self.staged("share/applications/%s.desktop" % ID)])
        self.assertEqual((desktop.returncode, desktop.stdout + desktop.stderr), (0, ""))
        meta = run(["appstreamcli", "validate", "--no-net",
                    self.staged("share/metainfo/%s.metainfo.xml" % ID)])
        self.assertEqual(meta.returncode, 0, meta.stdout + meta.stderr)
        for kind in ("E:", "W:", "I:"):
            self.assertNotIn(kind, meta.stdout, meta.stdout)
        for page in ("share/man/man6/lumenfall.6.gz", "share/man/man1/lumenfall-capture.1.gz"):
            # groff's warnings (-ww) and man's own go to stderr; a clean page prints none.
            shown = run(["man", "--warnings=w", "-l", self.staged(page)],
                        env_extra={"MANWIDTH": "80", "MAN_KEEP_FORMATTING": "0"})
            self.assertEqual((shown.returncode, shown.stderr), (0, ""), page)
            self.assertIn("lumenfall", shown.stdout)

    def test_versions_come_from_the_build(self):
        self.assertEqual(run([self.staged("bin/lumenfall-capture"), "--version"]).stdout,
                         "lumenfall-capture %s\n" % VERSION)
        self.assertEqual(run([self.staged("bin/lumenfall"), "--version"]).stdout,
                         "lumenfall %s\n" % VERSION)
        with open(self.staged("share/metainfo/%s.metainfo.xml" % ID)) as f:
            self.assertIn('version="%s"' % VERSION, f.read())
        bad = run([self.staged("bin/lumenfall"), "--bogus"])
        self.assertEqual(bad.returncode, 2)
        self.assertIn("--bogus", bad.stderr)

    def test_capture_finds_its_show_each_way(self):
        capture = self.staged("bin/lumenfall-capture")
        # Each way, from a folder of the user's own, with the picture written there.
        archive_here = self.folder("archive-here")
        shutil.copyfile(os.path.join(BUILD, "demo.dat"), os.path.join(archive_here, "demo.dat"))
        # The archive comes before the folder: a broken assets/ beside it is not read.
        os.makedirs(os.path.join(archive_here, "assets"))
        folder_here = self.folder("folder-here")
        os.symlink(os.path.join(BUILD, "assets"), os.path.join(folder_here, "assets"))
        ways = [
            ("installed", self.folder("installed"), []),
            ("--data", self.folder("data"), ["--data", BUILD]),
            ("archive here", archive_here, []),
            ("folder here", folder_here, []),
        ]
        pictures = {}
        for way, cwd, extra in ways:
            done = run([capture] + extra + CAPTURE_ARGS, cwd=cwd)
            self.assertEqual(done.returncode, 0, "%s: %s" % (way, done.stderr))
            with open(os.path.join(cwd, FRAME_FILE), "rb") as f:
                pictures[way] = f.read()
        self.assertEqual(len(set(pictures.values())), 1, "the ways give different pictures")

        # --png and --output name folders relative to the user's folder, not the show's.
        cwd = self.folder("png")
        done = run([capture, "--data", BUILD, "--png", "out"] + CAPTURE_ARGS, cwd=cwd)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(os.path.isfile(os.path.join(cwd, "out", FRAME_FILE)))

        # A folder of assets is really read: one without the music fails on it.
        broken = self.folder("broken")
        shutil.copytree(os.path.join(BUILD, "assets"), os.path.join(broken, "assets"))
        os.remove(os.path.join(broken, "assets", "music.ogg"))
        done = run([capture] + CAPTURE_ARGS, cwd=broken)
        self.assertEqual(done.returncode, 1)
        self.assertIn("Load error : music.ogg", done.stderr)

        # A --data folder without a show is a bad option; a moved install without its data
        # says where it looked.
        done = run([capture, "--data", self.folder("empty")] + CAPTURE_ARGS)
        self.assertEqual(done.returncode, 2)
        self.assertIn("holds neither demo.dat nor assets/", done.stderr)
        moved = os.path.join(self.tmp.name, "moved")
        shutil.copytree(self.prefix, moved, symlinks=True)
        os.remove(os.path.join(moved, "share/lumenfall/demo.dat"))
        done = run([os.path.join(moved, "bin/lumenfall-capture")] + CAPTURE_ARGS,
                   cwd=self.folder("nothing"))
        self.assertEqual(done.returncode, 1)
        self.assertIn(os.path.join(moved, "share/lumenfall"), done.stderr)
        shutil.rmtree(moved)

    def test_launcher_plays_from_an_unrelated_folder(self):
        cwd = self.folder("launcher")
        logs = self.folder("launcher-logs")
        # Through a symlink elsewhere, as a desktop or ~/bin might start it.
        link = os.path.join(self.folder("links"), "lumenfall")
        os.symlink(self.staged("bin/lumenfall"), link)
        with show_check.XSession(*show_check.SCREEN,
                                 log_path=os.path.join(logs, "xvfb.log")) as x:
            for command, player in (([link], "lumenfall-gles"),
                                    ([self.staged("bin/lumenfall"), "--gl"], "lumenfall-gl")):
                with self.subTest(player=player):
                    self.assertEqual(show_check.run_show(x, command, cwd, player, logs), [])
        self.assertEqual(sorted(os.listdir(cwd)), [], "the show wrote into the user's folder")


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    for tool in ("desktop-file-validate", "appstreamcli", "man", "Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            show_check.skip_or_fail("%s is not installed (scripts/install-deps.sh)" % tool)
    unittest.main(argv=sys.argv[:1], verbosity=2)
