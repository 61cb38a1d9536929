#!/usr/bin/env python3
"""The web page in headless Chromium (WebGL through SwiftShader), served on 127.0.0.1 by the
test itself: single frames against the capture program's, the real start with its loading
bar, music clock and Escape, and the messages for a missing or damaged "demo.dat".

usage: web_test.py --site DIR --capture LUMENFALL_CAPTURE --content DIR [--web-sh SCRIPT]
With --web-sh the site is (re)built first with `SCRIPT --build-only` (incremental)."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import skipping  # noqa: E402
import picture_measure  # noqa: E402
from picture_measure import pearson  # noqa: E402

ARGS = None
WIDTH, HEIGHT = 1280, 720
# One time in each scene, overlays on.
SCENE_TIMES = [61089, 120000, 160000, 185000, 205000]
PAGE_TIMEOUT = 240


def grey_small(png_path):
    """Grey, 320x180, blurred with a standard deviation of 2 px: bytes, one per pixel."""
    return picture_measure.grey_bytes(png_path, 2, "320x180")


def grey_at(png_bytes, tmp, x0, y0, width, height):
    """Grey values of a rectangle of a PNG, row by row."""
    path = os.path.join(tmp, "crop.png")
    with open(path, "wb") as f:
        f.write(png_bytes)
    return subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (width, height, x0, y0),
                           "-colorspace", "Gray", "-depth", "8", "gray:-"],
                          capture_output=True, check=True).stdout


class WebPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        from browser import Browser, SiteServer
        cls.tmp = tempfile.mkdtemp(prefix="lumenfall-web-test-")
        cls.server = SiteServer(ARGS.site)
        cls.browser = Browser(width=WIDTH, height=HEIGHT)

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.server.close()
        # The pictures stay for a look when something failed.
        if cls.passed:
            shutil.rmtree(cls.tmp, ignore_errors=True)
        else:
            print("pictures kept in " + cls.tmp)

    passed = True

    def run(self, result=None):
        result = super().run(result)
        if result is not None and not result.wasSuccessful():
            WebPage.passed = False
        return result

    def setUp(self):
        self.server.replacements = {}

    def page_state(self):
        return self.browser.evaluate("window.lumenfallPage ? lumenfallPage.state : ''")

    def wait_state(self, states, timeout):
        expression = ("window.lumenfallPage && %r.indexOf(lumenfallPage.state) >= 0 && "
                      "lumenfallPage.state" % list(states))
        return self.browser.wait_for(expression, timeout)

    def messages(self):
        return self.browser.evaluate(
            "Array.from(document.querySelectorAll('#messages .box')).map(function(b){"
            "return [b.querySelector('h2').textContent, b.querySelector('pre').textContent];})")

    def test_single_frames_match_the_capture_program(self):
        """?at=MS in every scene: the same form as lumenfall-capture --at MS, and lit."""
        frames = os.path.join(self.tmp, "capture")
        subprocess.run([ARGS.capture, "--portable", "--size", "%dx%d" % (WIDTH, HEIGHT),
                        "--png", frames,
                        *[a for t in SCENE_TIMES for a in ("--at", str(t))]],
                       cwd=ARGS.content, check=True, capture_output=True, timeout=900,
                       env=dict(os.environ, DISPLAY="", WAYLAND_DISPLAY=""))
        for t in SCENE_TIMES:
            with self.subTest(at=t):
                self.browser.navigate(self.server.url("index.html?at=%d" % t))
                state = self.wait_state(["frame", "failed"], PAGE_TIMEOUT)
                self.assertEqual(state, "frame", "page state %r; console:\n%s" %
                                 (self.page_state(), "\n".join(self.browser.console)))
                size = self.browser.evaluate("[canvas.width, canvas.height]")
                self.assertEqual(size, [WIDTH, HEIGHT])
                web = os.path.join(self.tmp, "web_%06d.png" % t)
                with open(web, "wb") as f:
                    f.write(self.browser.canvas_png())
                native = grey_small(os.path.join(frames, "at_%06d.png" % t))
                page = grey_small(web)
                r = pearson(native, page)
                mean_native = sum(native) / len(native)
                mean_page = sum(page) / len(page)
                print("at %d: correlation %.3f, mean grey %.1f (capture %.1f)" %
                      (t, r, mean_page, mean_native))
                self.assertGreaterEqual(r, 0.9, "frame at %d ms differs: %s" % (t, web))
                self.assertGreater(mean_native, 1.0)
                self.assertGreater(mean_page, 0.5 * mean_native, "frame at %d ms is dark" % t)

    def start_and_watch_loading(self, slowdown):
        """Loads the page, clicks "start" with the page's processor slowed down by the given
        factor while loading, and tells whether a screenshot showed the bar part-drawn."""
        b = self.browser
        b.navigate(self.server.url("index.html"))
        self.assertTrue(b.wait_for("window.lumenfallPage && lumenfallPage.state == 'choice' && "
                                   "!document.getElementById('choice').hidden", 60))
        b.call("Emulation.setCPUThrottlingRate", rate=slowdown)
        try:
            clicked = time.time()
            b.click("#start")
            # Screenshots while loading: the bar runs along the middle of the picture.
            row_y = HEIGHT // 2
            while time.time() - clicked < PAGE_TIMEOUT and self.page_state() == "loading":
                shot = b.screenshot_png()
                if self.page_state() != "loading":
                    break
                row = grey_at(shot, self.tmp, 0, row_y, WIDTH, 1)
                lit = [v > 60 for v in row]
                if lit[2] and not lit[WIDTH - 3]:
                    with open(os.path.join(self.tmp, "loading.png"), "wb") as f:
                        f.write(shot)
                    return True
                time.sleep(0.05)
            return False
        finally:
            b.call("Emulation.setCPUThrottlingRate", rate=1)

    def test_start_loading_bar_show_and_escape(self):
        """The real start: "start", the bar part-drawn then full, the show on the audio
        clock, Escape back to the start choice."""
        b = self.browser
        # Loading can be over before a screenshot is taken: when no shot caught the bar
        # part-drawn, start again with the page's processor slowed down.
        part_drawn = False
        for slowdown in (1, 6, 30):
            part_drawn = self.start_and_watch_loading(slowdown)
            if part_drawn:
                break
        print("the bar was caught part-drawn with the processor slowed %dx" % slowdown)
        state = self.wait_state(["show", "failed"], PAGE_TIMEOUT)
        self.assertEqual(state, "show", "console:\n" + "\n".join(b.console))
        self.assertTrue(part_drawn, "no screenshot showed the loading bar part-drawn")
        self.assertEqual(b.evaluate("lumenfallPage.barEnd"), 1, "the bar did not reach its end")
        self.assertTrue(b.wait_for("lumenfallPage.musicTime > 0", 60))
        print("loading: %.1f s from the click to the first frame" % b.evaluate(
            "(lumenfallPage.firstFrameAt - lumenfallPage.clickedAt) / 1000"))
        # Both clocks as they were at one frame, then at a frame 3 s later.
        probe = ("[lumenfallPage.musicTime, lumenfallPage.audioTime, "
                 "Module.webAudio.context.state]")
        music0, audio0, running = b.evaluate(probe)
        self.assertEqual(running, "running")
        time.sleep(3)
        music1, audio1, _ = b.evaluate(probe)
        advanced = (music1 - music0) / 1000.0
        heard = audio1 - audio0
        print("music time advanced %.3f s while the audio clock advanced %.3f s" %
              (advanced, heard))
        self.assertGreater(heard, 1.0)
        self.assertLess(abs(advanced - heard), 0.15)
        shot = b.screenshot_png()
        with open(os.path.join(self.tmp, "show.png"), "wb") as f:
            f.write(shot)
        picture = grey_at(shot, self.tmp, 0, 0, WIDTH, HEIGHT)
        self.assertGreater(max(picture), 60, "the show's picture is black")
        # A square window: the canvas follows it, the picture letterboxed in its middle.
        b.call("Emulation.setDeviceMetricsOverride", width=800, height=800, deviceScaleFactor=1,
               mobile=False)
        try:
            self.assertTrue(b.wait_for("canvas.width == 800 && canvas.height == 800", 30))
            time.sleep(1.0)
            shot = b.screenshot_png()
            with open(os.path.join(self.tmp, "square.png"), "wb") as f:
                f.write(shot)
            bar = grey_at(shot, self.tmp, 0, 0, 800, 170)   # above the 800x450 picture at y 175
            middle = grey_at(shot, self.tmp, 0, 180, 800, 440)
            self.assertLess(max(bar), 8, "the bars above the picture are not black: " +
                            os.path.join(self.tmp, "square.png"))
            self.assertGreater(max(middle), 60, "the letterboxed picture is black")
        finally:
            b.call("Emulation.setDeviceMetricsOverride", width=WIDTH, height=HEIGHT,
                   deviceScaleFactor=1, mobile=False)
        b.key("Escape", "Escape")
        self.assertTrue(b.wait_for("window.lumenfallPage && lumenfallPage.state == 'choice' && "
                                   "!document.getElementById('choice').hidden", 60),
                        "Escape did not bring the start choice back")

    def test_missing_or_damaged_content_is_reported(self):
        """No "demo.dat" (404), or a damaged one: the loader's messages on the page."""
        with open(os.path.join(ARGS.site, "demo.dat"), "rb") as f:
            damaged = bytearray(f.read(200000))
        for case, body in (("missing", None), ("damaged", bytes(damaged))):
            with self.subTest(case=case):
                self.server.replacements = {"demo.dat": body}
                self.browser.navigate(self.server.url("index.html"))
                self.assertTrue(self.browser.wait_for(
                    "window.lumenfallPage && lumenfallPage.state == 'choice'", 60))
                self.browser.click("#start")
                self.assertEqual(self.wait_state(["failed", "show"], PAGE_TIMEOUT), "failed")
                message = "Load error : progressBar.glsl"
                self.assertEqual(self.messages(),
                                 [["ERROR", message], ["Error", "- %s\n" % message]])
                self.assertIn("ERROR: " + message, self.browser.console)

    def test_the_site_is_light(self):
        """The page, its script, the module and the content: under 6 MB on the wire."""
        names = ["index.html", "page.js", "lumenfall.js", "lumenfall.wasm", "demo.dat"]
        sizes = {n: os.path.getsize(os.path.join(ARGS.site, n)) for n in names}
        print("site: %s, %d bytes in all" % (sizes, sum(sizes.values())))
        self.assertLess(sum(sizes.values()), 6000000)

    def test_a_browser_without_webgl_or_ogg_vorbis_is_told_plainly(self):
        """No WebGL, or no Ogg Vorbis decoding: a plain sentence and no start choice."""
        cases = (
            ("webgl", "HTMLCanvasElement.prototype.getContext = function () { return null; };",
             "no WebGL"),
            ("ogg", "HTMLMediaElement.prototype.canPlayType = function () { return ''; };",
             "does not decode Ogg Vorbis"),
        )
        for case, script, words in cases:
            with self.subTest(case=case):
                added = self.browser.call("Page.addScriptToEvaluateOnNewDocument", source=script)
                try:
                    self.browser.navigate(self.server.url("index.html"))
                    self.assertEqual(self.wait_state(["unsupported", "choice"], 60),
                                     "unsupported")
                    texts = [text for _, text in self.messages()]
                    self.assertEqual(len(texts), 1)
                    self.assertIn(words, texts[0])
                    self.assertTrue(self.browser.evaluate(
                        "document.getElementById('choice').hidden"))
                finally:
                    self.browser.call("Page.removeScriptToEvaluateOnNewDocument",
                                      identifier=added["identifier"])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--site", required=True)
    parser.add_argument("--capture", required=True)
    parser.add_argument("--content", required=True)
    parser.add_argument("--web-sh")
    ARGS, rest = parser.parse_known_args()
    for tool in ("chromium", "emcc", "convert"):
        if shutil.which(tool) is None:
            skipping.skip(tool + " is not installed")
    try:
        import websocket  # noqa: F401
    except ImportError:
        skipping.skip("python3-websocket is not installed")
    if ARGS.web_sh:
        subprocess.run([ARGS.web_sh, "--build-only"], check=True)
    if not os.path.isfile(os.path.join(ARGS.site, "lumenfall.wasm")):
        skipping.skip("no web build in " + ARGS.site)
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
