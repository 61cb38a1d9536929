#!/usr/bin/env python3
"""A private sound server for the sound tests: a null sink and an anonymous native socket in a
fresh XDG_RUNTIME_DIR, nothing else running. PulseAudio by default; with --pipewire, PipeWire
with its session manager and its server for the same clients. As a program it runs one command
against it.

usage: pulse_server.py [--pipewire] -- COMMAND [ARG ...]

The command gets PULSE_SERVER, LUMENFALL_TEST_SINK (the null sink), LUMENFALL_TEST_SERVER_PID
and LUMENFALL_TEST_SERVER_KIND (pulseaudio or pipewire). Exit status: the command's; 77
(skipped) when no server can be started, or 1 when CI is set, since CI must run this suite.
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
    kind = "pulseaudio"

    def __init__(self, sink=SINK):
        self.sink = sink
        self.proc = None
        self.others = []
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

    def _log_tail(self):
        try:
            self.log.flush()
            with open(os.path.join(self.runtime, "server.log"), "rb") as f:
                tail = f.read()[-1500:].decode("utf-8", "replace")
            return "\n--- server log ---\n" + tail if tail else ""
        except OSError:
            return ""

    def _answers(self):
        return subprocess.run(["pactl", "info"], env=self.env(), capture_output=True).returncode == 0

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        env["XDG_RUNTIME_DIR"] = self.runtime
        env["PULSE_SERVER"] = "unix:%s/pulse/native" % self.runtime
        env["LUMENFALL_TEST_SINK"] = self.sink
        env["LUMENFALL_TEST_SERVER_KIND"] = self.kind
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
        """The server first, then what it needs (PipeWire's), then its folder."""
        for proc in [self.proc] + list(reversed(self.others)):
            if proc is not None and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait(timeout=10)
        self.proc = None
        self.others = []
        if self.runtime:
            self.log.close()
            shutil.rmtree(self.runtime, ignore_errors=True)
            self.runtime = None


class PipeWireServer(PulseServer):
    """PipeWire, its session manager and its PulseAudio-compatible server on a session bus of
    their own; the null sink is loaded through that server as a PulseAudio client would."""

    kind = "pipewire"

    def start(self, timeout=20):
        tools = ("pipewire", "pipewire-pulse", "wireplumber", "pactl", "dbus-daemon")
        missing = [t for t in tools if shutil.which(t) is None]
        if missing:
            raise NoServer("not installed: " + " ".join(missing))
        env = self._run_dir()
        self.others = []
        deadline = time.monotonic() + timeout
        try:
            # The session manager wants a session bus; it gets one of its own.
            bus = os.path.join(self.runtime, "bus")
            env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + bus
            env["PIPEWIRE_RUNTIME_DIR"] = self.runtime
            self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                         "--address=unix:path=" + bus], env)
            self._wait(lambda: os.path.exists(bus), deadline, "the session bus")
            self._spawn(["pipewire"], env)
            socket = os.path.join(self.runtime, "pipewire-0")
            self._wait(lambda: os.path.exists(socket), deadline, "pipewire")
            self._spawn(["wireplumber"], env)
            self.proc = subprocess.Popen(["pipewire-pulse"], env=env, stdin=subprocess.DEVNULL,
                                         stdout=self.log, stderr=self.log,
                                         start_new_session=True)
            self._wait(self._answers, deadline, "pipewire-pulse")
            subprocess.run(["pactl", "load-module", "module-null-sink",
                            "sink_name=" + self.sink], env=self.env(), capture_output=True,
                           timeout=10)
            self._wait(self._has_sink, deadline, "the null sink")
            subprocess.run(["pactl", "set-default-sink", self.sink], env=self.env(),
                           capture_output=True, timeout=10)
        except (NoServer, OSError, subprocess.SubprocessError) as e:
            log = self._log_tail()
            self.stop()
            raise NoServer("pipewire did not start: %s%s" % (e, log))

    def _spawn(self, command, env):
        self.others.append(subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                            stdout=self.log, stderr=self.log,
                                            start_new_session=True))

    def _wait(self, ready, deadline, what):
        while time.monotonic() < deadline:
            if any(p.poll() is not None for p in self.others + [self.proc] if p):
                raise NoServer("%s: a server process ended" % what)
            if ready():
                return
            time.sleep(0.05)
        raise NoServer("%s did not come up" % what)

    def _has_sink(self):
        sinks = subprocess.run(["pactl", "list", "short", "sinks"], env=self.env(),
                               capture_output=True, text=True, timeout=10).stdout
        return any(line.split("\t")[1:2] == [self.sink] for line in sinks.splitlines())


def server_class(argv):
    """The server a command line asks for: --pipewire, else PulseAudio."""
    return PipeWireServer if "--pipewire" in argv else PulseServer


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
        server = server_class(argv[:argv.index("--")])()
        server.start()
    except NoServer as e:
        return skip_or_fail(str(e))
    try:
        return subprocess.run(command, env=server.env()).returncode
    finally:
        server.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
