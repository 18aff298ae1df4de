#!/usr/bin/env python3
"""Benchmark of the road of a passing: Torvane as an operator runs it, against minimal relays.

Starts the host simulator (ostrak-sim), the relay under measure (Torvane, or bench's
baseline-relay, plain or durable) and the timing-source simulator (mylaps-sim) on loopback, and
measures the backlog times, the sustained rate, the latency at 1,000 passings per second, the
cost in CPU and memory, how soon `status` is answered on a terminal during a stream, and the
longest time Torvane's window thread stays away from its event loop. The slow-disk part does
it again with every disk flush slowed (slow-flush.so). Each measure gets a fresh relay and a
fresh host, on a fresh temporary data folder, and the relays are measured back to back.
Writes the figures as Markdown. It asserts nothing about time: it only measures.

The modules beside it: stage.py (the processes), terminal.py (a pseudo-terminal),
measures.py (each measure), report.py (the tables).
"""

import argparse
import datetime
import os
import shutil
import tempfile

from measures import (Setup, measure_backlog, measure_cost, measure_latency, measure_rate,
                      measure_status, search_rate)
from report import (loop_gap_text, machine_text, mb, report, seconds_text, status_text,
                    write_between_markers)
from stage import Tools, log

NORMAL_RELAYS = ("baseline", "durable", "torvane")
SLOW_RELAYS = ("durable", "torvane")


def log_latency(relay, latency):
    if latency["complete"]:
        log(f"  {relay} at 1,000/s: acknowledged p50 {latency['ack_p50_ms']:.2f} ms, p99 "
            f"{latency['ack_p99_ms']:.2f} ms; at the host p50 {latency['p50_ms']:.2f} ms, p99 "
            f"{latency['p99_ms']:.2f} ms")
    else:
        log(f"  {relay} at 1,000/s: incomplete ({latency['summary']})")


def log_backlog(relay, label, backlog):
    log(f"  {relay}, {label}: forwarded {seconds_text(backlog['forwarded_s'])}, acknowledged "
        f"{seconds_text(backlog['acknowledged_s'])}")


def run_status(setup, args, results):
    status = results["torvane"]["status"] = measure_status(
        setup, args.status_rate, args.status_commands, args.status_spacing)
    log(f"  status at {args.status_rate}/s: {status['answered']} of {status['commands']} "
        f"answered, {status_text(status)}; longest loop gap {loop_gap_text(status)}")


def run_normal(setup, args, relays):
    """Every measure, each relay back to back."""
    results = {relay: {} for relay in relays}
    for key, passings, per_store in (("backlog_10k", args.backlog, args.backlog),
                                     ("backlog_100k", args.big_backlog, 100)):
        for relay in relays:
            results[relay][key] = measure_backlog(setup, relay, passings, per_store)
            log_backlog(relay, f"{passings:,} in Stores of {per_store}", results[relay][key])
    for relay in relays:
        results[relay]["latency"] = measure_latency(setup, relay, 1000, args.latency_seconds)
        log_latency(relay, results[relay]["latency"])
    for relay in relays:
        c = results[relay]["cost"] = measure_cost(setup, relay, args.cost_passings, 100, 16)
        log(f"  {relay} cost: {c['cpu_per_100k']:.2f} CPU s per 100,000, idle "
            f"{mb(c['idle_rss'])}, after {mb(c['rss_after'])}, peak {mb(c['peak_rss'])}")
    for relay in relays:
        results[relay]["rate"] = search_rate(setup, relay, args.rate_seconds, args.per_store,
                                             args.rate_start, args.rate_ceiling, args.rate_runs)
    if "torvane" in relays:
        run_status(setup, args, results)
    return results


def run_slow(setup, args, relays):
    """The figures a slow disk changes: latency, sustained rate, the terminal's answers."""
    results = {relay: {} for relay in relays}
    for relay in relays:
        results[relay]["latency"] = measure_latency(setup, relay, 1000, args.latency_seconds)
        log_latency(relay, results[relay]["latency"])
    for relay in relays:
        results[relay]["rate"] = search_rate(setup, relay, args.rate_seconds, args.per_store,
                                             args.slow_rate_start, args.rate_ceiling,
                                             args.slow_rate_runs)
    if "torvane" in relays:
        run_status(setup, args, results)
    return results


def better(first, second, key):
    return second if first is None or key(second) > key(first) else first


def run_web(setup, args):
    """Torvane without a page and with pages open, in alternate rounds; the best of each."""
    results = {0: {}, args.web_pages: {}}
    for _ in range(args.web_rounds):
        for pages, figures in results.items():
            rate = measure_rate(setup, "torvane", args.web_rate, args.rate_seconds, 10, pages)
            figures["rate"] = better(figures.get("rate"), rate,
                                     lambda r: (r["kept_up"], -r["late_ms"]))
            backlog = measure_backlog(setup, "torvane", args.big_backlog, 100, pages)
            backlog["passings"] = args.big_backlog
            figures["backlog"] = better(figures.get("backlog"), backlog,
                                        lambda b: -(b["acknowledged_s"] or float("inf")))
            kept = "kept up" if rate["kept_up"] else "fell behind"
            log(f"  {pages} pages: {args.web_rate}/s {kept} (ack delay median "
                f"{rate['late_ms']:.1f} ms late), backlog acknowledged in "
                f"{seconds_text(backlog['acknowledged_s'])}")
    return results


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="build folder (optimised)")
    parser.add_argument("--out", help="Markdown file for the figures")
    parser.add_argument("--part", choices=("all", "normal", "slow-disk", "web"),
                        default="all",
                        help="the run on this machine's disk, the one with slowed flushes, "
                             "the one with web pages open, or all three")
    parser.add_argument("--slow-flush-ms", type=int, default=20,
                        help="how much slower each flush is in the slow-disk part")
    parser.add_argument("--backlog", type=int, default=10_000)
    parser.add_argument("--big-backlog", type=int, default=100_000)
    parser.add_argument("--latency-seconds", type=int, default=8)
    parser.add_argument("--cost-passings", type=int, default=300_000)
    parser.add_argument("--rate-seconds", type=int, default=8)
    parser.add_argument("--rate-start", type=int, default=40_000)
    parser.add_argument("--rate-ceiling", type=int, default=160_000)
    parser.add_argument("--rate-runs", type=int, default=3)
    parser.add_argument("--slow-rate-start", type=int, default=20_000)
    parser.add_argument("--slow-rate-runs", type=int, default=3)
    parser.add_argument("--per-store", type=int, default=10,
                        help="passings per Store in the sustained-rate runs")
    parser.add_argument("--status-rate", type=int, default=500,
                        help="passings per second while `status` is typed")
    parser.add_argument("--status-commands", type=int, default=20)
    parser.add_argument("--status-spacing", type=float, default=0.3,
                        help="seconds between two `status` commands")
    parser.add_argument("--web-pages", type=int, default=5,
                        help="pages of the web interface open in the web part")
    parser.add_argument("--web-rate", type=int, default=20_000,
                        help="passings per second of the web part's stream")
    parser.add_argument("--web-rounds", type=int, default=2)
    parser.add_argument("--only", choices=NORMAL_RELAYS,
                        help="measure one relay (for profiling; no report)")
    return parser.parse_args()


def load_text():
    return " ".join(f"{v:.2f}" for v in os.getloadavg())


def main():
    args = parse_arguments()
    tools = Tools(os.path.abspath(args.build))
    started = datetime.datetime.now()
    load_before = load_text()
    root = tempfile.mkdtemp(prefix="torvane-bench-")
    parts = {}
    try:
        if args.part in ("all", "normal"):
            log("== this machine's disk")
            relays = (args.only,) if args.only else NORMAL_RELAYS
            parts["normal"] = run_normal(Setup(tools, root, None), args, relays)
        if args.part in ("all", "slow-disk"):
            log(f"== every flush {args.slow_flush_ms} ms slower")
            relays = (args.only,) if args.only else SLOW_RELAYS
            parts["slow"] = run_slow(Setup(tools, root, args.slow_flush_ms), args, relays)
        if args.part in ("all", "web") and args.only in (None, "torvane"):
            log(f"== {args.web_pages} web pages open")
            parts["web"] = run_web(Setup(tools, root, None), args)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    minutes = (datetime.datetime.now() - started).total_seconds() / 60
    if not args.only:
        command = " ".join(["make bench"] + ([f"BENCH_ARGS='{os.environ['BENCH_ARGS']}'"]
                                             if os.environ.get("BENCH_ARGS") else []))
        header = (f"Date: {started:%Y-%m-%d %H:%M} (local time), {minutes:.1f} minutes\n"
                  f"Machine: {machine_text()}\n"
                  f"Load average before / after: {load_before} / {load_text()}\n"
                  f"Command: `{command}`\n")
        text = report(parts, args, header)
        if args.out:
            write_between_markers(args.out, text)
        print(text)
    log(f"bench: done in {minutes * 60:.0f} s")


if __name__ == "__main__":
    main()
