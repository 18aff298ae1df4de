"""The figures of a run as Markdown: one table per part, Torvane's figure with its ratio to each
yardstick relay (Torvane's figure divided by the relay's)."""

import os
import platform
import re

from stage import read_text

NAMES = {"baseline": "Plain relay", "durable": "Durable relay"}
BEGIN_MARK = "<!-- figures of the last `make bench`: begin -->"
END_MARK = "<!-- figures of the last `make bench`: end -->"


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
    return "n/a" if value is None else f"{value / 1e6:.1f} MB"


def ratio(ours, theirs):
    if ours is None or theirs in (None, 0):
        return "n/a"
    return f"{ours / theirs:.2f}"


def seconds_text(value):
    return "incomplete" if value is None else f"{value:.3f} s"


def ms_text(value):
    return "n/a" if value is None else f"{value:.2f} ms"


def rate_text(good, bad, ceiling):
    if good is None:
        return f"below {bad:,}/s"
    if bad is None and good >= ceiling:
        return f"at least {good:,}/s (highest rate tried)"
    return f"{good:,}/s"


class Table:
    """Rows of Torvane's figure, each yardstick's, and Torvane's ratio to each."""

    def __init__(self, yardsticks):
        self.yardsticks = yardsticks
        names = [NAMES[y] for y in yardsticks]
        self.lines = ["| Figure | Torvane | " + " | ".join(names) + " | " +
                      " | ".join(f"Torvane / {n.split()[0].lower()}" for n in names) + " |",
                      "|---" * (2 + 2 * len(yardsticks)) + "|"]

    def add(self, label, values, show):
        """values: relay -> number (None when missing); show: number -> text."""
        self.add_texts(label, {relay: show(value) for relay, value in values.items()}, values)

    def add_texts(self, label, texts, values):
        """texts: relay -> the cell; values: relay -> the number the ratios divide."""
        relays = ["torvane"] + self.yardsticks
        cells = [texts.get(relay, "n/a") for relay in relays]
        ratios = [ratio(values.get("torvane"), values.get(y)) for y in self.yardsticks]
        self.lines.append(f"| {label} | " + " | ".join(cells + ratios) + " |")

    def add_own(self, label, text):
        """A figure of Torvane's alone (the relays have no window thread or terminal)."""
        blanks = ["n/a"] * (2 * len(self.yardsticks))
        self.lines.append(f"| {label} | {text} | " + " | ".join(blanks) + " |")

    def text(self):
        return "\n".join(self.lines)


def each(results, pick):
    values = {}
    for relay, figures in results.items():
        try:
            values[relay] = pick(figures)
        except (KeyError, TypeError):
            values[relay] = None
    return values


def acknowledged_rate(passings):
    def pick(result):
        seconds = result["acknowledged_s"]
        return None if seconds is None else passings / seconds
    return pick


def add_common_rows(table, results, args):
    for what, name in (("ack_p50_ms", "acknowledgement, p50"),
                       ("ack_p99_ms", "acknowledgement, p99"),
                       ("ack_max_ms", "acknowledgement, maximum"),
                       ("p50_ms", "line at the host, p50"), ("p99_ms", "line at the host, p99"),
                       ("max_ms", "line at the host, maximum")):
        table.add(f"Latency at 1,000/s, {name}", each(results, lambda r: r["latency"][what]),
                  ms_text)
    table.add_texts(f"Sustained rate for {args.rate_seconds} s ({args.per_store} per Store)",
                    {relay: rate_text(*figures["rate"][:2], args.rate_ceiling)
                     for relay, figures in results.items()},
                    each(results, lambda r: r["rate"][0]))


def loop_gap_text(result):
    gap = result.get("loop_gap_ms") if result else None
    return "not measured" if gap is None else f"{gap:.1f} ms"


def status_text(status):
    if not status or status["p50_ms"] is None:
        return "no answer"
    missed = status["commands"] - status["answered"]
    return (f"p50 {status['p50_ms']:.1f} ms, p95 {status['p95_ms']:.1f} ms, max "
            f"{status['max_ms']:.1f} ms" + (f" ({missed} unanswered)" if missed else ""))


def add_window_rows(table, torvane, args):
    table.add_own(f"`status` on the terminal at {args.status_rate}/s (window-less Torvane)",
                  status_text(torvane.get("status")))
    rate_gaps = [r["loop_gap_ms"] for r in torvane["rate"][2] if r.get("loop_gap_ms") is not None]
    gaps = [loop_gap_text(torvane["latency"]), loop_gap_text(torvane.get("status")),
            f"{max(rate_gaps):.1f} ms" if rate_gaps else "not measured"]
    table.add_own("Window thread's longest gap between two turns of its loop: latency run, "
                  "`status` run, rate runs (the longest)", ", ".join(gaps))


def normal_table(results, args):
    table = Table([r for r in ("baseline", "durable") if r in results])
    for key, label, passings in (
            ("backlog_10k", f"Backlog of {args.backlog:,} in one Store", args.backlog),
            ("backlog_100k", f"Backlog of {args.big_backlog:,} in Stores of 100",
             args.big_backlog)):
        table.add(f"{label}: last `AddDagClock` at the host",
                  each(results, lambda r: r[key]["forwarded_s"]), seconds_text)
        table.add(f"{label}: last acknowledgement",
                  each(results, lambda r: r[key]["acknowledged_s"]), seconds_text)
        table.add(f"{label}: passings acknowledged per second",
                  each(results, lambda r: acknowledged_rate(passings)(r[key])),
                  lambda v: "incomplete" if v is None else f"{int(v):,}")
    add_common_rows(table, results, args)
    cost = args.cost_passings
    table.add(f"CPU seconds per 100,000 passings ({cost:,} in Stores of 100)",
              each(results, lambda r: r["cost"]["cpu_per_100k"]),
              lambda v: "n/a" if v is None else f"{v:.2f}")
    for what, name in (("idle_rss", "Resident memory, idle"),
                       ("rss_after", f"Resident memory after {cost:,} passings"),
                       ("peak_rss", f"Peak resident memory (those {cost:,})")):
        table.add(name, each(results, lambda r: r["cost"][what]), mb)
    table.add(f"Peak resident memory (backlog of {args.big_backlog:,})",
              each(results, lambda r: r["backlog_100k"]["peak_rss"]), mb)
    add_window_rows(table, results["torvane"], args)
    return table.text()


def slow_table(results, args):
    table = Table([r for r in ("durable",) if r in results])
    add_common_rows(table, results, args)
    add_window_rows(table, results["torvane"], args)
    return table.text()


def web_table(results, args):
    """The same streams without a page and with pages open (the best of the rounds)."""
    none, some = results[0], results[args.web_pages]
    pages = some["rate"]["pages"]
    lines = [f"| Figure | No page | {args.web_pages} pages | Ratio |", "|---|---|---|---|"]

    def row(name, ours, theirs, text):
        lines.append(f"| {name} | {text(ours)} | {text(theirs)} | {ratio(theirs, ours)} |")

    rate = f"{args.web_rate:,}/s for {args.rate_seconds} s (10 per Store)"
    kept = lambda r: "yes" if r["kept_up"] else "no"
    lines.append(f"| Stream of {rate}: kept up | {kept(none['rate'])} | {kept(some['rate'])} | |")
    for key, name in (("early_ms", "ack delay median, first sixth but one"),
                      ("late_ms", "ack delay median, last sixth"), ("max_ms", "ack delay max")):
        row(f"Stream of {rate}: {name}", none["rate"][key], some["rate"][key], ms_text)
    row(f"Stream of {rate}: peak resident memory", none["rate"]["peak_rss"],
        some["rate"]["peak_rss"], mb)
    per_second = lambda b: b["passings"] / b["acknowledged_s"] if b["acknowledged_s"] else None
    row(f"Backlog of {args.big_backlog:,} in Stores of 100: passings acknowledged per second",
        per_second(none["backlog"]), per_second(some["backlog"]),
        lambda v: "n/a" if v is None else f"{v:,.0f}")
    lines.append("")
    lines.append(f"During the stream each live page got {pages['updates_per_s']:.1f} updates a "
                 f"second and fetched detections and results at each ({pages['requests']:,} "
                 f"requests, p95 {ms_text(pages['request_p95_ms'])}, {pages['failures']} "
                 f"failed); {pages['stalled']} of the {pages['pages']} pages read nothing."
                 + (f" Errors: {'; '.join(pages['errors'])}." if pages["errors"] else ""))
    return "\n".join(lines)


def rate_runs_text(parts):
    lines = ["| Disk | Relay | Rate (/s) | Kept up | Ack delay median, first sixth but one "
             "(ms) | Ack delay median, last sixth (ms) | Ack delay max (ms) | Sender kept pace |",
             "|---|---|---|---|---|---|---|---|"]
    for part, results in parts.items():
        if part == "web":
            continue
        for relay, figures in results.items():
            for r in figures["rate"][2]:
                lines.append(f"| {part} | {relay} | {r['rate']:,} | "
                             f"{'yes' if r['kept_up'] else 'no'} | {r['early_ms']:.1f} | "
                             f"{r['late_ms']:.1f} | {r['max_ms']:.1f} | "
                             f"{'yes' if r['paced'] else 'no'} |")
    return "\n".join(lines)


def report(parts, args, header):
    """parts: "normal" and/or "slow" -> relay -> figures; header: the run's conditions."""
    text = header + "\n"
    if "normal" in parts:
        text += "\nThis machine's disk:\n\n" + normal_table(parts["normal"], args) + "\n"
    if "slow" in parts:
        text += (f"\nEvery `fdatasync` and `fsync` {args.slow_flush_ms} ms slower "
                 "(slow-flush.so), Torvane and the durable relay:\n\n" +
                 slow_table(parts["slow"], args) + "\n")
    if "web" in parts:
        text += (f"\nTorvane with {args.web_pages} pages of its web interface open, live "
                 "updates on, one page stalled (it reads nothing):\n\n" +
                 web_table(parts["web"], args) + "\n")
    text += "\nRuns of the sustained-rate searches:\n\n" + rate_runs_text(parts) + "\n"
    return text


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
