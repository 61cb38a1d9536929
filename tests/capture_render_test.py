#!/usr/bin/env python3
"""Runs lumenfall-capture on the built content: repeatable frames, single frames that match
a continuous recording, a short video with its streams, and clean failures.

usage: capture_render_test.py LUMENFALL_CAPTURE CONTENT_DIR
CONTENT_DIR holds demo.dat; the program runs there and writes into a temporary folder."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

CAPTURE = ""
CONTENT_DIR = ""
SIZE = "320x180"


def run_capture(*args, timeout=600, tmpdir=None, path_first=None, extra_env=None):
    env = dict(os.environ, DISPLAY="", WAYLAND_DISPLAY="")
    if tmpdir:
        env["TMPDIR"] = tmpdir
    if path_first:
        env["PATH"] = path_first + os.pathsep + env.get("PATH", "")
    env.update(extra_env or {})
    return subprocess.run([CAPTURE, *args], cwd=CONTENT_DIR, env=env, capture_output=True,
                          text=True, timeout=timeout)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class CaptureRender(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(os.path.join(CONTENT_DIR, "demo.dat")):
            raise RuntimeError("no demo.dat in " + CONTENT_DIR + "; build the content target first")
        cls.tmp = tempfile.TemporaryDirectory(prefix="lumenfall-capture-test-")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def test_frames_repeat_and_single_frames_match_a_recording(self):
        # 240 fps from 141.75 s: frame 14 is 141808 ms, where the second scene still shows its
        # last shot although the sync pattern has moved on; frame 16 (141816) is the third scene.
        common = ["--portable", "--size", SIZE, "--fps", "240", "--start", "141.75",
                  "--end", "141.82"]
        first = run_capture(*common, "--png", self.path("first"))
        self.assertEqual(first.returncode, 0, first.stderr)
        second = run_capture(*common, "--png", self.path("second"))
        self.assertEqual(second.returncode, 0, second.stderr)

        names = sorted(os.listdir(self.path("first")))
        self.assertEqual(len(names), 17)
        self.assertEqual(names, sorted(os.listdir(self.path("second"))))
        for name in names:
            self.assertTrue(read_bytes(self.path("first/" + name)) ==
                            read_bytes(self.path("second/" + name)), name + " differs between runs")
        self.assertTrue(read_bytes(self.path("first/frame_000014.png")) !=
                        read_bytes(self.path("first/frame_000016.png")), "the scenes look alike")

        # 141808 is rendered first (times go in increasing order), by a freshly built show.
        single = run_capture("--portable", "--size", SIZE, "--fps", "240", "--at", "141816",
                             "--at", "141808", "--png", self.path("single"))
        self.assertEqual(single.returncode, 0, single.stderr)
        for at, frame in ((141808, 14), (141816, 16)):
            self.assertTrue(read_bytes(self.path("single/at_%06d.png" % at)) ==
                            read_bytes(self.path("first/frame_%06d.png" % frame)),
                             "--at %d differs from the recording's frame %d" % (at, frame))

    def test_speedups_leave_every_frame_as_it_was(self):
        # A stand-in "ffmpeg" keeps the raw frames the encoder would get; the pictures go
        # through the same read-back. 60 fps across the second scene's end.
        fake = self.path("fake-encoder")
        os.mkdir(fake)
        with open(os.path.join(fake, "ffmpeg"), "w") as script:
            script.write('#!/bin/sh\nexec cat > "$RAW_FRAMES"\n')
        os.chmod(os.path.join(fake, "ffmpeg"), 0o755)
        common = ["--size", SIZE, "--fps", "60", "--start", "141.7", "--end", "141.9"]
        results = {}
        for mode in ("portable", "portable-plain", "default", "default-plain"):
            flags = {"portable": ["--portable"], "portable-plain": ["--portable", "--plain"],
                     "default": [], "default-plain": ["--plain"]}[mode]
            raw = self.path("raw-" + mode)
            video = run_capture(*common, *flags, "--output", self.path("unused.mp4"),
                                path_first=fake, extra_env={"RAW_FRAMES": raw})
            self.assertEqual(video.returncode, 0, video.stderr)
            self.assertIn("rendering on ", video.stderr)
            pictures = run_capture(*common, *flags, "--png", self.path("png-" + mode))
            self.assertEqual(pictures.returncode, 0, pictures.stderr)
            names = sorted(os.listdir(self.path("png-" + mode)))
            results[mode] = (read_bytes(raw), names,
                             [read_bytes(self.path("png-%s/%s" % (mode, n))) for n in names])
        self.assertEqual(len(results["portable-plain"][0]), 12 * 320 * 180 * 4)
        self.assertEqual(len(results["portable-plain"][1]), 12)
        self.assertTrue(results["portable"] == results["portable-plain"],
                        "frames differ with the speed-ups")
        self.assertTrue(results["default"] == results["default-plain"],
                        "frames differ with the speed-ups on the default renderer")
        # The default renderer (a GPU, or this processor's own code) draws the same show: as
        # many frames, lit, and close to the portable ones on average.
        portable, default = results["portable"][0], results["default"][0]
        self.assertEqual(len(default), len(portable))
        self.assertEqual(results["default"][1], results["portable"][1])
        self.assertTrue(all(png.startswith(b"\x89PNG") for png in results["default"][2]))
        colour = [i for i in range(len(portable)) if i % 4 != 3]
        self.assertGreater(sum(default[i] for i in colour) / len(colour), 1.0, "dark frames")
        mean_difference = sum(abs(default[i] - portable[i]) for i in colour) / len(colour)
        self.assertLess(mean_difference, 1.0, "the default renderer's frames stray")

    def test_two_second_clip_has_video_and_music(self):
        clip = self.path("clip.mp4")
        result = run_capture("--size", SIZE, "--start", "60", "--end", "62", "--output", clip)
        self.assertEqual(result.returncode, 0, result.stderr)
        probe = subprocess.run(
            ["ffprobe", "-v", "error", "-show_entries",
             "stream=codec_type,codec_name,width,height,pix_fmt:format=duration", "-of", "json",
             clip],
            capture_output=True, text=True, check=True)
        info = json.loads(probe.stdout)
        video = [s for s in info["streams"] if s["codec_type"] == "video"]
        audio = [s for s in info["streams"] if s["codec_type"] == "audio"]
        self.assertEqual(len(video), 1)
        self.assertEqual(len(audio), 1)
        self.assertEqual(video[0]["codec_name"], "h264")
        self.assertEqual((video[0]["width"], video[0]["height"]), (320, 180))
        self.assertEqual(video[0]["pix_fmt"], "yuv420p")
        self.assertEqual(audio[0]["codec_name"], "aac")
        self.assertAlmostEqual(float(info["format"]["duration"]), 2.0, delta=0.1)

    def test_failures_exit_cleanly_with_a_message(self):
        bad = run_capture("--fps", "0")
        self.assertEqual(bad.returncode, 2)
        self.assertIn("--fps", bad.stderr)

        past_end = run_capture("--size", SIZE, "--end", "100000", "--png", self.path("never"))
        self.assertEqual(past_end.returncode, 2, past_end.stderr)
        self.assertIn("past the end of the music", past_end.stderr)

        private_tmp = self.path("tmp")
        os.mkdir(private_tmp)
        unwritable = run_capture("--size", SIZE, "--end", "0.2",
                                 "--output", self.path("no/such/folder/clip.mp4"),
                                 tmpdir=private_tmp)
        self.assertEqual(unwritable.returncode, 1, unwritable.stderr)
        self.assertIn("Error:", unwritable.stderr)
        self.assertIn("ffmpeg", unwritable.stderr)
        self.assertEqual(os.listdir(private_tmp), [], "the temporary music file was left behind")


if __name__ == "__main__":
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
    import skipping
    skipping.require_programs("ffmpeg", "ffprobe")
    CAPTURE, CONTENT_DIR = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
