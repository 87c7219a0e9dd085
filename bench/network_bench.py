#!/usr/bin/env python3
"""Measures beaconvigilor-headless against fping on far hosts beyond the test network's router.

Runs, as root, in the monitor namespace of the test network
(tests/lab/network-lab.sh) that `bench/run.sh --network` made. The far hosts
(a /18 of 198.18.0.0/15 that run.sh routes there) are addresses of the lab's
far namespace, where bench/echo_responder answers every echo request after a
delay (silent hosts get none) and notes when each one arrived: the gaps
between two requests to one host come from that note. In each run of ours
one answering host is silenced by the lab and made to answer again. Prints a
table and whether each budget is met. With --ci it runs the small form and
fails only on misbehaviour, never on a timing.
"""

import argparse
import ipaddress
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from collections import defaultdict, namedtuple

from bench import COUNTS_LINE, Failure, fping_version, machine_description, peak_resident_kb, \
    process_cpu_seconds, wait_until

LAB = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "lab", "network-lab.sh")
HOSTS = ipaddress.ip_network("198.19.64.0/18")  # set from --hosts
SILENCED = set()
DEFAULT_INTERVAL = 30000  # the program's own, used when a row names no -pt
DEFAULT_MAX = 6
STARTED = []

# interval None: the program's default, no -pt given. max_in_flight None: no -max given.
Row = namedtuple("Row", "label answering silent interval delay max_in_flight seconds")

FULL_ROWS = [
    Row("300+0", 300, 0, 5000, 50, None, 75),
    Row("300+6", 300, 6, 5000, 50, None, 75),
    Row("300+30", 300, 30, 5000, 50, None, 75),
    Row("300+100", 300, 100, 5000, 50, None, 75),
    Row("2000", 1900, 100, None, 50, 64, 180),
    Row("10000", 9500, 500, None, 50, 256, 180),
]
CI_ROW = Row("ci", 30, 3, 5000, 50, None, 40)


def interval_ms(row):
    return row.interval or DEFAULT_INTERVAL


def red_budget(row):
    interval = interval_ms(row) / 1000.0
    return max(2 * interval + 10, interval + 20) + 2


def green_budget(row):
    return interval_ms(row) / 1000.0 + 2


def address(index):
    # From the network's .1.1 on, 254 to each third byte.
    return str(HOSTS[256 * (1 + index // 254) + 1 + index % 254])


def write_hosts(row, directory):
    """Silent hosts spread evenly through the list; the dropped one answers, mid-list."""
    count = row.answering + row.silent
    silent_positions = {int((i + 0.5) * count / row.silent) for i in range(row.silent)}
    answering = [address(i) for i in range(count) if i not in silent_positions]
    silent = [address(i) for i in sorted(silent_positions)]
    paths = {name: os.path.join(directory, name + ".txt") for name in ("hosts", "addresses", "silent")}
    with open(paths["hosts"], "w") as ours, open(paths["addresses"], "w") as theirs:
        for index in range(count):
            ours.write("h%d\t%s\tfar host %d\n" % (index, address(index), index))
            theirs.write(address(index) + "\n")
    with open(paths["silent"], "w") as listed:
        listed.write("".join(a + "\n" for a in silent))
    return paths, set(answering), set(silent), answering[len(answering) // 2]


def far(options, *command):
    return ["nsenter", "--net=/var/run/netns/" + options.lab + "-far"] + list(command)


def drop(options, target):
    SILENCED.add(target)
    subprocess.run([LAB, "silence", options.lab, target], check=True)


def undrop(options):
    if SILENCED:
        subprocess.run([LAB, "answer", options.lab] + sorted(SILENCED), check=True)
        SILENCED.clear()


def start_responder(options, row, silent_path, capture_path, directory):
    errors = open(os.path.join(directory, "responder.txt"), "w")
    process = subprocess.Popen(far(options, options.responder, str(row.delay), silent_path, capture_path),
                               stdout=subprocess.PIPE, stderr=errors)
    errors.close()
    STARTED.append(process)
    if process.stdout.readline().strip() != b"ready":
        raise Failure("the echo responder did not start (status %s)" % process.wait())
    return process


def stop_responder(process, capture_path):
    process.send_signal(signal.SIGTERM)
    process.wait(timeout=30)
    arrivals = defaultdict(list)
    with open(capture_path) as capture:
        for line in capture:
            host, ms = line.split("\t")
            arrivals[host].append(int(ms) / 1000.0)
    return arrivals


class LogWatcher:
    """Stamps each log line (monotonic clock) as it appears."""

    def __init__(self, path):
        self.path = path
        self.lines = []  # (time, status, host)
        self.lock = threading.Lock()
        self.stopping = False
        self.thread = threading.Thread(target=self.poll, daemon=True)
        self.thread.start()

    def poll(self):
        seen = 0
        while not self.stopping:
            now = time.monotonic()
            try:
                with open(self.path, "rb") as log:
                    log.seek(seen)
                    tail = log.read()
                complete = tail[:tail.rfind(b"\n") + 1]
                seen += len(complete)
                for line in complete.decode(errors="replace").splitlines():
                    fields = line.split("\t")
                    if len(fields) > 3:
                        with self.lock:
                            self.lines.append((now, fields[1], fields[3]))
            except FileNotFoundError:
                pass
            time.sleep(0.05)

    def first(self, status, host, after):
        with self.lock:
            return next((t for t, s, h in self.lines if s == status and h == host and t >= after), None)

    def hosts(self, status):
        with self.lock:
            return {h for _, s, h in self.lines if s == status}


def max_supported(program):
    """Whether this build knows -max: an unknown option is a usage error (status 1)."""
    result = subprocess.run([program, "-max", "6"], capture_output=True, text=True, timeout=20)
    return result.returncode == 0 and "Unrecognized" not in result.stdout + result.stderr


def engine_counts(process, errors_path):
    def text():
        with open(errors_path, errors="replace") as errors:
            return errors.read()
    before = len(COUNTS_LINE.findall(text()))
    process.send_signal(signal.SIGUSR2)
    if not wait_until(lambda: len(COUNTS_LINE.findall(text())) > before, 10):
        raise Failure("no engine counts on SIGUSR2 (program %s)" % ("alive" if process.poll() is None else "gone"))
    sent, matched, awaiting, lost = map(int, COUNTS_LINE.findall(text())[-1])
    return {"sent": sent, "matched": matched, "awaiting": awaiting, "lost_hosts": lost}


def run_ours(options, row, paths, target, directory, problems):
    log = os.path.join(directory, "log.txt")
    errors_path = os.path.join(directory, "errors.txt")
    command = [options.program, "-in", paths["hosts"], "-out", log, "-red", os.path.join(directory, "down.txt")]
    if row.interval:
        command += ["-pt", str(row.interval)]
    if row.max_in_flight and not options.no_max:
        command += ["-max", str(row.max_in_flight)]
    with open(errors_path, "w") as errors:
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=errors, cwd=directory)
    STARTED.append(process)
    started = time.monotonic()
    watcher = LogWatcher(log)
    result = {"red": None, "green": None}
    interval = interval_ms(row) / 1000.0
    try:
        time.sleep(interval + 5)
        if process.poll() is not None:
            raise Failure("ours ended by itself with status %s" % process.returncode)
        drop(options, target)
        dropped = time.monotonic()
        red_limit = 60 if options.ci else red_budget(row) + 20
        red = wait_until(lambda: watcher.first("RED", target, dropped), red_limit, 0.05)
        undrop(options)
        restored = time.monotonic()
        green = None
        if red:
            result["red"] = red - dropped
            green = wait_until(lambda: watcher.first("GREEN", target, restored), 30 if options.ci else
                               green_budget(row) + 20, 0.05)
        if green:
            result["green"] = green - restored
        if options.ci and not (red and green):
            problems.append("no %s line for the dropped host %s within %d s"
                            % ("RED" if not red else "GREEN", target, red_limit if not red else 30))
        time.sleep(max(0.0, started + row.seconds - time.monotonic()))
        if process.poll() is not None:
            raise Failure("ours ended by itself with status %s" % process.returncode)
        # Stamped before asking: every request the far side saw before it is in the counts.
        result["counted_at"] = time.monotonic()
        result["counts"] = engine_counts(process, errors_path)
        result["cpu"] = process_cpu_seconds(process.pid)
        result["peak_kb"] = peak_resident_kb(process.pid)
        result["wall"] = time.monotonic() - started
        process.send_signal(signal.SIGTERM)
        try:
            status = process.wait(timeout=interval + 20)
        except subprocess.TimeoutExpired:
            raise Failure("ours did not end within its interval after SIGTERM")
        if status != 0:
            problems.append("ours ended with status %d after SIGTERM" % status)
    finally:
        undrop(options)
        watcher.stopping = True
    result["green_hosts"] = watcher.hosts("GREEN")
    result["red_hosts"] = watcher.hosts("RED")
    return result


def run_fping(options, row, paths, directory):
    command = ["fping", "-l", "-q", "-p", str(interval_ms(row)), "-i", "1", "-f", paths["addresses"]]
    with open(os.path.join(directory, "fping.txt"), "w") as output:
        process = subprocess.Popen(command, stdout=output, stderr=output)
    STARTED.append(process)
    started = time.monotonic()
    time.sleep(row.seconds)
    if process.poll() is not None:
        raise Failure("fping ended by itself with status %s" % process.returncode)
    result = {"cpu": process_cpu_seconds(process.pid), "peak_kb": peak_resident_kb(process.pid),
              "wall": time.monotonic() - started, "counted_at": time.monotonic(), "red": None, "green": None}
    process.send_signal(signal.SIGINT)
    process.wait(timeout=30)
    return result


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(fraction * len(ordered)) - 1)]


def gap_figures(arrivals, hosts, end, interval):
    """Requests per host per minute and the gaps, over the answering hosts given.

    A host still unasked at the end for longer than the interval + 2 s has a
    gap at least that long already; it counts, and the figures become lower
    bounds (marked "≥"), or a starved host would make them look better.
    """
    start = min((times[0] for times in arrivals.values() if times), default=end)
    gaps = []
    requests = 0
    starved = 0
    open_gaps = False
    for host in hosts:
        times = [t for t in arrivals.get(host, []) if t <= end]
        requests += len(times)
        if len(times) < 2:
            starved += 1
        gaps += [b - a for a, b in zip(times, times[1:])]
        waiting = end - (times[-1] if times else start)
        if waiting > interval + 2:
            gaps.append(waiting)
            open_gaps = True
    minutes = max(end - start, 1e-9) / 60.0
    figures = {"per_minute": requests / len(hosts) / minutes, "starved": starved, "open_gaps": open_gaps}
    if gaps:
        figures.update(median=percentile(gaps, 0.5), p99=percentile(gaps, 0.99), longest=max(gaps))
    return figures


def judge_ours(result, in_flight, arrivals, answering, silent, target, problems):
    """Misbehaviour only: counts that do not balance, lines for the wrong hosts."""
    counts = result["counts"]
    # A request gives its count back after -to, but its host awaits the reply
    # for the whole time-out: more hosts than -max may be awaiting one.
    if counts["sent"] < counts["matched"] + counts["awaiting"] or counts["awaiting"] > len(answering) + len(silent):
        problems.append("counts do not balance: %s" % counts)
    if counts["lost_hosts"] > len(silent) + 1:
        problems.append("%d hosts with a lost request, at most the %d silent ones and the dropped one expected"
                        % (counts["lost_hosts"], len(silent)))
    asked = lambda host: len([t for t in arrivals.get(host, []) if t <= result["counted_at"]])
    silent_asked_twice = sum(1 for host in silent if asked(host) >= 2)
    if counts["lost_hosts"] < silent_asked_twice:
        problems.append("%d hosts with a lost request, but %d silent hosts were asked twice or more"
                        % (counts["lost_hosts"], silent_asked_twice))
    answerable = sum(asked(host) for host in answering)
    if counts["matched"] > answerable:
        problems.append("%d replies matched, but only %d requests reached answering hosts"
                        % (counts["matched"], answerable))
    if result["green_hosts"] & silent:
        problems.append("GREEN lines for silent hosts: %s" % sorted(result["green_hosts"] & silent)[:5])
    wrongly_red = result["red_hosts"] - silent - {target}
    if wrongly_red:
        problems.append("RED lines for answering hosts: %s" % sorted(wrongly_red)[:5])


def seconds_text(value, lower_bound=False, digits=1):
    return ("≥" if lower_bound else "") + "%.*f" % (digits, value) if value is not None else "—"


def run_row(options, row, work, program_max, out):
    """Ours and fping, one after the other, each with a fresh responder."""
    directory = os.path.join(work, row.label)
    os.makedirs(directory)
    paths, answering, silent, target = write_hosts(row, directory)
    measured = answering - {target}
    lines = []
    problems = []
    programs = ["ours"] if options.ci else ["ours", "fping"]
    figures_by_program = {}
    for program in programs:
        if program == "ours" and row.max_in_flight and not options.no_max and not program_max:
            lines.append((program, None))
            continue
        run_directory = os.path.join(directory, program)
        os.makedirs(run_directory)
        capture = os.path.join(run_directory, "capture.txt")
        responder = start_responder(options, row, paths["silent"], capture, run_directory)
        try:
            if program == "ours":
                result = run_ours(options, row, paths, target, run_directory, problems)
            else:
                result = run_fping(options, row, paths, run_directory)
        finally:
            arrivals = stop_responder(responder, capture)
        if program == "ours":
            in_flight = row.max_in_flight if row.max_in_flight and not options.no_max else DEFAULT_MAX
            judge_ours(result, in_flight, arrivals, answering, silent, target, problems)
        result.update(gap_figures(arrivals, measured, result["counted_at"], interval_ms(row) / 1000.0))
        figures_by_program[program] = result
        lines.append((program, result))
    max_text = str(row.max_in_flight) if row.max_in_flight and not options.no_max else "-"
    for program, result in lines:
        head = "| %s | %s | %d+%d | %s | %s |" % (row.label, program, row.answering, row.silent,
                                               interval_ms(row), max_text if program == "ours" else "-")
        if result is None:
            out.write(head + " not supported by this build |\n")
            continue
        out.write(head + " %.2f | %s | %s | %s | %d | %s | %s | %.2f | %.2f | %.1f |\n"
                  % (result["per_minute"], seconds_text(result.get("median"), result["open_gaps"]),
                     seconds_text(result.get("p99"), result["open_gaps"]),
                     seconds_text(result.get("longest"), result["open_gaps"]), result["starved"],
                     seconds_text(result["red"]),
                     seconds_text(result["green"]), result["cpu"], result["cpu"] / result["wall"] * 60,
                     result["peak_kb"] / 1024.0))
    out.flush()
    return figures_by_program, problems


def budget_lines(row, figures):
    ours = figures.get("ours")
    if not ours:
        return []
    interval = interval_ms(row) / 1000.0

    def check(text, value, limit, lower_bound=False):
        met = value is not None and value <= limit
        # Two decimals: a figure just over its limit must not print as equal to it.
        return "%s: %s ≤ %.1f s (%s): %s" % (row.label, text, limit, seconds_text(value, lower_bound, 2),
                                            "met" if met else "NOT MET")
    lines = [check("99th-percentile gap", ours.get("p99"), interval + 1, ours["open_gaps"]),
             check("longest gap", ours.get("longest"), interval + 2, ours["open_gaps"]),
             check("drop to RED", ours["red"], red_budget(row)),
             check("restore to GREEN", ours["green"], green_budget(row))]
    theirs = figures.get("fping")
    if row.answering + row.silent >= 10000 and theirs:
        mine, their = ours["cpu"] / ours["wall"] * 60, theirs["cpu"] / theirs["wall"] * 60
        # Less CPU for fewer requests proves nothing: the schedule must be kept.
        expected = 60 / interval
        kept = ours["per_minute"] >= 0.9 * expected
        lines.append("%s: CPU per minute at most fping's on the same schedule (%.2f s against %.2f s%s): %s"
                     % (row.label, mine, their, "" if kept else "; ours sent %.2f of %.0f requests per host per "
                        "minute" % (ours["per_minute"], expected), "met" if kept and mine <= their else "NOT MET"))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True, help="the beaconvigilor-headless to measure")
    parser.add_argument("--responder", required=True, help="bench/echo_responder, built")
    parser.add_argument("--lab", required=True, help="the prefix of the test network (tests/lab/network-lab.sh)")
    parser.add_argument("--hosts", required=True, type=ipaddress.ip_network,
                        help="the /18 of far hosts, routed to the lab's far namespace")
    parser.add_argument("--ci", action="store_true", help="the small form: no fping, fails only on misbehaviour")
    parser.add_argument("--rows", help="only these rows, by label, comma-separated")
    parser.add_argument("--no-max", action="store_true", help="run every row without -max")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    options = parser.parse_args()
    global HOSTS
    HOSTS = options.hosts

    rows = [CI_ROW] if options.ci else FULL_ROWS
    if options.rows:
        rows = [row for row in rows if row.label in options.rows.split(",")]
    work = tempfile.mkdtemp(prefix="bvnet-")
    out = sys.stdout
    problems = []
    budgets = []
    try:
        out.write(machine_description() + "\n")
        program_max = max_supported(options.program)
        out.write("-max: %s\n" % ("supported" if program_max else "not supported by this build"))
        if not options.ci:
            out.write("%s, run as: fping -l -q -p INTERVAL -i 1 -f FILE\n" % fping_version())
        out.write("Far hosts answer after the row's delay (50 ms), silent ones never. In ours's run one answering "
                  "host is dropped one interval + 5 s after the start and let through once its RED line is in "
                  "the log.\nGaps and requests per host per minute: answering hosts but the dropped one, from the "
                  "far side's capture. CPU and peak RSS from /proc at the end.\n\n")
        out.write("| Row | Program | Answering+silent | Interval ms | -max | Requests/host/min | Gap median s | "
                  "Gap p99 s | Longest gap s | Hosts < 2 requests | Drop to RED s | Restore to GREEN s | CPU s | "
                  "CPU s/min | Peak MB |\n")
        out.write("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n")
        out.flush()
        for row in rows:
            figures, row_problems = run_row(options, row, work, program_max, out)
            problems += ["%s: %s" % (row.label, p) for p in row_problems]
            budgets += budget_lines(row, figures)
        if not options.ci:
            out.write("\nBudgets (ours):\n" + "".join("- %s\n" % line for line in budgets))
    except Failure as failure:
        problems.append(str(failure))
    finally:
        undrop(options)
        for process in STARTED:
            if process.poll() is None:
                process.kill()
                process.wait()
        if options.keep or problems:
            out.write("work directory kept: %s\n" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    if problems:
        out.write("\nMISBEHAVIOUR:\n" + "".join("- %s\n" % p for p in problems))
        return 1
    out.write("\nNo misbehaviour seen.\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
