#!/usr/bin/env python3
"""Measures beaconvigilor-headless against fping on loopback hosts.

Runs inside the test network's monitor namespace that bench/run.sh made
(tests/lab/network-lab.sh), as root. Prints a table of CPU, memory and request counts, the reaction times
of the log and down files, and whether each budget is met. With --ci it runs
the small form and fails only on misbehaviour, never on a timing.
With --families it compares IPv6 hosts with IPv4 ones instead, in the
namespace bench/run.sh --ipv6 made, where both ranges are local on lo.
"""

import argparse
import os
import platform
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
COUNTS_LINE = re.compile(
    r"Requests sent: (\d+), replies matched: (\d+), awaiting a reply: (\d+), hosts with a lost request: (\d+)")
FPING_LINE = re.compile(r"^(\S+)\s*: xmt/rcv/%loss = (\d+)/(\d+)/")
NFT_TABLE = "bvbench"


STARTED = []  # every program the benchmark started, ended at its end


class Failure(Exception):
    """The program misbehaved: the benchmark fails."""


def host_address(index):
    # 127.A.B.C with C from 1 to 254, starting at 127.1.0.1.
    return "127.%d.%d.%d" % (1 + index // (254 * 256), (index // 254) % 256, 1 + index % 254)


# The family comparison's hosts: both ranges are local on lo in the
# namespace of bench/run.sh --ipv6, so the kernel answers every address.
FAMILY_RANGES = {"ipv4": ("198.18.0.0/18", 64 * 254), "ipv6": ("2001:2:0:1::/64", 1 << 32)}


def family_address(family, index):
    if family == "ipv4":
        return "198.18.%d.%d" % (index // 254, 1 + index % 254)
    return "2001:2:0:1::%x" % (index + 1)


def write_host_files(directory, count, address_of=host_address, name="loopback"):
    hosts = os.path.join(directory, "hosts-%s-%d.txt" % (name, count))
    addresses = os.path.join(directory, "addresses-%s-%d.txt" % (name, count))
    with open(hosts, "w") as ours, open(addresses, "w") as theirs:
        ours.write("# %d %s hosts for the benchmark\n" % (count, name))
        for index in range(count):
            address = address_of(index)
            ours.write("h%d\t%s\tbench host %d\n" % (index, address, index))
            theirs.write(address + "\n")
    return hosts, addresses


def process_cpu_seconds(pid):
    """User + system time of the process and all its threads, from the kernel."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def peak_resident_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def wait_until(condition, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


class Ours:
    """One run of beaconvigilor-headless in a directory of its own."""

    def __init__(self, program, hosts, directory, interval, trace):
        self.directory = directory
        self.interval = interval
        os.makedirs(directory, exist_ok=True)
        self.log = os.path.join(directory, "out.txt")
        self.down = os.path.join(directory, "down.txt")
        self.errors_path = os.path.join(directory, "errors.txt")
        self.trace_path = None
        self.errors = open(self.errors_path, "w")
        if trace == "null":
            out = subprocess.DEVNULL
        elif trace == "pipe":
            out = subprocess.PIPE
        else:
            self.trace_path = os.path.join(directory, "trace.txt")
            out = open(self.trace_path, "w")
        command = [program, "-trace", "-in", hosts, "-out", self.log, "-red", self.down, "-pt", str(interval)]
        self.started = time.monotonic()
        self.process = subprocess.Popen(command, stdout=out, stderr=self.errors, cwd=directory)
        STARTED.append(self.process)
        if out not in (subprocess.DEVNULL, subprocess.PIPE):
            out.close()

    def alive(self):
        return self.process.poll() is None

    def error_text(self):
        with open(self.errors_path, errors="replace") as errors:
            return errors.read()

    def counts(self):
        """Asks the program for its engine counts (SIGUSR2)."""
        before = len(COUNTS_LINE.findall(self.error_text()))
        self.process.send_signal(signal.SIGUSR2)
        found = wait_until(lambda: len(COUNTS_LINE.findall(self.error_text())) > before, 10)
        if not found:
            raise Failure("no engine counts on SIGUSR2 (program %s)" % ("alive" if self.alive() else "gone"))
        sent, matched, awaiting, lost = map(int, COUNTS_LINE.findall(self.error_text())[-1])
        return {"sent": sent, "matched": matched, "awaiting": awaiting, "lost_hosts": lost}

    def summary_counts(self):
        """Red, yellow and green from the status summary (SIGUSR1)."""
        before = self.error_text().count("Green: ")
        self.process.send_signal(signal.SIGUSR1)
        wait_until(lambda: self.error_text().count("Green: ") > before, 10)
        text = self.error_text()
        last = text[text.rfind("Status as of: "):]
        values = {}
        for colour in ("Red", "Yellow", "Green"):
            match = re.search(colour + r": (\d+)", last)
            values[colour.lower()] = int(match.group(1)) if match else -1
        return values

    def usage(self):
        pid = self.process.pid
        return process_cpu_seconds(pid), peak_resident_kb(pid), time.monotonic() - self.started

    def stop(self):
        """SIGTERM; the program ends after its sweep's pause. Exit status 0 is required."""
        if not self.alive():
            raise Failure("the program ended by itself with status %s:\n%s"
                          % (self.process.returncode, self.error_text()[-2000:]))
        self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(timeout=self.interval / 1000 + 20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise Failure("the program did not end within its interval after SIGTERM")
        self.errors.close()
        if status != 0:
            raise Failure("the program ended with status %d after SIGTERM" % status)


def run_ours(program, hosts, count, work, label, interval, rounds, trace="null"):
    """Runs `rounds` rounds; the first requests go out one interval after start."""
    directory = os.path.join(work, label)
    run = Ours(program, hosts, directory, interval, trace)
    expected = count * rounds
    time.sleep(max(0.0, rounds * interval / 1000.0 - 1.0))
    # The rounds follow the seconds clock, so the end is asked for, not assumed.
    deadline = time.monotonic() + interval / 1000.0 + 15 + count / 2000.0
    while True:
        if not run.alive():
            run.stop()
        counts = run.counts()
        if (counts["sent"] >= expected and counts["awaiting"] == 0) or time.monotonic() > deadline:
            break
        time.sleep(0.5)
    cpu, peak, wall = run.usage()
    colours = run.summary_counts()
    trace_bytes = os.path.getsize(run.trace_path) if run.trace_path else 0
    run.stop()
    if run.trace_path:
        os.remove(run.trace_path)
    result = {"label": label, "program": "ours", "hosts": count, "rounds": rounds, "interval": interval,
              "cpu": cpu, "peak_kb": peak, "wall": wall, "sent": counts["sent"], "answered": counts["matched"],
              "lost_hosts": counts["lost_hosts"], "awaiting": counts["awaiting"], "colours": colours,
              "trace_bytes": trace_bytes}
    check_ours(result)
    return result


def check_ours(result):
    problems = []
    expected = result["hosts"] * result["rounds"]
    if result["sent"] < expected:
        problems.append("%d requests sent, %d expected" % (result["sent"], expected))
    if result["answered"] != result["sent"] - result["awaiting"] or result["lost_hosts"] != 0:
        problems.append("%d sent, %d matched, %d awaiting, %d hosts with a lost request"
                        % (result["sent"], result["answered"], result["awaiting"], result["lost_hosts"]))
    colours = result["colours"]
    if colours.get("green") != result["hosts"]:
        problems.append("status counts %s, all %d green expected" % (colours, result["hosts"]))
    result["problems"] = problems


def run_fping(addresses, count, rounds, interval, work):
    command = ["fping", "-q", "-c", str(rounds), "-p", str(interval), "-i", "0", "-f", addresses]
    summary_path = os.path.join(work, "fping-%s-%d.txt" % (os.path.basename(addresses), interval))
    started = time.monotonic()
    with open(summary_path, "w") as summary:
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=summary)
        STARTED.append(process)
        # wait4 gives the kernel's accounting of the ended process and its threads.
        _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - started
    sent = answered = 0
    other = []
    with open(summary_path) as summary:
        for line in summary:
            match = FPING_LINE.match(line)
            if match:
                sent += int(match.group(2))
                answered += int(match.group(3))
            elif len(other) < 3:
                other.append(line.strip())
    if answered == 0:
        sys.stdout.write("  fping on %d hosts gave no summary (status %d): %s\n"
                         % (count, process.returncode, " / ".join(other)))
    return {"label": "fping-%d" % count, "program": "fping", "hosts": count, "rounds": rounds,
            "interval": interval, "cpu": usage.ru_utime + usage.ru_stime, "peak_kb": usage.ru_maxrss,
            "wall": wall, "sent": sent, "answered": answered, "command": " ".join(command[:-2]) + " -f FILE",
            "problems": []}


# fping keeps at most 65,535 requests within its 10 s expiry, so a host file
# larger than this runs as parts of this size, one after the other.
FPING_PART = 15000


def run_fping_parts(addresses, count, rounds, interval, work):
    if count <= FPING_PART:
        return run_fping(addresses, count, rounds, interval, work)
    with open(addresses) as whole:
        lines = whole.readlines()
    parts = []
    for start in range(0, count, FPING_PART):
        part_path = "%s.part%d" % (addresses, start // FPING_PART)
        with open(part_path, "w") as part:
            part.writelines(lines[start:start + FPING_PART])
        parts.append(run_fping(part_path, len(lines[start:start + FPING_PART]), rounds, interval, work))
    combined = dict(parts[0])
    combined["hosts"] = count
    combined["label"] = "fping-%d" % count
    for key in ("cpu", "wall", "sent", "answered"):
        combined[key] = sum(part[key] for part in parts)
    combined["peak_kb"] = max(part["peak_kb"] for part in parts)
    combined["parts"] = len(parts)
    return combined


def per_ping_us(result):
    return result["cpu"] / result["answered"] * 1e6 if result["answered"] else float("inf")


class Watcher:
    """Time stamps the sweep's queuing (trace) and the log and down file changes."""

    def __init__(self, run, host):
        self.run = run
        self.host = host
        self.lock = threading.Lock()
        self.queued = []
        self.log_lines = []  # (time, status) of the host's log lines
        self.down_changes = []  # (time, listed)
        self.stopping = False
        self.trace_thread = threading.Thread(target=self.read_trace, daemon=True)
        self.file_thread = threading.Thread(target=self.poll_files, daemon=True)
        self.trace_thread.start()
        self.file_thread.start()

    def read_trace(self):
        for raw in self.run.process.stdout:
            if b"pn:going to add to print" in raw:
                with self.lock:
                    self.queued.append(time.monotonic())

    def poll_files(self):
        seen = 0
        listed = False
        needle = "\t" + self.host + "\t"
        while not self.stopping:
            now = time.monotonic()
            try:
                with open(self.run.log, "rb") as log:
                    log.seek(seen)
                    tail = log.read()
                # Whole lines only; the rest is read again next time.
                complete = tail[:tail.rfind(b"\n") + 1]
                seen += len(complete)
                for line in complete.decode(errors="replace").splitlines():
                    if needle in line:
                        with self.lock:
                            self.log_lines.append((now, line.split("\t")[1]))
            except FileNotFoundError:
                pass
            try:
                with open(self.run.down, "rb") as down:
                    text = down.read().decode(errors="replace")
                # An empty read is the moment between emptying and writing.
                if text:
                    now_listed = needle in text
                    if now_listed != listed:
                        listed = now_listed
                        with self.lock:
                            self.down_changes.append((now, listed))
            except FileNotFoundError:
                pass
            time.sleep(0.001)

    def first_after(self, items, moment, accept=lambda item: True):
        with self.lock:
            for item in items:
                stamp = item if isinstance(item, float) else item[0]
                if stamp >= moment and accept(item):
                    return stamp
        return None


def nft(*arguments):
    subprocess.run(["nft"] + list(arguments), check=True)


def run_reaction(program, hosts, count, work, interval, target_index):
    """One host stops answering (nft drop) and comes back; times each step."""
    target = host_address(target_index)
    run = Ours(program, hosts, os.path.join(work, "reaction-%d" % count), interval, "pipe")
    watcher = Watcher(run, target)
    outcome = {"hosts": count, "target": target, "problems": []}
    subprocess.run(["nft", "delete", "table", "ip", NFT_TABLE], stderr=subprocess.DEVNULL)
    try:
        time.sleep(interval / 1000.0 + 2)
        nft("add", "table", "ip", NFT_TABLE)
        nft("add", "chain", "ip", NFT_TABLE, "input", "{ type filter hook input priority 0; }")
        nft("add", "rule", "ip", NFT_TABLE, "input", "ip", "daddr", target, "icmp", "type", "echo-request", "drop")
        dropped = time.monotonic()
        red_logged = wait_until(lambda: watcher.first_after(watcher.log_lines, dropped,
                                                              lambda item: item[1] == "RED"), 120, 0.2)
        if not red_logged:
            raise Failure("no RED line for %s in the log within 120 s of the drop rule" % target)
        time.sleep(0.5)
        nft("delete", "table", "ip", NFT_TABLE)
        restored = time.monotonic()
        green_logged = wait_until(lambda: watcher.first_after(watcher.log_lines, restored,
                                                                lambda item: item[1] == "GREEN"), 60, 0.2)
        if not green_logged:
            raise Failure("no GREEN line for %s in the log within 60 s of removing the drop rule" % target)
        time.sleep(0.5)
        for name, moment, logged, listed in (("red", dropped, red_logged, True),
                                              ("green", restored, green_logged, False)):
            queued = watcher.first_after(watcher.queued, moment)
            down = watcher.first_after(watcher.down_changes, moment, lambda item: item[1] == listed)
            outcome[name + "_queue_to_log"] = (logged - queued) if queued is not None else None
            # The down file follows the status, which changes before the sweep
            # queues the line; a change seen before the log line counts as 0.
            outcome[name + "_log_to_down"] = max(0.0, down - logged) if down is not None else None
            if down is None:
                outcome["problems"].append("the down file never showed the %s change" % name)
        counts = run.counts()
        colours = run.summary_counts()
        outcome["counts"] = counts
        outcome["colours"] = colours
        # Every host but the target has all its requests answered.
        if counts["lost_hosts"] > 1:
            outcome["problems"].append("%d hosts with a lost request, only the target expected"
                                       % counts["lost_hosts"])
        if colours.get("green") != count:
            outcome["problems"].append("status counts %s after the return, all green expected" % colours)
    finally:
        subprocess.run(["nft", "delete", "table", "ip", NFT_TABLE], stderr=subprocess.DEVNULL)
        watcher.stopping = True
        if run.alive():
            run.stop()
    with open(run.log, errors="replace") as log:
        lines = [line for line in log.read().splitlines() if line]
    statuses = [line.split("\t")[1] + " " + line.split("\t")[3] for line in lines]
    if statuses != ["RED " + target, "GREEN " + target]:
        outcome["problems"].append("log lines %s, one RED and one GREEN line for %s expected" % (statuses, target))
    return outcome


def machine_description():
    model = "unknown processor"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    debian = ""
    if os.path.exists("/etc/debian_version"):
        with open("/etc/debian_version") as version:
            debian = "Debian " + version.read().strip()
    with open("/proc/meminfo") as info:
        memory = int(info.readline().split()[1]) // 1024
    load = os.getloadavg()
    return ("Machine: %d cores (%s), %d MB memory, kernel %s, %s; load average at start %.2f %.2f %.2f"
            % (os.cpu_count(), model, memory, platform.release(), debian, *load))


def fping_version():
    result = subprocess.run(["fping", "-v"], capture_output=True, text=True)
    return (result.stdout + result.stderr).strip().splitlines()[0]


def verdict(met):
    return "met" if met else "NOT MET"


def print_table(results, default_pair, trace_pair, reaction, out):
    if results:
        write_rows(results, out)
    write_notes(default_pair, trace_pair, reaction, out)


def write_rows(results, out):
    out.write("| Run | Hosts | Rounds x interval | CPU s | Peak RSS MB | Requests sent | Replies | "
              "CPU us per answered ping | Ours / fping |\n")
    out.write("|---|---|---|---|---|---|---|---|---|\n")
    fping_by_label = {}
    for result in results:
        if result["program"] == "fping":
            fping_by_label[result["label"].replace("fping-", "")] = result
    for result in results:
        ratio = ""
        if result["program"] == "ours":
            theirs = fping_by_label.get(result.get("pair", ""))
            if theirs and theirs["answered"]:
                ratio = "%.2f" % (per_ping_us(result) / per_ping_us(theirs))
        out.write("| %s | %d | %d x %d ms | %.2f | %.1f | %d | %d | %.1f | %s |\n"
                  % (result["label"], result["hosts"], result["rounds"], result["interval"], result["cpu"],
                     result["peak_kb"] / 1024.0, result["sent"], result["answered"], per_ping_us(result), ratio))


def write_notes(default_pair, trace_pair, reaction, out):
    if default_pair:
        ours = default_pair
        share = ours["cpu"] / ours["wall"] * 100
        out.write("\nDefault interval, %d hosts, %.0f s: %.3f%% of one core on average, peak %.1f MB resident.\n"
                  % (ours["hosts"], ours["wall"], share, ours["peak_kb"] / 1024.0))
    if trace_pair:
        null_run, file_run = trace_pair
        out.write("Trace stream, %d hosts: to the null device %.2f CPU s, to a file %.2f CPU s (%.1f MB of trace), "
                  "%.1f us against %.1f us per answered ping.\n"
                  % (null_run["hosts"], null_run["cpu"], file_run["cpu"], file_run["trace_bytes"] / 1e6,
                     per_ping_us(null_run), per_ping_us(file_run)))
    if reaction:
        out.write("Reaction, %d hosts, host %s dropped by nftables and let through again:\n"
                  % (reaction["hosts"], reaction["target"]))
        for name in ("red", "green"):
            queue_to_log = reaction.get(name + "_queue_to_log")
            log_to_down = reaction.get(name + "_log_to_down")
            out.write("  %s: sweep queued -> log %s, log -> down file %s\n"
                      % ("turn to red" if name == "red" else "return to green",
                         "%.1f ms" % (queue_to_log * 1000) if queue_to_log is not None else "not measured",
                         "%.1f ms" % (log_to_down * 1000) if log_to_down is not None else "not measured"))


def budgets(results, default_pair, reaction):
    lines = []
    if default_pair:
        share = default_pair["cpu"] / default_pair["wall"] * 100
        mb = default_pair["peak_kb"] / 1024.0
        lines.append("10,000 hosts at the default interval under 1%% of one core (%.3f%%) and under 30 MB (%.1f MB): %s"
                     % (share, mb, verdict(share < 1.0 and mb < 30.0)))
    fping_by_pair = {r["label"].replace("fping-", ""): r for r in results if r["program"] == "fping"}
    for result in results:
        theirs = fping_by_pair.get(result.get("pair", ""))
        if result["program"] == "ours" and theirs and theirs["answered"]:
            ratio = per_ping_us(result) / per_ping_us(theirs)
            lines.append("CPU per answered ping at most half of fping's, %d hosts, %d ms (%.2f): %s"
                         % (result["hosts"], result["interval"], ratio, verdict(ratio <= 0.5)))
    by_hosts = {r["hosts"]: r for r in results if r["program"] == "ours" and r.get("pair") == str(r["hosts"])}
    if 10000 in by_hosts and 30000 in by_hosts:
        per_round = {n: by_hosts[n]["cpu"] / by_hosts[n]["rounds"] for n in (10000, 30000)}
        growth = per_round[30000] / per_round[10000]
        lines.append("30,000 hosts cost at most 3.3 times 10,000 per round (%.2f): %s" % (growth, verdict(growth <= 3.3)))
    if reaction:
        def worst(key):
            values = [reaction.get(n + key) for n in ("red", "green")]
            return max(1e9 if value is None else value for value in values)
        worst_log = worst("_queue_to_log")
        worst_down = worst("_log_to_down")
        lines.append("Every transition in the log within 150 ms of queuing (worst %.1f ms): %s"
                     % (worst_log * 1000, verdict(worst_log <= 0.150)))
        lines.append("and in the down file within 150 ms after that (worst %.1f ms): %s"
                     % (worst_down * 1000, verdict(worst_down <= 0.150)))
    lossless = all(not r["problems"] for r in results if r["program"] == "ours")
    lines.append("No request lost, no reply credited to the wrong host (matched = sent, per host): %s"
                 % verdict(lossless))
    return lines


def run_families(program, count, rounds, repetitions, work, out):
    """IPv4 and IPv6 lists of one size, in turns; the figures are the sums of the turns."""
    for family, (network, room) in FAMILY_RANGES.items():
        if count > room:
            raise Failure("%d hosts do not fit the %s hosts' range %s" % (count, family, network))
    files = {family: write_host_files(work, count, lambda index, f=family: family_address(f, index), family)[0]
             for family in FAMILY_RANGES}
    turns = []
    for repetition in range(repetitions):
        # Alternating the order spreads a change in the machine's load over both.
        order = ("ipv4", "ipv6") if repetition % 2 == 0 else ("ipv6", "ipv4")
        for family in order:
            turn = run_ours(program, files[family], count, work, "%s-%d-%d" % (family, count, repetition),
                            5000, rounds)
            turn["family"] = family
            turns.append(turn)
            out.write("  done: %s, turn %d (%.1f us per answered ping)\n" % (family, repetition + 1, per_ping_us(turn)))
            out.flush()
    results = []
    for family in FAMILY_RANGES:
        mine = [turn for turn in turns if turn["family"] == family]
        total = dict(mine[0])
        total["label"] = "ours-%s-%d" % (family, count)
        total["rounds"] = rounds * len(mine)
        for key in ("cpu", "wall", "sent", "answered", "awaiting", "lost_hosts"):
            total[key] = sum(turn[key] for turn in mine)
        total["peak_kb"] = max(turn["peak_kb"] for turn in mine)
        total["problems"] = ["turn %d: %s" % (index + 1, problem)
                             for index, turn in enumerate(mine) for problem in turn["problems"]]
        total["turns"] = [per_ping_us(turn) for turn in mine]
        results.append(total)
    return results


def family_budgets(results):
    by_family = {result["family"]: result for result in results}
    ipv4, ipv6 = by_family["ipv4"], by_family["ipv6"]
    ratio = per_ping_us(ipv6) / per_ping_us(ipv4)
    answered = all(r["answered"] == r["sent"] and r["awaiting"] == 0 and not r["problems"] for r in results)
    return ["IPv6 CPU per answered ping at most 1.2 times IPv4's, %s hosts (%.1f us against %.1f us, %.2f): %s"
            % (format(ipv6["hosts"], ","), per_ping_us(ipv6), per_ping_us(ipv4), ratio, verdict(ratio <= 1.2)),
            "Every request answered, both families (%d of %d and %d of %d): %s"
            % (ipv4["answered"], ipv4["sent"], ipv6["answered"], ipv6["sent"], verdict(answered))]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True, help="the beaconvigilor-headless to measure")
    parser.add_argument("--ci", action="store_true", help="the small form: 1,000 hosts, no fping, no budgets")
    parser.add_argument("--rounds", type=int, default=6, help="rounds at -pt 5000 per host count")
    parser.add_argument("--default-seconds", type=int, default=120, help="length of the default-interval run")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    parser.add_argument("--pair", type=int, metavar="HOSTS",
                        help="only ours and fping on this many hosts at -pt 5000 (for profiling)")
    parser.add_argument("--families", action="store_true",
                        help="10,000 IPv6 hosts against 10,000 IPv4 ones, in the namespace of run.sh --ipv6")
    parser.add_argument("--turns", type=int, default=2, help="turns of each family with --families")
    options = parser.parse_args()

    work = tempfile.mkdtemp(prefix="bvbench-")
    out = sys.stdout
    problems = []
    try:
        out.write(machine_description() + "\n")
        out.write("Other programs may share the machine; the figures are from one run.\n")
        if options.families:
            rounds = 2 if options.ci else options.rounds
            turns = 1 if options.ci else options.turns
            out.write("ours: beaconvigilor-headless -in FILE -pt 5000, trace to the null device, 10,000 hosts "
                      "198.18.0.1 up and 2001:2:0:1::1 up, both local on lo; turns of each: %d, of %d rounds each, in "
                      "alternating order; CPU from /proc once the last round is answered, summed over the turns\n\n"
                      % (turns, rounds))
            out.flush()
            results = run_families(options.program, 10000, rounds, turns, work, out)
            out.write("\n")
            write_rows(results, out)
            out.write("\nCPU us per answered ping in each turn: %s\n"
                      % "; ".join("%s %s" % (r["family"], ", ".join("%.1f" % v for v in r["turns"]))
                                  for r in results))
            out.write("\nBudgets%s:\n" % (" (the small form: timings are not judged)" if options.ci else ""))
            for line in family_budgets(results):
                out.write("- " + line + "\n")
            for result in results:
                problems += ["%s: %s" % (result["label"], p) for p in result["problems"]]
        elif options.pair:
            ours_file, fping_file = write_host_files(work, options.pair)
            results = [run_ours(options.program, ours_file, options.pair, work, "ours-%d" % options.pair, 5000,
                                options.rounds), run_fping_parts(fping_file, options.pair, options.rounds, 5000, work)]
            results[0]["pair"] = str(options.pair)
            write_rows(results, out)
            problems += results[0]["problems"]
        elif options.ci:
            hosts, _ = write_host_files(work, 1000)
            result = run_ours(options.program, hosts, 1000, work, "ours-1000", 5000, 2)
            out.write("ours, 1000 hosts, 2 rounds at 5000 ms: %.2f CPU s, %.1f MB peak, %d sent, %d matched, "
                      "%.1f us per answered ping\n" % (result["cpu"], result["peak_kb"] / 1024.0, result["sent"],
                                                       result["answered"], per_ping_us(result)))
            problems += result["problems"]
            reaction = run_reaction(options.program, hosts, 1000, work, 5000, 500)
            print_table([], None, None, reaction, out)
            problems += reaction["problems"]
        else:
            out.write("%s, run as: fping -q -c ROUNDS -p INTERVAL -i 0 -f FILE "
                      "(every host ROUNDS times, INTERVAL ms apart, no gap between hosts; "
                      "fping keeps at most 65,535 requests within its 10 s expiry, so a file of more than %d hosts "
                      "runs as parts of %d, one after the other, and the figures are their sums)\n" % (fping_version(), FPING_PART, FPING_PART))
            out.write("ours: beaconvigilor-headless -in FILE -pt INTERVAL, trace to the null device unless said, "
                      "CPU and peak RSS from /proc once the last round is answered\n\n")
            out.flush()
            results = []
            files = {}
            for count in (1000, 10000, 30000):
                files[count] = write_host_files(work, count)
                ours = run_ours(options.program, files[count][0], count, work, "ours-%d" % count, 5000,
                                options.rounds)
                ours["pair"] = str(count)
                results.append(ours)
                results.append(run_fping_parts(files[count][1], count, options.rounds, 5000, work))
                out.write("  done: %d hosts\n" % count)
                out.flush()
            traced = run_ours(options.program, files[10000][0], 10000, work, "ours-10000-trace-file", 5000,
                              options.rounds, trace="file")
            results.append(traced)
            out.write("  done: trace to a file\n")
            out.flush()
            default_rounds = max(1, options.default_seconds // 30)
            default_run = run_ours(options.program, files[10000][0], 10000, work, "ours-10000-default", 30000,
                                   default_rounds)
            default_run["pair"] = "10000-default"
            results.append(default_run)
            results.append(run_fping(files[10000][1], 10000, default_rounds, 30000, work))
            results[-1]["label"] = "fping-10000-default"
            out.write("  done: default interval\n")
            out.flush()
            reaction = run_reaction(options.program, files[1000][0], 1000, work, 5000, 500)
            out.write("  done: reaction\n\n")
            null_run = next(r for r in results if r["label"] == "ours-10000")
            print_table(results, default_run, (null_run, traced), reaction, out)
            out.write("\nBudgets:\n")
            for line in budgets(results, default_run, reaction):
                out.write("- " + line + "\n")
            for result in results:
                problems += ["%s: %s" % (result["label"], p) for p in result["problems"]]
            problems += reaction["problems"]
    except Failure as failure:
        problems.append(str(failure))
    finally:
        for process in STARTED:
            if process.poll() is None and process.returncode is None:
                process.kill()
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
