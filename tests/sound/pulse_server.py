#!/usr/bin/env python3
"""A private sound server for the sound tests: a null sink and an anonymous native socket in a
fresh XDG_RUNTIME_DIR, nothing else running. PulseAudio by default; with --pipewire, PipeWire
with its session manager and its server for the same clients. As a program it runs one command
against it.

usage: pulse_server.py [--pipewire] -- COMMAND [ARG ...]

The command gets PULSE_SERVER, LUMENFALL_TEST_SINK (the null sink) and
LUMENFALL_TEST_SERVER_PID. Exit status: the command's; 77 (skipped) when no server can be
started, or 1 when CI is set, since CI must run this suite.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SINK = "lumenfall_test"
SKIPPED = 77


class NoServer(Exception):
    pass


class PulseServer:
    def __init__(self, sink=SINK):
        self.sink = sink
        self.proc = None
        self.runtime = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self, timeout=15):
        if shutil.which("pulseaudio") is None or shutil.which("pactl") is None:
            raise NoServer("pulseaudio or pactl is not installed")
        env = self._run_dir()
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--log-target=stderr",
             "-L", "module-null-sink sink_name=%s" % self.sink,
             "-L", "module-native-protocol-unix auth-anonymous=1"],
            env=env, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
            start_new_session=True)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                break
            if self._answers():
                return
            time.sleep(0.1)
        self.stop()
        raise NoServer("pulseaudio did not start")

    def _run_dir(self):
        self.runtime = tempfile.mkdtemp(prefix="lumenfall-pulse-")
        os.chmod(self.runtime, 0o700)
        self.log = open(os.path.join(self.runtime, "server.log"), "wb")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, HOME=self.runtime)
        env.pop("PULSE_SERVER", None)
        return env

    def _answers(self):
        return subprocess.run(["pactl", "info"], env=self.env(), capture_output=True).returncode == 0

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        env["XDG_RUNTIME_DIR"] = self.runtime
        env["PULSE_SERVER"] = "unix:%s/pulse/native" % self.runtime
        env["LUMENFALL_TEST_SINK"] = self.sink
        if self.proc:
            env["LUMENFALL_TEST_SERVER_PID"] = str(self.proc.pid)
        return env

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def kill(self):
        if self.alive():
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait(timeout=10)

    def stop(self):
        if self.alive():
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.kill()
        self.proc = None
        if self.runtime:
            self.log.close()
            shutil.rmtree(self.runtime, ignore_errors=True)
            self.runtime = None


class PipeWireServer(PulseServer):
    """PipeWire, its session manager and its PulseAudio-compatible server; the null sink is
    loaded through that server as a PulseAudio client would."""

    def start(self, timeout=15):
        tools = ("pipewire", "pipewire-pulse", "wireplumber", "pactl", "dbus-daemon")
        missing = [t for t in tools if shutil.which(t) is None]
        if missing:
            raise NoServer("not installed: " + " ".join(missing))
        env = self._run_dir()
        self.others = []
        # The session manager wants a session bus; it gets one of its own.
        bus = "unix:path=%s/bus" % self.runtime
        env["DBUS_SESSION_BUS_ADDRESS"] = bus
        self.others.append(subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--address=" + bus], env=env,
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log, start_new_session=True))
        time.sleep(0.3)
        for name in ("pipewire", "wireplumber"):
            self.others.append(subprocess.Popen(
                [name], env=env, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
                start_new_session=True))
            time.sleep(0.5)
        self.proc = subprocess.Popen(["pipewire-pulse"], env=env, stdin=subprocess.DEVNULL,
                                     stdout=self.log, stderr=self.log, start_new_session=True)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.proc.poll() is None:
            if self._answers():
                for command in (["load-module", "module-null-sink", "sink_name=" + self.sink],
                                ["set-default-sink", self.sink]):
                    subprocess.run(["pactl"] + command, env=self.env(), capture_output=True)
                time.sleep(0.5)
                return
            time.sleep(0.1)
        self.stop()
        raise NoServer("pipewire did not start")

    def stop(self):
        super().stop()
        for other in reversed(getattr(self, "others", [])):
            if other.poll() is None:
                other.terminate()
                try:
                    other.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    other.kill()
                    other.wait()
        self.others = []


def skip_or_fail(reason):
    """A missing server skips the suite, except in CI, where it must run."""
    if os.environ.get("CI"):
        print("FAIL: %s (CI is set, so the sound suite may not be skipped)" % reason)
        return 1
    print("SKIPPED: %s" % reason)
    return SKIPPED


def main(argv):
    if "--" not in argv or argv.index("--") == len(argv) - 1:
        print(__doc__)
        return 2
    command = argv[argv.index("--") + 1:]
    try:
        server = PipeWireServer() if "--pipewire" in argv[:argv.index("--")] else PulseServer()
        server.start()
    except NoServer as e:
        return skip_or_fail(str(e))
    try:
        return subprocess.run(command, env=server.env()).returncode
    finally:
        server.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
