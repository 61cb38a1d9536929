#!/usr/bin/env python3
"""The show with a real sound server: lumenfall-gles under Xvfb, playing through a private
PulseAudio server (PipeWire with --pipewire) whose null sink is recorded from its monitor.

Cases: the recording holds the music (it correlates with the decoded "music.ogg", a 48 kHz
sweep); the server stopped in the middle of the show leaves the show running to its end on
its own clock. Both keep stderr free of lines the program did not write.

usage: run_sound_e2e.py [--pipewire] GLES_PROGRAM BUILD_DIR
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
from pulse_server import NoServer, server_class, skip_or_fail  # noqa: E402
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


def start_show(x, program, build_dir, scratch, server, seconds):
    """A folder with the built assets and a sweep of `seconds` as the music, a recorder on
    the monitor, and the show started there through its dialog."""
    music = os.path.join(scratch, "music-%g.ogg" % seconds)
    make_music(music, seconds)
    recorder = Recorder(server, os.path.join(scratch, "heard-%g.raw" % seconds))
    cwd = tempfile.mkdtemp(dir=scratch)
    target = os.path.join(cwd, "assets")
    shutil.copytree(os.path.join(build_dir, "assets"), target)
    shutil.copyfile(music, os.path.join(target, "music.ogg"))
    run = Run(x, program, cwd)
    RUNS.append(run)
    x.keys(run.wait_dialog(), "Return")
    run.wait_gl_window()
    return music, recorder, run


def check_clean(run):
    err = run.stderr()
    foreign = [l for l in err.splitlines() if l.startswith("ALSA lib") or "pulse" in l.lower()]
    check(not foreign, "lines the program did not write on stderr:\n" + err)
    check(run.boxes == [], "unexpected message boxes %s; stderr:\n%s" % (run.boxes, err))


def case_music_is_heard(x, program, build_dir, scratch, server):
    seconds = 4.0
    music, recorder, run = start_show(x, program, build_dir, scratch, server, seconds)
    rc = run.wait_exit(LOAD_TIMEOUT + seconds + 15)
    time.sleep(0.3)
    heard = recorder.stop()
    check(rc == 0, "exit code %s; stderr:\n%s" % (rc, run.stderr()))
    check_clean(run)
    reference = decode(music)
    start = first_loud(heard)
    check(start is not None, "the recording is silent")
    last = max(i for i, v in enumerate(heard) if abs(v) > 0.05)
    # A loaded machine can starve the sound (the server then waits and plays on later), so
    # each tenth of a second is found in the music on its own: the sweep's pitch says where,
    # the best correlation within 5 ms of that says how well it matches.
    part = RATE // 10
    figures = []
    for at in (0.2, 1.0, 2.0, 3.0):
        piece = heard[start + int(at * RATE):start + int(at * RATE) + part]
        rises = [i for i in range(len(piece) - 1) if piece[i] <= 0 < piece[i + 1]]
        check(len(rises) > 2, "silence %.1f s into the recording" % at)
        frequency = (len(rises) - 1) / (rises[-1] - rises[0]) * RATE
        # The mean pitch between the first and last rising crossing is the sweep's pitch
        # halfway between them.
        middle = (frequency - 200) / ((2000 - 200) / seconds) * RATE
        guess = int(middle - (rises[0] + rises[-1]) / 2)
        figures.append(max(correlation(piece, reference[max(0, guess + lag):
                                                        max(0, guess + lag) + part])
                           for lag in range(-220, 221, 2)))
    length = (last - start) / RATE
    print("     heard %.3f s of a %.1f s music; best correlation with the decoded file around "
          "0.2/1/2/3 s: %s" % (length, seconds, " ".join("%.3f" % f for f in figures)))
    check(min(figures) > 0.9, "the recording does not hold the music")
    check(length > seconds - 0.1, "heard %.3f s of %.1f s" % (length, seconds))


def case_server_stopped_mid_show(x, program, build_dir, scratch, server):
    seconds = 8.0
    _, recorder, run = start_show(x, program, build_dir, scratch, server, seconds)
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
    args = [a for a in sys.argv[1:] if a != "--pipewire"]
    if len(args) != 2:
        print(__doc__)
        return 2
    program, build_dir = os.path.abspath(args[0]), os.path.abspath(args[1])
    Server = server_class(sys.argv[1:])
    try:
        with Server():
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
                    with Server() as server:
                        os.environ.update(server.env())
                        case(x, program, build_dir, scratch, server)
                    print("PASS %s (%.1f s)" % (case.__name__[5:], time.monotonic() - started),
                          flush=True)
                except (Failure, NoServer, subprocess.SubprocessError, OSError) as e:
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
