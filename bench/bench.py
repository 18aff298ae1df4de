#!/usr/bin/env python3
"""Benchmark of the road of a passing: Torvane as an operator runs it, against a minimal relay.

Starts the host simulator (ostrak-sim), the relay under measure (Torvane, or bench's
baseline-relay) and the timing-source simulator (mylaps-sim) on loopback, and measures the
backlog times, the sustained rate, the latency at 1,000 passings per second and the cost in CPU
and memory. Each measure gets a fresh relay and a fresh host, on a fresh temporary data folder.
Writes the figures as Markdown. It asserts nothing about time: it only measures.
"""

import argparse
import datetime
import os
import platform
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

CHIP_COUNT = 50_000
KEEPER_CHIP_PREFIX = "KP"
GROWTH_ALLOWANCE_MS = 20
EARLY_DELAY_LIMIT_MS = 100
RATE_CATCH_UP_SECONDS = 10
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
PAGE_BYTES = os.sysconf("SC_PAGE_SIZE")


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
        for path in (self.torvane, self.mylaps_sim, self.ostrak_sim, self.baseline):
            if not os.access(path, os.X_OK):
                sys.exit(f"bench: {path} is missing (build it first)")


class Stage:
    """One fresh set of peers: the host simulator and the relay under measure, ready to take
    a source, with a keeper source connected that holds the host link open."""

    def __init__(self, tools, relay, root):
        self.tools = tools
        self.relay = relay
        self.folder = tempfile.mkdtemp(prefix="stage-", dir=root)
        self.host_log = os.path.join(self.folder, "host.log")
        self.host = None
        self.process = None
        self.keeper = None
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
        stop(self.host)
        shutil.rmtree(self.folder, ignore_errors=True)

    def chip_table_text(self):
        return "".join(f"KV{n:05d} {n}\n" for n in range(1, CHIP_COUNT + 1))

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
        with open(os.path.join(settings, "Torvane.ini"), "w") as f:
            f.write("[Torvane]\nBTorvHaltedAtStartup=NO\n"
                    f"[MyLaps]\nPort={self.port}\n"
                    f"[Ostrak]\nHost=127.0.0.1\nPort={self.host_port}\n")
        with open(os.path.join(settings, "ChipTable.dtb"), "w") as f:
            f.write(self.chip_table_text())
        self.log_path = os.path.join(settings, "LogFiles", "Torvane-log.txt")
        environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_DATA_HOME=data,
                           XDG_RUNTIME_DIR=runtime)
        environment.pop("DISPLAY", None)
        environment.pop("WAYLAND_DISPLAY", None)
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
        self.process = subprocess.Popen(
            [self.tools.baseline, "0", str(self.host_port), table],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
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

    def send(self, arguments, timeout, wait_acks=None):
        """Runs mylaps-sim with the arguments; returns its timing log as (token, sent, acked).
        After its last Store the simulator waits `wait_acks` seconds at most (default: timeout)
        for the acknowledgements still due."""
        timing = os.path.join(self.folder, "timing.log")
        wait = timeout if wait_acks is None else wait_acks
        command = [self.tools.mylaps_sim, "--port", str(self.port), "--riders", str(CHIP_COUNT),
                   "--ack-timeout", "0", "--wait-acks", str(wait * 1000),
                   "--timing-log", timing] + arguments
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True, timeout=timeout + 60)
        rows = []
        for line in read_text(timing).splitlines():
            token, sent, acked = (int(v) for v in line.split())
            rows.append((token, sent, acked))
        rows.sort()
        return rows, result.stdout.strip()

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


def percentile(values, fraction):
    ordered = sorted(values)
    index = min(len(ordered) - 1, max(0, int(round(fraction * (len(ordered) - 1)))))
    return ordered[index]


def measure_backlog(tools, relay, root, passings, per_store):
    with Stage(tools, relay, root) as stage:
        arguments = ["--backlog", "--count", str(passings), "--per-store", str(per_store)]
        rows, summary = stage.send(arguments, timeout=300)
        host = stage.host_detection_times(passings)
        peak = stage.sample().peak_rss_bytes
    first_sent = min(sent for _, sent, _ in rows)
    acked = [ack for _, _, ack in rows]
    complete = len(host) == passings and acked and min(acked) >= 0
    return {
        "forwarded_s": (max(host) - first_sent) / 1e9 if host else None,
        "acknowledged_s": (max(acked) - first_sent) / 1e9 if complete else None,
        "host_lines": len(host),
        "peak_rss": peak,
        "complete": complete,
        "summary": summary,
    }


def measure_rate(tools, relay, root, rate, seconds, per_store):
    """Sends `rate` passings per second for `seconds`; tells whether the relay kept up."""
    passings = int(rate * seconds)
    with Stage(tools, relay, root) as stage:
        arguments = ["--rate", str(rate), "--count", str(passings), "--per-store", str(per_store)]
        # A relay still behind ten seconds after the last Store has plainly fallen behind: the
        # run ends there rather than waiting for it to catch up.
        rows, summary = stage.send(arguments, timeout=int(seconds) + 60,
                                   wait_acks=RATE_CATCH_UP_SECONDS)
        host = stage.host_detection_times(passings, timeout=RATE_CATCH_UP_SECONDS)
    acked = [r for r in rows if r[2] >= 0]
    first = min(r[1] for r in rows)
    send_span = (max(r[1] for r in rows) - first) / 1e9
    stores = max(1, passings // per_store)
    expected_span = seconds * (stores - 1) / stores

    def delays(start, end):
        window = [(a - s) / 1e6 for _, s, a in acked if start <= (s - first) / 1e9 < end]
        return statistics.median(window) if window else float("inf")

    # Seconds 2 to 7 and the last five of a 30-second run (the same shares of a shorter one).
    early = delays(seconds / 15, seconds / 15 + seconds / 6)
    late = delays(seconds - seconds / 6, seconds)
    paced = send_span <= expected_span * 1.03 + 0.05
    # A relay that falls behind queues more and more: its delay grows from the start, and
    # before long it is already large in the early seconds.
    kept_up = (len(acked) == len(rows) and len(host) == passings and paced
               and early <= EARLY_DELAY_LIMIT_MS and late <= early + GROWTH_ALLOWANCE_MS)
    return {
        "rate": rate, "kept_up": kept_up, "paced": paced, "early_ms": early, "late_ms": late,
        "max_ms": max(((a - s) / 1e6 for _, s, a in acked), default=float("inf")),
        "acked": len(acked), "stores": len(rows), "host_lines": len(host), "summary": summary,
    }


def search_rate(tools, relay, root, seconds, per_store, start, ceiling, runs):
    """Doubles from `start` until a rate fails (or `ceiling`), then halves the gap."""
    tried = []
    good, bad = None, None
    rate = start
    while len(tried) < runs:
        result = measure_rate(tools, relay, root, rate, seconds, per_store)
        tried.append(result)
        log(f"  {relay} at {rate}/s: {'kept up' if result['kept_up'] else 'fell behind'}"
            f" (ack delay median {result['early_ms']:.1f} ms early, {result['late_ms']:.1f} ms"
            f" late, max {result['max_ms']:.1f} ms{'' if result['paced'] else ', sender slow'})")
        if result["kept_up"]:
            good = rate
        else:
            bad = rate
        if bad is None:
            if rate >= ceiling:
                break
            rate = min(ceiling, rate * 2)
        elif good is None:
            rate = rate // 2
        else:
            if bad - good <= max(5000, good // 4):
                break
            rate = (good + bad) // 2 // 1000 * 1000
    return good, bad, tried


def measure_latency(tools, relay, root, rate, seconds):
    passings = rate * seconds
    with Stage(tools, relay, root) as stage:
        arguments = ["--rate", str(rate), "--count", str(passings), "--per-store", "1"]
        rows, summary = stage.send(arguments, timeout=seconds + 60)
        host = stage.host_detection_times(passings, timeout=30)
    if len(host) != len(rows):
        return {"complete": False, "summary": summary}
    # One passing per Store: the n-th detection at the host is the n-th Store's passing.
    delays = [(h - s) / 1e6 for (_, s, _), h in zip(rows, host)]
    return {"complete": True, "p50_ms": percentile(delays, 0.5), "p99_ms": percentile(delays, 0.99),
            "max_ms": max(delays), "summary": summary}


def measure_cost(tools, relay, root, passings, per_store, window):
    with Stage(tools, relay, root) as stage:
        time.sleep(1.0)
        idle = stage.sample()
        arguments = ["--backlog", "--count", str(passings), "--per-store", str(per_store),
                     "--window", str(window)]
        rows, summary = stage.send(arguments, timeout=600)
        host = stage.host_detection_times(passings, timeout=120)
        time.sleep(1.0)  # the last rows reach the lists and the window
        after = stage.sample()
    cpu = after.cpu_seconds - idle.cpu_seconds
    return {
        "complete": len(host) == passings and all(r[2] >= 0 for r in rows),
        "idle_rss": idle.rss_bytes,
        "rss_after": after.rss_bytes,
        "peak_rss": after.peak_rss_bytes,
        "cpu_per_100k": cpu * 100_000 / passings,
        "bytes_per_passing": (after.rss_bytes - idle.rss_bytes) / passings,
        "summary": summary,
    }


def machine_text():
    cpu = "unknown processor"
    for line in read_text("/proc/cpuinfo").splitlines():
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    memory = int(re.search(r"MemTotal:\s+(\d+)", read_text("/proc/meminfo")).group(1)) // 1024
    distro = re.search(r'PRETTY_NAME="([^"]+)"', read_text("/etc/os-release"))
    return (f"{cpu}, {os.cpu_count()} cores, {memory / 1024:.0f} GiB, "
            f"{distro.group(1) if distro else platform.system()}, Linux {platform.release()}")


def mb(value):
    return f"{value / 1e6:.1f} MB"


def ratio(ours, theirs):
    if ours is None or theirs in (None, 0):
        return "n/a"
    return f"{ours / theirs:.2f}"


def seconds_text(value):
    return "incomplete" if value is None else f"{value:.3f} s"


def rate_text(good, bad, ceiling):
    if good is None:
        return f"below {bad:,}/s"
    if bad is None and good >= ceiling:
        return f"at least {good:,}/s (highest rate tried)"
    return f"{good:,}/s"


def run_all(tools, args, root, relays):
    results = {}
    for relay in relays:
        log(f"== {relay}")
        r = results[relay] = {}
        r["backlog_10k"] = measure_backlog(tools, relay, root, args.backlog, args.backlog)
        log(f"  backlog {args.backlog:,} in one Store: forwarded "
            f"{seconds_text(r['backlog_10k']['forwarded_s'])}, acknowledged "
            f"{seconds_text(r['backlog_10k']['acknowledged_s'])}")
        r["backlog_100k"] = measure_backlog(tools, relay, root, args.big_backlog, 100)
        log(f"  backlog {args.big_backlog:,} in Stores of 100: forwarded "
            f"{seconds_text(r['backlog_100k']['forwarded_s'])}, acknowledged "
            f"{seconds_text(r['backlog_100k']['acknowledged_s'])}")
        r["latency"] = measure_latency(tools, relay, root, 1000, args.latency_seconds)
        if r["latency"]["complete"]:
            log(f"  latency at 1,000/s: p50 {r['latency']['p50_ms']:.2f} ms, p99 "
                f"{r['latency']['p99_ms']:.2f} ms, max {r['latency']['max_ms']:.2f} ms")
        r["cost"] = measure_cost(tools, relay, root, args.cost_passings, 100, 16)
        c = r["cost"]
        log(f"  cost: {c['cpu_per_100k']:.2f} CPU s per 100,000, idle {mb(c['idle_rss'])}, "
            f"after {args.cost_passings:,} {mb(c['rss_after'])}, peak {mb(c['peak_rss'])}, "
            f"{c['bytes_per_passing']:.0f} bytes per passing")
        r["rate"] = search_rate(tools, relay, root, args.rate_seconds, args.per_store,
                                args.rate_start, args.rate_ceiling, args.rate_runs)
    return results


def report(results, args, command, started, load_before, load_after):
    t, b = results["torvane"], results["baseline"]
    lines = []
    add = lines.append
    add("| Figure | Torvane | Baseline relay | Torvane / baseline |")
    add("|---|---|---|---|")
    for key, label in (("backlog_10k", f"Backlog of {args.backlog:,} in one Store"),
                       ("backlog_100k", f"Backlog of {args.big_backlog:,} in Stores of 100")):
        for what, name in (("forwarded_s", "last `AddDagClock` at the host"),
                           ("acknowledged_s", "last acknowledgement")):
            add(f"| {label}: {name} | {seconds_text(t[key][what])} | "
                f"{seconds_text(b[key][what])} | {ratio(t[key][what], b[key][what])} |")
        tput_t = args_rate(t[key], key, args)
        tput_b = args_rate(b[key], key, args)
        add(f"| {label}: passings per second | {tput_t} | {tput_b} | "
            f"{ratio(number(tput_t), number(tput_b))} |")
    tg, tb, _ = t["rate"]
    bg, bb, _ = b["rate"]
    add(f"| Sustained rate for {args.rate_seconds} s ({args.per_store} per Store) | "
        f"{rate_text(tg, tb, args.rate_ceiling)} | {rate_text(bg, bb, args.rate_ceiling)} | "
        f"{ratio(tg, bg)} |")
    for what, name in (("p50_ms", "p50"), ("p99_ms", "p99"), ("max_ms", "maximum")):
        tv = t["latency"].get(what)
        bv = b["latency"].get(what)
        add(f"| Latency at 1,000/s, {name} | {fmt_ms(tv)} | {fmt_ms(bv)} | {ratio(tv, bv)} |")
    tc, bc = t["cost"], b["cost"]
    add(f"| CPU seconds per 100,000 passings | {tc['cpu_per_100k']:.2f} | "
        f"{bc['cpu_per_100k']:.2f} | {ratio(tc['cpu_per_100k'], bc['cpu_per_100k'])} |")
    add(f"| Resident memory, idle | {mb(tc['idle_rss'])} | {mb(bc['idle_rss'])} | "
        f"{ratio(tc['idle_rss'], bc['idle_rss'])} |")
    add(f"| Resident memory after {args.cost_passings:,} passings | {mb(tc['rss_after'])} | "
        f"{mb(bc['rss_after'])} | {ratio(tc['rss_after'], bc['rss_after'])} |")
    add(f"| Peak resident memory (those {args.cost_passings:,}) | {mb(tc['peak_rss'])} | "
        f"{mb(bc['peak_rss'])} | {ratio(tc['peak_rss'], bc['peak_rss'])} |")
    add(f"| Peak resident memory (backlog of {args.big_backlog:,}) | "
        f"{mb(t['backlog_100k']['peak_rss'])} | {mb(b['backlog_100k']['peak_rss'])} | "
        f"{ratio(t['backlog_100k']['peak_rss'], b['backlog_100k']['peak_rss'])} |")
    add(f"| Resident bytes per passing (listed detection) | {tc['bytes_per_passing']:.0f} | "
        f"{bc['bytes_per_passing']:.0f} | n/a (the relay keeps no list) |")
    table = "\n".join(lines)

    runs = []
    for relay in ("torvane", "baseline"):
        for r in results[relay]["rate"][2]:
            runs.append(f"| {relay} | {r['rate']:,} | {'yes' if r['kept_up'] else 'no'} | "
                        f"{r['early_ms']:.1f} | {r['late_ms']:.1f} | {r['max_ms']:.1f} | "
                        f"{'yes' if r['paced'] else 'no'} |")
    rate_runs = "\n".join(["| Relay | Rate (/s) | Kept up | Ack delay median, s 2-7 (ms) | "
                           "Ack delay median, last 5 s (ms) | Ack delay max (ms) | "
                           "Sender kept pace |", "|---|---|---|---|---|---|---|"] + runs)
    return f"""Date: {started:%Y-%m-%d %H:%M} (local time)
Machine: {machine_text()}
Load average before / after: {load_before} / {load_after}
Command: `{command}`

{table}

Runs of the sustained-rate search:

{rate_runs}
"""


def number(text):
    match = re.match(r"([\d,]+)", text or "")
    return int(match.group(1).replace(",", "")) if match else None


def args_rate(result, key, args):
    passings = args.backlog if key == "backlog_10k" else args.big_backlog
    if result["acknowledged_s"] is None:
        return "incomplete"
    return f"{int(passings / result['acknowledged_s']):,}"


def fmt_ms(value):
    return "n/a" if value is None else f"{value:.2f} ms"


BEGIN_MARK = "<!-- figures of the last `make bench`: begin -->"
END_MARK = "<!-- figures of the last `make bench`: end -->"


def write_between_markers(path, text):
    """Puts the figures between the markers of the file, keeping the rest of it."""
    old = read_text(path)
    block = f"{BEGIN_MARK}\n{text}{END_MARK}"
    if BEGIN_MARK in old and END_MARK in old:
        head, rest = old.split(BEGIN_MARK, 1)
        tail = rest.split(END_MARK, 1)[1]
        new = head + block + tail
    else:
        new = (old + "\n" if old else "# Benchmark results\n\n") + block + "\n"
    with open(path, "w") as f:
        f.write(new)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="build folder (optimised)")
    parser.add_argument("--out", help="Markdown file for the figures")
    parser.add_argument("--backlog", type=int, default=10_000)
    parser.add_argument("--big-backlog", type=int, default=100_000)
    parser.add_argument("--latency-seconds", type=int, default=10)
    parser.add_argument("--cost-passings", type=int, default=1_000_000)
    parser.add_argument("--rate-seconds", type=int, default=30)
    parser.add_argument("--rate-start", type=int, default=20_000)
    parser.add_argument("--rate-ceiling", type=int, default=160_000)
    parser.add_argument("--rate-runs", type=int, default=5)
    parser.add_argument("--per-store", type=int, default=10,
                        help="passings per Store in the sustained-rate runs")
    parser.add_argument("--only", choices=("torvane", "baseline"),
                        help="measure one relay (for profiling; no report)")
    args = parser.parse_args()

    tools = Tools(os.path.abspath(args.build))
    started = datetime.datetime.now()
    load_before = " ".join(f"{v:.2f}" for v in os.getloadavg())
    root = tempfile.mkdtemp(prefix="torvane-bench-")
    relays = (args.only,) if args.only else ("baseline", "torvane")
    try:
        results = run_all(tools, args, root, relays)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    if not args.only:
        load_after = " ".join(f"{v:.2f}" for v in os.getloadavg())
        command = " ".join(["make bench"] + ([f"BENCH_ARGS='{os.environ['BENCH_ARGS']}'"]
                                             if os.environ.get("BENCH_ARGS") else []))
        text = report(results, args, command, started, load_before, load_after)
        if args.out:
            write_between_markers(args.out, text)
        print(text)
    log(f"bench: done in {(datetime.datetime.now() - started).total_seconds():.0f} s")


if __name__ == "__main__":
    main()
