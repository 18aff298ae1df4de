"""Each measure of the benchmark, on a fresh stage (host, relay and sources) of its own."""

import contextlib
import statistics
import subprocess
import time

from pages import Pages

from stage import RELAYS, Stage, log, read_timing, stop

GROWTH_ALLOWANCE_MS = 20
EARLY_DELAY_LIMIT_MS = 100
RATE_CATCH_UP_SECONDS = 10
STATUS_ANSWER_END = "Détections en attente : "


class Setup:
    """Where and how the measures run: the programs, a temporary folder, and by how many ms
    slow-flush.so slows the relay's disk flushes (None: not loaded)."""

    def __init__(self, tools, root, slow_disk):
        self.tools = tools
        self.root = root
        self.slow_disk = slow_disk
        # A slow flush adds to every acknowledgement's delay and to its spread from burst to
        # burst: the rule that tells a relay that kept up allows for it (5 flushes more in the
        # early delay, 2 more of growth).
        flush_ms = slow_disk or 0
        self.early_delay_limit_ms = EARLY_DELAY_LIMIT_MS + 5 * flush_ms
        self.growth_allowance_ms = GROWTH_ALLOWANCE_MS + 2 * flush_ms

    def stage(self, relay, terminal=False):
        assert relay in RELAYS
        return Stage(self.tools, relay, self.root, slow_disk=self.slow_disk, terminal=terminal)


def percentile(values, fraction):
    ordered = sorted(values)
    index = min(len(ordered) - 1, max(0, int(round(fraction * (len(ordered) - 1)))))
    return ordered[index]


def open_pages(stage, count):
    """`count` pages of Torvane's web interface open during a measure (none: nothing)."""
    if not count:
        return contextlib.nullcontext(None)
    return Pages(stage.web_port, stage.web_token, count)


def measure_backlog(setup, relay, passings, per_store, pages=0):
    with setup.stage(relay) as stage, open_pages(stage, pages) as open_ones:
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
        "pages": open_ones.summary() if open_ones else None,
    }


def measure_rate(setup, relay, rate, seconds, per_store, pages=0):
    """Sends `rate` passings per second for `seconds`; tells whether the relay kept up."""
    passings = int(rate * seconds)
    with setup.stage(relay) as stage, open_pages(stage, pages) as open_ones:
        arguments = ["--rate", str(rate), "--count", str(passings), "--per-store", str(per_store)]
        # A relay still behind ten seconds after the last Store has plainly fallen behind: the
        # run ends there rather than waiting for it to catch up.
        began = time.monotonic_ns()
        rows, summary = stage.send(arguments, timeout=int(seconds) + 60,
                                   wait_acks=RATE_CATCH_UP_SECONDS)
        ended = time.monotonic_ns()
        host = stage.host_detection_times(passings, timeout=RATE_CATCH_UP_SECONDS)
        peak = stage.sample().peak_rss_bytes
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
               and early <= setup.early_delay_limit_ms
               and late <= early + setup.growth_allowance_ms)
    return {
        "rate": rate, "kept_up": kept_up, "paced": paced, "early_ms": early, "late_ms": late,
        "max_ms": max(((a - s) / 1e6 for _, s, a in acked), default=float("inf")),
        "acked": len(acked), "stores": len(rows), "host_lines": len(host), "summary": summary,
        "loop_gap_ms": stage.loop_gaps.longest_ms(began, ended),
        "peak_rss": peak,
        "pages": open_ones.summary() if open_ones else None,
    }


def search_rate(setup, relay, seconds, per_store, start, ceiling, runs):
    """Doubles from `start` until a rate fails (or `ceiling`), then halves the gap."""
    tried = []
    good, bad = None, None
    rate = start
    while len(tried) < runs:
        result = measure_rate(setup, relay, rate, seconds, per_store)
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


def measure_latency(setup, relay, rate, seconds):
    """One passing per Store at `rate`: the delay to its line at the host and to its
    acknowledgement at the source."""
    passings = rate * seconds
    with setup.stage(relay) as stage:
        arguments = ["--rate", str(rate), "--count", str(passings), "--per-store", "1"]
        began = time.monotonic_ns()
        rows, summary = stage.send(arguments, timeout=seconds + 60)
        ended = time.monotonic_ns()
        host = stage.host_detection_times(passings, timeout=30)
    acks = [(a - s) / 1e6 for _, s, a in rows if a >= 0]
    if len(host) != len(rows) or len(acks) != len(rows):
        return {"complete": False, "summary": summary}
    # One passing per Store: the n-th detection at the host is the n-th Store's passing.
    delays = [(h - s) / 1e6 for (_, s, _), h in zip(rows, host)]
    return {"complete": True, "p50_ms": percentile(delays, 0.5), "p99_ms": percentile(delays, 0.99),
            "max_ms": max(delays), "ack_p50_ms": percentile(acks, 0.5),
            "ack_p99_ms": percentile(acks, 0.99), "ack_max_ms": max(acks), "summary": summary,
            "loop_gap_ms": stage.loop_gaps.longest_ms(began, ended)}


def measure_cost(setup, relay, passings, per_store, window):
    with setup.stage(relay) as stage:
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


def measure_status(setup, rate, commands, spacing):
    """Torvane without windows on a terminal, fed `rate` passings per second: `status` typed
    `commands` times, `spacing` seconds apart, and how long each took to be answered (to the
    last line of its answer on the screen)."""
    seconds = commands * spacing + 2
    with setup.stage("torvane", terminal=True) as stage:
        sender, timing = stage.start_sending(
            ["--rate", str(rate), "--count", str(int(rate * seconds)), "--per-store", "1"], 10)
        time.sleep(1.0)  # the stream is under way
        began = time.monotonic_ns()
        answers = []
        for _ in range(commands):
            answers.append(time_status(stage.terminal))
            time.sleep(spacing)
        ended = time.monotonic_ns()
        try:
            sender.wait(timeout=seconds + 30)
        except subprocess.TimeoutExpired:
            stop(sender)
        rows = read_timing(timing)
    answered = [a for a in answers if a is not None]
    return {"commands": commands, "answered": len(answered),
            "p50_ms": percentile(answered, 0.5) if answered else None,
            "p95_ms": percentile(answered, 0.95) if answered else None,
            "max_ms": max(answered, default=None),
            "acked": sum(1 for r in rows if r[2] >= 0), "stores": len(rows),
            "loop_gap_ms": stage.loop_gaps.longest_ms(began, ended)}


def time_status(terminal):
    start = terminal.size()
    typed = time.monotonic_ns()
    terminal.type("status\r")
    found = terminal.wait_for(STATUS_ANSWER_END, start, timeout=5)
    if found is None:
        return None
    line_end = terminal.wait_for("\n", found[0], timeout=5)
    return None if line_end is None else (line_end[1] - typed) / 1e6
