#!/usr/bin/env python3
"""How far each program's round trips are from the wire's.

Runs as root in the monitor's namespace that bench/run.sh --accuracy made:
a veth pair leads to a namespace whose kernel answers the hosts (addresses
of 198.18.0.0/15 only). An AF_PACKET socket on the monitor's end of the pair
has the kernel stamp every echo request going out and every echo reply
coming in; the wire's round trip is the reply's stamp minus its request's.
beaconvigilor-headless (-trace, one "rtt" line per reply) and fping (one
line per reply) ping the same hosts one after the other, idle and with every
core kept busy, and each reported round trip is set against the wire's.
Prints the median, 99th percentile and largest absolute error per program
and condition, and whether each budget is met. With --ci it runs the short
form and fails on misbehaviour and on an idle budget of ours only.
"""

import argparse
import os
import re
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

SO_TIMESTAMPING = 37
RX_SOFTWARE, SOFTWARE = 1 << 3, 1 << 4
ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4

OURS_LINE = re.compile(r"^rtt (\S+) icmp_seq (\d+) (\d+) us (kernel|program) clock, (\S+)$")
FPING_LINE = re.compile(r"^(\S+)\s*: \[(\d+)\], \d+ bytes, ([\d.]+) ms")

MEDIAN_BUDGET_US, P99_BUDGET_US = 10.0, 25.0

STARTED = []  # every program started here, ended at the end
GROUPS = []   # the busy loops, each the leader of its own process group


class Failure(Exception):
    """A program misbehaved or the measurement could not be made."""


class Capture:
    """Kernel-stamped echo requests leaving and echo replies arriving on one link."""

    def __init__(self, link):
        self.socket = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_ALL))
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        self.socket.bind((link, ETH_P_ALL))
        self.socket.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPING, RX_SOFTWARE | SOFTWARE)
        self.requests = []  # (destination, identifier bytes, sequence bytes, nanoseconds)
        self.replies = []   # (source, identifier bytes, sequence bytes, nanoseconds)
        self.unstamped = 0
        self.stopping = False
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        # Drained on a timer, never waited on: the tap stamps a request before
        # it hands it to this socket, and waking a reader there (tens of µs
        # on a busy virtual machine) would delay the request after its stamp.
        while True:
            stopping = self.stopping
            while True:
                try:
                    packet, ancillary, _, address = self.socket.recvmsg(128, 256, socket.MSG_DONTWAIT)
                except BlockingIOError:
                    break
                self._note(packet, ancillary, address)
            if stopping:
                return
            time.sleep(0.1)

    def _note(self, packet, ancillary, address):
        # IPv4 only: the hosts are 198.18.0.0/15 addresses.
        if address[1] != 0x0800 or len(packet) < 28 or packet[9] != 1:
            return
        at = (packet[0] & 0x0F) * 4
        if len(packet) < at + 8:
            return
        kind = packet[at]
        outgoing = address[2] == PACKET_OUTGOING
        if not ((kind == 8 and outgoing) or (kind == 0 and not outgoing)):
            return
        stamp = None
        for level, type_, data in ancillary:
            if level == socket.SOL_SOCKET and type_ == SO_TIMESTAMPING and len(data) >= 16:
                seconds, nanoseconds = struct.unpack_from("qq", data, 0)
                if seconds or nanoseconds:
                    stamp = seconds * 1_000_000_000 + nanoseconds
        if stamp is None:
            self.unstamped += 1
            return
        # Identifier and sequence as the two bytes on the wire: each program
        # writes them in its own byte order.
        identifier, sequence = bytes(packet[at + 4:at + 6]), bytes(packet[at + 6:at + 8])
        if kind == 8:
            self.requests.append((socket.inet_ntoa(packet[16:20]), identifier, sequence, stamp))
        else:
            self.replies.append((socket.inet_ntoa(packet[12:16]), identifier, sequence, stamp))

    def stop(self):
        time.sleep(0.2)  # the last reply's packet may still be on its way to the socket
        self.stopping = True
        self.thread.join(5)
        self.socket.close()

    def trips(self):
        """{(address, identifier, sequence): (request stamp, wire round trip ns)} of answered requests."""
        sent = {}
        for address, identifier, sequence, stamp in self.requests:
            sent.setdefault((address, identifier, sequence), stamp)
        trips = {}
        for address, identifier, sequence, stamp in self.replies:
            key = (address, identifier, sequence)
            if key in sent and key not in trips and stamp >= sent[key]:
                trips[key] = (sent[key], stamp - sent[key])
        return trips


def write_hosts(directory, addresses):
    path = os.path.join(directory, "hosts.txt")
    with open(path, "w") as hosts:
        hosts.write("# the accuracy benchmark's answering hosts\n")
        for index, address in enumerate(addresses):
            hosts.write("h%d\t%s\taccuracy host %d\n" % (index, address, index))
    return path


def count_lines(path, pattern):
    try:
        with open(path, errors="replace") as text:
            return sum(1 for line in text if pattern.match(line))
    except FileNotFoundError:
        return 0


def run_ours(program, addresses, link, rounds, interval, directory):
    """Errors in µs of our reported round trips, and notes."""
    os.makedirs(directory, exist_ok=True)
    hosts = write_hosts(directory, addresses)
    trace = os.path.join(directory, "trace.txt")
    errors = os.path.join(directory, "errors.txt")
    capture = Capture(link)
    with open(trace, "w") as out, open(errors, "w") as err:
        process = subprocess.Popen([program, "-trace", "-in", hosts, "-out", os.path.join(directory, "log.txt"),
                                    "-red", os.path.join(directory, "down.txt"), "-pt", str(interval)],
                                   stdout=out, stderr=err, cwd=directory)
    STARTED.append(process)
    expected = rounds * len(addresses)
    # The first requests go out one interval after the start.
    deadline = time.monotonic() + (rounds + 1) * interval / 1000 + 15
    while count_lines(trace, OURS_LINE) < expected and time.monotonic() < deadline and process.poll() is None:
        time.sleep(0.2)
    if process.poll() is not None:
        capture.stop()
        raise Failure("the program ended by itself with status %s" % process.returncode)
    process.send_signal(signal.SIGTERM)
    try:
        status = process.wait(timeout=interval / 1000 + 20)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        status = "none (killed)"
    capture.stop()
    if status != 0:
        raise Failure("the program ended with status %s after SIGTERM" % status)
    reported = []
    clocks = {"kernel": 0, "program": 0}
    with open(trace, errors="replace") as text:
        for line in text:
            match = OURS_LINE.match(line.rstrip("\n"))
            if match:
                address, sequence, microseconds, clock, _ = match.groups()
                reported.append((address, int(sequence), int(microseconds)))
                clocks[clock] += 1
    if not reported:
        raise Failure("no per-reply round trip in the trace (no \"rtt ADDRESS icmp_seq N M us ... clock, NAME\" line)")
    # The program writes its identifier and sequence low byte first; one run
    # on the link at a time, so the address and sequence find the request.
    wire = {}
    for (address, _, sequence), trip in capture.trips().items():
        wire.setdefault((address, sequence[0] | sequence[1] << 8), []).append(trip)
    errors_us, unmatched, ambiguous, kept = [], 0, 0, []
    for address, sequence, microseconds in reported:
        trips = wire.get((address, sequence))
        if not trips:
            unmatched += 1
            continue
        if len(trips) > 1:
            ambiguous += 1
            continue
        errors_us.append(microseconds - trips[0][1] / 1000)
        kept.append("%s %d %d %.3f %d" % (address, sequence, microseconds, trips[0][1] / 1000, trips[0][0]))
    keep_matches(directory, kept)
    notes = {"reported": len(reported), "matched": len(errors_us), "signed median us": signed_median(errors_us),
             "unmatched": unmatched, "ambiguous": ambiguous, "kernel clock": clocks["kernel"], "program clock": clocks["program"],
             "unstamped packets": capture.unstamped}
    return errors_us, notes


def run_fping(addresses, link, rounds, interval, directory):
    """Errors in µs of fping's per-reply round trips, and notes."""
    os.makedirs(directory, exist_ok=True)
    capture = Capture(link)
    # -c without -q: one line per reply, "ADDRESS : [N], 64 bytes, T ms (...)",
    # N fping's count of requests to that host from 0, T with three
    # decimals (1 µs) below 1 ms, two from 1 ms to 10 ms.
    command = ["fping", "-c", str(rounds), "-p", str(interval), "-i", "10"] + list(addresses)
    try:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              timeout=rounds * interval / 1000 + 30)
    finally:
        capture.stop()
    reported = []
    for line in done.stdout.splitlines():
        match = FPING_LINE.match(line)
        if match:
            reported.append((match.group(1), int(match.group(2)), float(match.group(3)) * 1000))
    if not reported:
        raise Failure("fping printed no reply (status %d): %s" % (done.returncode, done.stderr[-500:]))
    # fping's wire sequence is one counter over all hosts; its printed N is
    # the N-th request to the host. With every request to the host on the
    # capture, the N-th one by the kernel's stamp is the one N names.
    requests = {}
    for address, identifier, sequence, stamp in sorted(capture.requests, key=lambda r: r[3]):
        requests.setdefault(address, []).append((address, identifier, sequence))
    trips = capture.trips()
    errors_us, unmatched, incomplete, kept = [], 0, set(), []
    for address, index, microseconds in reported:
        sent = requests.get(address, [])
        if len(sent) != rounds:
            incomplete.add(address)  # a request missing or extra: the order would not name it
            continue
        trip = trips.get(sent[index]) if index < len(sent) else None
        if trip is None:
            unmatched += 1
            continue
        errors_us.append(microseconds - trip[1] / 1000)
        kept.append("%s %d %.0f %.3f %d" % (address, index, microseconds, trip[1] / 1000, trip[0]))
    keep_matches(directory, kept)
    notes = {"reported": len(reported), "matched": len(errors_us), "signed median us": signed_median(errors_us),
             "unmatched": unmatched, "hosts with requests missing": len(incomplete), "unstamped packets": capture.unstamped}
    return errors_us, notes


def keep_matches(directory, lines):
    """Each matched reply, for a look with --keep: address, sequence, reported µs, wire µs, request stamp ns."""
    with open(os.path.join(directory, "matched.txt"), "w") as out:
        out.write("".join(line + "\n" for line in lines))


def signed_median(errors):
    return "%+.1f" % statistics.median(errors) if errors else "-"


def figures(errors):
    """(median, 99th percentile, largest) of the absolute errors in µs."""
    sizes = sorted(abs(error) for error in errors)
    if not sizes:
        return None
    p99 = sizes[min(len(sizes) - 1, int(round(0.99 * (len(sizes) - 1))))]
    return statistics.median(sizes), p99, sizes[-1]


class Load:
    """One busy loop per core, bounded in time even if nobody ends it."""

    def __init__(self, seconds):
        self.loops = [subprocess.Popen(["timeout", str(int(seconds)), "sh", "-c", "while :; do :; done"],
                                       start_new_session=True) for _ in range(os.cpu_count() or 1)]
        GROUPS.extend(self.loops)

    def stop(self):
        for loop in self.loops:
            end_group(loop)


def end_group(process):
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        except PermissionError:
            process.kill()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


def verdict(met):
    return "PASS" if met else "FAIL"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="the beaconvigilor-headless to measure")
    parser.add_argument("--link", required=True, help="the monitor's end of the veth pair")
    parser.add_argument("--hosts", required=True, help="the answering hosts' addresses, comma-separated")
    parser.add_argument("--ci", action="store_true", help="the short form: 3 rounds, fails on an idle budget of ours")
    parser.add_argument("--rounds", type=int, help="requests per host and run (12, 3 with --ci)")
    parser.add_argument("--interval", type=int, default=5000, help="ms between requests to a host")
    parser.add_argument("--only", choices=("idle", "loaded"), help="one condition only")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    options = parser.parse_args()
    rounds = options.rounds or (3 if options.ci else 12)
    addresses = options.hosts.split(",")
    work = tempfile.mkdtemp(prefix="bv-accuracy-")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    results, notes, problems = {}, [], []
    conditions = [options.only] if options.only else ["idle", "loaded"]
    try:
        with open("/proc/loadavg") as average:
            print("Machine: %d cores, kernel %s; load average at start %s" %
                  (os.cpu_count() or 1, os.uname().release, " ".join(average.read().split()[:3])))
        print("%d hosts, %d requests each per program and condition, one every %d ms; fping %s"
              % (len(addresses), rounds, options.interval, fping_version()))
        for condition in conditions:
            load = None
            if condition == "loaded":
                load = Load(2 * (rounds + 1) * options.interval / 1000 + 90)
                time.sleep(1)
            try:
                for name, run in (("ours", lambda d: run_ours(options.program, addresses, options.link, rounds,
                                                              options.interval, d)),
                                  ("fping", lambda d: run_fping(addresses, options.link, rounds,
                                                                options.interval, d))):
                    try:
                        errors, note = run(os.path.join(work, "%s-%s" % (name, condition)))
                    except Failure as failure:
                        problems.append("%s, %s: %s" % (name, condition, failure))
                        continue
                    results[(name, condition)] = figures(errors)
                    notes.append("%s, %s: %s" % (name, condition, ", ".join("%s %s" % item for item in note.items())))
                    if note["matched"] < 0.9 * rounds * len(addresses):
                        problems.append("%s, %s: only %d of %d replies matched to the wire"
                                        % (name, condition, note["matched"], rounds * len(addresses)))
            finally:
                if load:
                    load.stop()
        print_table(results, conditions)
        print()
        for note in notes:
            print("    " + note)
        print()
        enforced = print_budgets(results, conditions)
        for problem in problems:
            print("Problem: " + problem)
    finally:
        for process in STARTED:
            if process.poll() is None:
                process.kill()
                process.wait()
        for loop in GROUPS:
            end_group(loop)
        if options.keep:
            print("work directory kept: " + work)
        else:
            subprocess.run(["rm", "-rf", work])
    if problems:
        sys.exit(1)
    if options.ci and not all(enforced):
        print("the short form fails on an idle budget of ours")
        sys.exit(1)


def fping_version():
    done = subprocess.run(["fping", "-v"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return done.stdout.strip().split()[-1] if done.stdout.strip() else "?"


def cell(values):
    return " / ".join("%.1f" % value for value in values) if values else "-"


def print_table(results, conditions):
    print()
    print("Absolute error of the reported round trip against the wire's, µs: median / 99th percentile / largest")
    print()
    print("| Condition | ours | fping |")
    print("|---|---|---|")
    for condition in conditions:
        print("| %s | %s | %s |" % (condition, cell(results.get(("ours", condition))),
                                    cell(results.get(("fping", condition)))))


def print_budgets(results, conditions):
    """Prints each budget's verdict; gives the verdicts the short form enforces."""
    print("Budgets:")
    enforced = []
    for condition in conditions:
        ours, theirs = results.get(("ours", condition)), results.get(("fping", condition))
        if ours is None:
            print("- %s: no figures of ours: FAIL" % condition)
            enforced.append(condition != "idle")
            continue
        median_met, p99_met = ours[0] <= MEDIAN_BUDGET_US, ours[1] <= P99_BUDGET_US
        print("- ours, %s, median at most %.0f us (%.1f): %s" % (condition, MEDIAN_BUDGET_US, ours[0], verdict(median_met)))
        print("- ours, %s, 99th percentile at most %.0f us (%.1f): %s" % (condition, P99_BUDGET_US, ours[1], verdict(p99_met)))
        if condition == "idle":
            enforced += [median_met, p99_met]
        if theirs is None:
            print("- ours below fping, %s: no figures of fping: FAIL" % condition)
            continue
        for column, index in (("median", 0), ("99th percentile", 1), ("largest", 2)):
            print("- ours below fping, %s, %s (%.1f against %.1f): %s"
                  % (condition, column, ours[index], theirs[index], verdict(ours[index] < theirs[index])))
    return enforced


if __name__ == "__main__":
    main()
