#!/usr/bin/python3
"""Measures rps in an 80x25 pseudo-terminal, the way a user starts it. Not a test: it reports
figures and compares them with the targets, and it asserts nothing.

  time to title   from just before exec to the moment the complete title frame (ending in the
                  note "Press ESC to Quit.") has been read from the terminal; median of N runs
                  (target: at most 1.5 ms), with the time the game spent meanwhile waiting for a
                  processor (/proc/<pid>/schedstat), which is what a busy machine adds
  idle CPU        CPU time the waiting game uses over 10 s, from /proc/<pid>/schedstat
                  (target: at most 0.1 % of one core)
  peak memory     VmHWM of a game that has played 30 rounds (target: at most 2 MiB)
  system calls    per idle second, counted by `strace -c` attached for 5 s (each turn re-prints
                  two lines, reads once and sleeps once: about 60 a second)

The game sets the locale en_US.UTF-8 at start. Where that locale is not installed, setting it
fails at once and the start is cheaper than on a machine that has it; the time to title is then
measured a second time with a private copy of the locale, built with localedef into a temporary
folder and found through LOCPATH (nothing is installed). glibc reads such a folder file by file,
which costs more than the locale archive an installed locale usually lives in.

Usage: measure_rps.py [path of the shipped rps] [runs]
Build it first (the release preset builds rps as it ships, statically linked):
  cmake --preset release && cmake --build --preset release --target rps
"""

import fcntl
import os
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_RPS = os.path.join(ROOT, "build", "release", "game", "rps")
NOTE = b"Press ESC to Quit."
RULES = b"Paper defeats Rock."
LOCALE = "en_US.UTF-8"


class Run:
    """rps started on a fresh pseudo-terminal with posix_spawn (no Python between fork and exec
    to slow the start down)."""

    def __init__(self, rps, environment=None):
        self.master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 25, 80, 0, 0))
        os.set_blocking(self.master, False)
        self.raw = bytearray()
        null = os.open(os.devnull, os.O_WRONLY)
        actions = [(os.POSIX_SPAWN_DUP2, slave, 0), (os.POSIX_SPAWN_DUP2, slave, 1),
                   (os.POSIX_SPAWN_DUP2, null, 2), (os.POSIX_SPAWN_CLOSE, self.master)]
        # A terminal that places the cursor, wherever the script itself runs.
        environment = dict(environment or os.environ, TERM="xterm")
        self.started = time.perf_counter()
        self.pid = os.posix_spawn(rps, [rps], environment, file_actions=actions, setsid=True)
        os.close(slave)
        os.close(null)

    def read_until(self, marker, timeout=10.0):
        """Seconds from the start until `marker` has been read."""
        end = time.monotonic() + timeout
        while marker not in self.raw:
            if time.monotonic() > end:
                raise RuntimeError("no %r from rps" % marker)
            ready, _, _ = select.select([self.master], [], [], 0.5)
            if ready:
                try:
                    self.raw += os.read(self.master, 65536)
                except OSError:
                    pass
        return time.perf_counter() - self.started

    def drain(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            ready, _, _ = select.select([self.master], [], [], max(end - time.monotonic(), 0))
            if ready:
                try:
                    self.raw += os.read(self.master, 65536)
                except BlockingIOError:
                    pass
                except OSError:  # the game has gone and closed the terminal
                    time.sleep(max(end - time.monotonic(), 0))
                    return

    def key(self, data, pause=0.2):
        os.write(self.master, data)
        self.drain(pause)

    def end(self):
        os.write(self.master, b"\x1b")
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == self.pid:
                os.close(self.master)
                return status
            self.drain(0.02)
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        os.close(self.master)
        return None


def cpu_ns(pid):
    with open("/proc/%d/schedstat" % pid) as stat:
        return int(stat.read().split()[0])


def waited_ns(pid):
    """Time the process has spent ready to run but waiting for a processor."""
    with open("/proc/%d/schedstat" % pid) as stat:
        return int(stat.read().split()[1])


def proc_status(pid, field):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return -1


def locale_installed(name=LOCALE):
    """Whether the C library finds the locale as the system is set up, as `locale -a` lists it
    (the codeset spelled either way)."""
    try:
        listed = subprocess.run(["locale", "-a"], capture_output=True, text=True,
                                check=False).stdout.split()
    except OSError:
        return False
    wanted = name.lower().replace("-", "")
    return any(entry.lower().replace("-", "") == wanted for entry in listed)


def private_locale(folder, name=LOCALE):
    """Builds the locale `name` into `folder` with localedef; the environment that makes a program
    find it there (LOCPATH), or None when it cannot be built here."""
    localedef = shutil.which("localedef")
    if localedef is None:
        return None
    language, _, charset = name.partition(".")
    target = os.path.join(folder, name)
    subprocess.run([localedef, "-i", language, "-f", charset, target],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    if not os.path.exists(os.path.join(target, "LC_CTYPE")):
        return None
    return dict(os.environ, LOCPATH=folder)


def measure_start(rps, runs, environment=None, waits=None):
    """Sorted milliseconds from exec to the complete title frame. `waits`, when given, gets the
    milliseconds each run's game spent waiting for a processor until then: on a busy machine that
    is where a slow start comes from."""
    times = []
    for _ in range(runs):
        run = Run(rps, environment)
        times.append(run.read_until(NOTE) * 1000)
        if waits is not None:
            waits.append(waited_ns(run.pid) / 1e6)
        run.read_until(RULES)
        run.end()
    times.sort()
    return times


def measure_idle(rps, seconds=10.0):
    run = Run(rps)
    run.read_until(RULES)
    run.drain(0.5)
    before = cpu_ns(run.pid)
    wall = time.perf_counter()
    run.drain(seconds)
    used = cpu_ns(run.pid) - before
    wall = time.perf_counter() - wall
    turns = run.raw.count(RULES)
    run.end()
    return used, wall, turns


def measure_memory(rps, rounds=30):
    run = Run(rps)
    run.read_until(RULES)
    for i in range(rounds):
        run.key(b"123"[i % 3:i % 3 + 1], pause=0.12)
    run.drain(0.3)
    peak = proc_status(run.pid, "VmHWM")
    now = proc_status(run.pid, "VmRSS")
    run.end()
    return peak, now


def measure_syscalls(rps, seconds=5.0):
    strace = shutil.which("strace")
    if strace is None:
        return None
    run = Run(rps)
    run.read_until(RULES)
    run.drain(0.5)
    with tempfile.NamedTemporaryFile("r", suffix=".strace") as report:
        tracer = subprocess.Popen([strace, "-c", "-f", "-o", report.name, "-p", str(run.pid)],
                                  stderr=subprocess.DEVNULL)
        run.drain(0.3)  # let strace attach
        start = time.perf_counter()
        run.drain(seconds)
        tracer.send_signal(signal.SIGINT)
        elapsed = time.perf_counter() - start
        tracer.wait()
        run.end()
        text = report.read()
    # Rows: % time, seconds, usecs/call, calls, [errors,] name; the last row is the total.
    per_call = {}
    for line in text.splitlines():
        fields = line.split()
        if len(fields) >= 5 and fields[-1].isidentifier() and fields[3].isdigit():
            per_call[fields[-1]] = int(fields[3])
    calls = per_call.pop("total", -1)
    return calls, elapsed + 0.3, per_call


def main():
    rps = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_RPS
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    if not os.access(rps, os.X_OK):
        print("no rps at %s; build the Release rps first (see --help)" % rps)
        return 2
    print("rps: %s" % rps)

    def show_start(locale, environment=None):
        waits = []
        times = measure_start(rps, runs, environment, waits)
        print("time to complete title frame, %s: median %.2f ms, min %.2f, p90 %.2f, max %.2f "
              "over %d runs (target <= 1.5 ms); waiting for a processor: median %.2f ms" %
              (locale, statistics.median(times), times[0], times[int(len(times) * 0.9)],
               times[-1], runs, statistics.median(waits)))

    installed = locale_installed()
    show_start("%s %s" % (LOCALE, "installed" if installed else "not installed"))
    if not installed:
        with tempfile.TemporaryDirectory(prefix="rps-locale-") as folder:
            environment = private_locale(folder)
            if environment is None:
                print("time to complete title frame with %s: localedef cannot build it" % LOCALE)
            else:
                show_start("private %s (localedef, LOCPATH)" % LOCALE, environment)

    used, wall, turns = measure_idle(rps)
    print("idle CPU: %.3f ms over %.1f s = %.4f %% of a core, %d turns (target <= 0.1 %%)" %
          (used / 1e6, wall, used / (wall * 1e9) * 100, turns))

    peak, now = measure_memory(rps)
    print("peak resident memory after 30 rounds: %d KiB (VmRSS %d KiB) (target <= 2048 KiB)" %
          (peak, now))

    counted = measure_syscalls(rps)
    if counted is None:
        print("system calls: strace is not installed")
    else:
        calls, elapsed, per_call = counted
        print("system calls while idle: %d in %.1f s = %.1f a second (%s)" %
              (calls, elapsed, calls / elapsed,
               ", ".join("%s %d" % item for item in sorted(per_call.items(),
                                                          key=lambda item: -item[1]))))
    return 0


if __name__ == "__main__":
    if "--help" in sys.argv:
        print(__doc__)
        sys.exit(0)
    sys.exit(main())
