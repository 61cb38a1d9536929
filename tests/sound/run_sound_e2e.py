#!/usr/bin/env python3
"""The show with a real sound server: lumenfall-gles under Xvfb, playing through a private
PulseAudio server whose null sink is recorded from its monitor.

Cases: the recording holds the music (it correlates with the decoded "music.ogg", a 48 kHz
sweep); the server stopped in the middle of the show leaves the show running to its end on
its own clock. Both keep stderr free of lines the program did not write.

usage: run_sound_e2e.py GLES_PROGRAM BUILD_DIR
Exit status 77 (skipped) when no server can start, 1 instead when CI is set.
"""

import array
import math
import os
import subprocess
import sys
import tempfile
import shutil
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from pulse_server import NoServer, PulseServer, skip_or_fail  # noqa: E402
from run_e2e import Failure, Run, check, wait_until  # noqa: E402
from xsession import XSession  # noqa: E402

RATE = 44100
LOAD_TIMEOUT = 90


def make_music(path, seconds):
    """A sweep from 200 Hz to 2 kHz at 48 kHz stereo: no two moments of it sound alike."""
    expr = "0.5*sin(2*PI*(200*t+%f*t*t))" % ((2000 - 200) / (2.0 * seconds))
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "aevalsrc=%s|%s:s=48000:d=%g" % (expr, expr, seconds),
                    "-c:a", "libvorbis", path], check=True, stdin=subprocess.DEVNULL, timeout=60)


def decode(path):
    """Left channel of `path` at 44.1 kHz, as floats."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-ac", "2",
                          "-ar", str(RATE), "-"], check=True, capture_output=True,
                         timeout=60).stdout
    return left_of(raw)


def left_of(raw):
    samples = array.array("h")
    samples.frombytes(raw[:len(raw) // 4 * 4])
    return [s / 32768.0 for s in samples[0::2]]


def first_loud(signal, level=0.05):
    for i, v in enumerate(signal):
        if abs(v) > level:
            return i
    return None


def correlation(a, b):
    n = min(len(a), len(b))
    if n == 0:
        return 0.0
    a, b = a[:n], b[:n]
    ma, mb = sum(a) / n, sum(b) / n
    num = sum((x - ma) * (y - mb) for x, y in zip(a, b))
    den = math.sqrt(sum((x - ma) ** 2 for x in a) * sum((y - mb) ** 2 for y in b))
    return num / den if den else 0.0


class Recorder:
    """parec on the null sink's monitor, raw 16-bit stereo at 44.1 kHz into a file."""

    def __init__(self, server, path):
        self.path = path
        self.out = open(path, "wb")
        self.proc = subprocess.Popen(
            ["parec", "-d", server.sink + ".monitor", "--format=s16le", "--rate=%d" % RATE,
             "--channels=2", "--raw", "--latency-msec=20"],
            env=server.env(), stdout=self.out, stdin=subprocess.DEVNULL)

    def heard(self):
        """True once the recording holds sound."""
        self.out.flush()
        with open(self.path, "rb") as f:
            f.seek(max(0, os.path.getsize(self.path) - RATE * 4))
            return first_loud(left_of(f.read())) is not None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)
        self.out.close()
        with open(self.path, "rb") as f:
            return left_of(f.read())


def start_show(x, program, build_dir, cwd, music):
    target = os.path.join(cwd, "assets")
    shutil.copytree(os.path.join(build_dir, "assets"), target)
    shutil.copyfile(music, os.path.join(target, "music.ogg"))
    run = Run(x, program, cwd)
    RUNS.append(run)
    x.keys(run.wait_dialog(), "Return")
    run.wait_gl_window()
    return run


def check_clean(run):
    err = run.stderr()
    foreign = [l for l in err.splitlines() if l.startswith("ALSA lib") or "pulse" in l.lower()]
    check(not foreign, "lines the program did not write on stderr:\n" + err)
    check(run.boxes == [], "unexpected message boxes %s; stderr:\n%s" % (run.boxes, err))


def case_music_is_heard(x, program, build_dir, scratch):
    seconds = 4.0
    music = os.path.join(scratch, "sweep.ogg")
    make_music(music, seconds)
    with PulseServer() as server:
        os.environ.update(server.env())
        recorder = Recorder(server, os.path.join(scratch, "heard.raw"))
        run = start_show(x, program, build_dir, tempfile.mkdtemp(dir=scratch), music)
        rc = run.wait_exit(LOAD_TIMEOUT + seconds + 15)
        time.sleep(0.3)
        heard = recorder.stop()
    check(rc == 0, "exit code %s; stderr:\n%s" % (rc, run.stderr()))
    check_clean(run)
    reference = decode(music)
    start_heard, start_ref = first_loud(heard), first_loud(reference)
    check(start_heard is not None, "the recording is silent")
    # Align on the first sound, then find the best lag within 3 ms on half a second.
    window = RATE // 2
    ref = reference[start_ref:start_ref + window]
    best = max(range(-132, 133), key=lambda lag: correlation(
        heard[start_heard + lag:start_heard + lag + window], ref))
    start_heard += best
    figures = []
    for at in (0.25, 1.5, 2.75, seconds - 0.5):
        offset = int(at * RATE)
        part = RATE // 4
        figures.append(correlation(heard[start_heard + offset:start_heard + offset + part],
                                   reference[start_ref + offset:start_ref + offset + part]))
    last_heard = max(i for i, v in enumerate(heard) if abs(v) > 0.05)
    length = (last_heard - start_heard) / RATE
    print("     heard %.3f s of a %.1f s music; correlation with the decoded file at "
          "0.25/1.5/2.75/%.2f s: %s" % (length, seconds, seconds - 0.5,
                                       " ".join("%.3f" % f for f in figures)))
    check(min(figures) > 0.9, "the recording does not hold the music")
    check(abs(length - seconds) < 0.1, "heard %.3f s of %.1f s" % (length, seconds))


def case_server_stopped_mid_show(x, program, build_dir, scratch):
    seconds = 8.0
    music = os.path.join(scratch, "long.ogg")
    make_music(music, seconds)
    with PulseServer() as server:
        os.environ.update(server.env())
        recorder = Recorder(server, os.path.join(scratch, "stopped.raw"))
        run = start_show(x, program, build_dir, tempfile.mkdtemp(dir=scratch), music)
        check(wait_until(lambda: recorder.heard() or run.exited(), LOAD_TIMEOUT, step=0.05),
              "the show was never heard")
        playing = time.monotonic()
        time.sleep(2.0)
        recorder.stop()
        server.stop()
        stopped = time.monotonic()
        rc = run.wait_exit(seconds + 20)
        ended = time.monotonic()
    check(rc == 0, "exit code %s; stderr:\n%s" % (rc, run.stderr()))
    check_clean(run)
    print("     server stopped %.1f s into the show; the show ended %.2f s after it started "
          "(music %.1f s)" % (stopped - playing, ended - playing, seconds))
    check(ended - playing > seconds - 1.0, "the show ended early, %.1f s in" % (ended - playing))


RUNS = []  # every show started, killed after its case whatever happened
CASES = [case_music_is_heard, case_server_stopped_mid_show]


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, build_dir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    try:
        with PulseServer():
            pass
    except NoServer as e:
        return skip_or_fail(str(e))
    scratch = tempfile.mkdtemp(prefix="lumenfall-sound-")
    failures = 0
    try:
        with XSession(1280, 1024, log_path=os.path.join(scratch, "xvfb.log")) as x:
            for case in CASES:
                started = time.monotonic()
                try:
                    case(x, program, build_dir, scratch)
                    print("PASS %s (%.1f s)" % (case.__name__[5:], time.monotonic() - started),
                          flush=True)
                except (Failure, subprocess.SubprocessError, OSError) as e:
                    failures += 1
                    print("FAIL %s: %s" % (case.__name__[5:], e), flush=True)
                finally:
                    while RUNS:
                        RUNS.pop().kill()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
