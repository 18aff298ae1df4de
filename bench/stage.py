"""The peers of one measure: the host simulator, the relay under measure and the sources."""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from terminal import Terminal

CHIP_COUNT = 50_000
KEEPER_CHIP_PREFIX = "KP"
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
# The relays measured: Torvane, the minimal relay, and the minimal relay that makes each burst
# durable before acknowledging it.
RELAYS = ("torvane", "baseline", "durable")


def log(text):
    print(text, flush=True)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until(condition, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def port_accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.2):
            return True
    except OSError:
        return False


def read_text(path):
    try:
        with open(path, "r", encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def stop(process, timeout=5):
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class ProcessSample:
    """CPU seconds (all threads) and resident memory of a running process, from /proc."""

    def __init__(self, pid):
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        self.cpu_seconds = (int(fields[11]) + int(fields[12])) / CLOCK_TICKS
        status = read_text(f"/proc/{pid}/status")
        self.rss_bytes = int(re.search(r"VmRSS:\s+(\d+)", status).group(1)) * 1024
        self.peak_rss_bytes = int(re.search(r"VmHWM:\s+(\d+)", status).group(1)) * 1024


class Tools:
    def __init__(self, build):
        self.bin = os.path.join(build, "bin")
        self.torvane = os.path.join(build, "torvane")
        self.mylaps_sim = os.path.join(self.bin, "mylaps-sim")
        self.ostrak_sim = os.path.join(self.bin, "ostrak-sim")
        self.baseline = os.path.join(self.bin, "baseline-relay")
        self.slow_flush = os.path.join(self.bin, "slow-flush.so")
        for path in (self.torvane, self.mylaps_sim, self.ostrak_sim, self.baseline):
            if not os.access(path, os.X_OK):
                sys.exit(f"bench: {path} is missing (build it first)")
        if not os.path.isfile(self.slow_flush):
            sys.exit(f"bench: {self.slow_flush} is missing (build the target slow-flush)")


class LoopGaps:
    """What TORVANE_LOOP_WATCH wrote: the gaps of 2 ms or more between two turns of the
    window thread's event loop, each with the time it ended (CLOCK_MONOTONIC, as Python's
    time.monotonic_ns)."""

    def __init__(self, text):
        self.gaps = []
        self.written = bool(text)
        for line in text.splitlines():
            words = line.split()
            if len(words) == 3 and words[0] == "gap":
                self.gaps.append((int(words[1]), int(words[2])))

    def longest_ms(self, start_ns, end_ns):
        """The longest gap that overlaps the span; 2 ms (the least noted) when none does, None
        when the program wrote no file."""
        if not self.written:
            return None
        inside = [length for end, length in self.gaps if end >= start_ns and end - length <= end_ns]
        return max(inside, default=2_000_000) / 1e6


class Stage:
    """One fresh set of peers: the host simulator and the relay under measure, ready to take
    a source, with a keeper source connected that holds the host link open. `slow_disk` (in
    ms, or None) loads the slow-flush library into the relay; `terminal` runs Torvane without windows on a
    pseudo-terminal (self.terminal) instead of the desktop program."""

    def __init__(self, tools, relay, root, slow_disk=None, terminal=False):
        self.tools = tools
        self.relay = relay
        self.slow_disk = slow_disk
        self.on_terminal = terminal
        self.folder = tempfile.mkdtemp(prefix="stage-", dir=root)
        self.host_log = os.path.join(self.folder, "host.log")
        self.loop_watch = os.path.join(self.folder, "loop-watch.txt")
        self.loop_gaps = LoopGaps("")
        self.host = None
        self.process = None
        self.keeper = None
        self.terminal = None
        self.port = 0

    def __enter__(self):
        started = time.monotonic()
        self.start_host()
        if self.relay == "torvane":
            self.start_torvane()
        else:
            self.start_baseline()
        self.start_keeper()
        self.ready_after = time.monotonic() - started
        return self

    def __exit__(self, *exc):
        stop(self.keeper)
        stop(self.process)
        if self.terminal:
            self.terminal.close()
        stop(self.host)
        self.loop_gaps = LoopGaps(read_text(self.loop_watch))
        shutil.rmtree(self.folder, ignore_errors=True)

    def chip_table_text(self):
        return "".join(f"KV{n:05d} {n}\n" for n in range(1, CHIP_COUNT + 1))

    def relay_environment(self, **extra):
        environment = dict(os.environ, **extra)
        if self.slow_disk is not None:
            environment["LD_PRELOAD"] = self.tools.slow_flush
            environment["SLOW_FLUSH_MS"] = str(self.slow_disk)
        return environment

    def start_host(self):
        self.host = subprocess.Popen(
            [self.tools.ostrak_sim, "--port", "0", "--log", self.host_log, "--any-bib"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.host.stdout.readline()
        match = re.match(r"listening on port (\d+)", line)
        if not match:
            sys.exit(f"bench: ostrak-sim did not start: {line!r}")
        self.host_port = int(match.group(1))

    def start_torvane(self):
        data = os.path.join(self.folder, "data")
        runtime = os.path.join(self.folder, "runtime")
        settings = os.path.join(data, "Holtmar", "Torvane")
        os.makedirs(settings)
        os.makedirs(runtime, mode=0o700)
        self.port = free_port()
        self.web_port = free_port()
        self.web_token = os.urandom(16).hex()
        with open(os.path.join(settings, "Torvane.ini"), "w") as f:
            f.write("[Torvane]\nBTorvHaltedAtStartup=NO\n"
                    f"[MyLaps]\nPort={self.port}\n"
                    f"[Ostrak]\nHost=127.0.0.1\nPort={self.host_port}\n"
                    f"[Web]\nPort={self.web_port}\nListen=127.0.0.1\nToken={self.web_token}\n")
        with open(os.path.join(settings, "ChipTable.dtb"), "w") as f:
            f.write(self.chip_table_text())
        self.log_path = os.path.join(settings, "LogFiles", "Torvane-log.txt")
        environment = self.relay_environment(
            QT_QPA_PLATFORM="offscreen", XDG_DATA_HOME=data, XDG_RUNTIME_DIR=runtime,
            TORVANE_LOOP_WATCH=self.loop_watch, TERM="xterm")
        environment.pop("DISPLAY", None)
        environment.pop("WAYLAND_DISPLAY", None)
        if self.on_terminal:
            self.terminal = Terminal()
            self.process = self.terminal.start(
                [self.tools.torvane, "--headless", "--open-flow"], environment)
        else:
            self.process = subprocess.Popen([self.tools.torvane], env=environment,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
        loaded = f"({CHIP_COUNT} entrées)"
        if not wait_until(lambda: loaded in read_text(self.log_path), 30):
            sys.exit("bench: Torvane did not load its chip table:\n" + read_text(self.log_path))
        if not wait_until(lambda: port_accepts(self.port), 10):
            sys.exit("bench: Torvane does not listen")

    def start_baseline(self):
        table = os.path.join(self.folder, "ChipTable.dtb")
        with open(table, "w") as f:
            f.write(self.chip_table_text())
        durable = ["--durable", os.path.join(self.folder, "bursts")] if self.relay == "durable" \
            else []
        self.process = subprocess.Popen(
            [self.tools.baseline] + durable + ["0", str(self.host_port), table],
            env=self.relay_environment(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True)
        line = self.process.stdout.readline()
        match = re.match(r"listening on port (\d+)", line)
        if not match:
            sys.exit(f"bench: baseline-relay did not start: {line!r}")
        self.port = int(match.group(1))

    def start_keeper(self):
        """A second source that stays connected, so that the host link is up (and its queries
        answered) before any measure starts. Its one passing is not counted."""
        self.keeper = subprocess.Popen(
            [self.tools.mylaps_sim, "--port", str(self.port), "--source", "Keep", "--count", "2",
             "--rate", "0.001", "--chip-prefix", KEEPER_CHIP_PREFIX, "--ack-timeout", "0"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: f"\t{KEEPER_CHIP_PREFIX}" in read_text(self.host_log), 30):
            sys.exit("bench: the host link did not come up")
        time.sleep(0.5)

    def sample(self):
        return ProcessSample(self.process.pid)

    def mylaps_command(self, arguments, timing, wait_seconds):
        return [self.tools.mylaps_sim, "--port", str(self.port), "--riders", str(CHIP_COUNT),
                "--ack-timeout", "0", "--wait-acks", str(wait_seconds * 1000),
                "--timing-log", timing] + arguments

    def send(self, arguments, timeout, wait_acks=None):
        """Runs mylaps-sim with the arguments; returns its timing log as (token, sent, acked).
        After its last Store the simulator waits `wait_acks` seconds at most (default: timeout)
        for the acknowledgements still due."""
        timing = os.path.join(self.folder, "timing.log")
        wait = timeout if wait_acks is None else wait_acks
        result = subprocess.run(self.mylaps_command(arguments, timing, wait),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                timeout=timeout + 60)
        return read_timing(timing), result.stdout.strip()

    def start_sending(self, arguments, wait_seconds):
        """Starts mylaps-sim and returns it with the path of its timing log."""
        timing = os.path.join(self.folder, "timing.log")
        process = subprocess.Popen(self.mylaps_command(arguments, timing, wait_seconds),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return process, timing

    def host_detection_times(self, expected, timeout=120):
        """Receive times (ns) of the detections the host got, keeper's left out, in order."""
        def lines():
            times = []
            for line in read_text(self.host_log).splitlines():
                stamp, _, text = line.partition(" ")
                if text.startswith("AddDagClock(") and f"\t{KEEPER_CHIP_PREFIX}" not in text:
                    times.append(int(stamp))
            return times
        found = []

        def complete():
            nonlocal found
            found = lines()
            return len(found) >= expected
        wait_until(complete, timeout, step=0.2)
        return found


def read_timing(path):
    rows = []
    for line in read_text(path).splitlines():
        token, sent, acked = (int(v) for v in line.split())
        rows.append((token, sent, acked))
    rows.sort()
    return rows
