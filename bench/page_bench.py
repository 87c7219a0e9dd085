#!/usr/bin/env python3
"""Measures the status page of beaconvigilor-headless -metrics.

Runs, as root, in the namespace of its own that `bench/run.sh --page` made,
where 198.18.0.0/18 is local on lo and the kernel answers every echo
request. Some hosts flap (nftables drops half their requests at random) and
some are silent, so that every pass carries changes. Measures the page's
first load in Debian's Chromium, headless (bench/page_clients.mjs with
playwright-core from tests/browser): from the navigation to the frame that
shows the script's table of all hosts; the sizes of / and /api/v1/hosts and
how long the server takes for them; and the monitor's CPU with no page open
against a number of pages open on the event stream. Prints the figures and
whether each budget is met. With --ci it runs the small form and fails only
on misbehaviour, never on a timing.
"""

import argparse
import http.client
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from bench import Failure, machine_description, process_cpu_seconds, wait_until

HERE = os.path.dirname(os.path.abspath(__file__))
CLIENTS = os.path.join(HERE, "page_clients.mjs")
NFT_TABLE = "bvpage"
STARTED = []

LOAD_BUDGET_MS = 1000
CPU_BUDGET_PERCENT = 1.0
STRIP = 60  # requests in a host's strip once the run is old enough


def address(index):
    return "198.18.%d.%d" % (index // 254, 1 + index % 254)


def write_hosts(directory, count):
    """Every 100th host flaps, every 1000th (from the 500th) is silent."""
    path = os.path.join(directory, "hosts.txt")
    flapping = [address(i) for i in range(50, count, 100)]
    silent = [address(i) for i in range(500, count, 1000)]
    with open(path, "w") as listed:
        for index in range(count):
            listed.write("h%d\t%s\tpage host %d\n" % (index, address(index), index))
    return path, flapping, silent


def nft(script):
    subprocess.run(["nft", "-f", "-"], input=script, text=True, check=True)


def set_up_drops(flapping, silent):
    def elements(addresses):
        return "elements = { %s }" % ", ".join(addresses) if addresses else ""
    nft("table ip %s {\n"
        " set flapping { type ipv4_addr; %s }\n"
        " set silent { type ipv4_addr; %s }\n"
        " chain input { type filter hook input priority 0; policy accept;\n"
        "  icmp type echo-request ip daddr @silent drop\n"
        "  icmp type echo-request ip daddr @flapping numgen random mod 2 == 0 drop\n"
        " }\n"
        "}\n" % (NFT_TABLE, elements(flapping), elements(silent)))


def tear_down_drops():
    subprocess.run(["nft", "delete", "table", "ip", NFT_TABLE], stderr=subprocess.DEVNULL)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def get(port, target, timeout=30):
    """Status, body, seconds to the first byte of the answer and to its end."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        started = time.monotonic()
        connection.request("GET", target)
        answer = connection.getresponse()
        first = time.monotonic() - started
        body = answer.read()
        return answer.status, body, first, time.monotonic() - started
    finally:
        connection.close()


def hosts_ready(port, count):
    try:
        status, body, _, _ = get(port, "/api/v1/hosts")
    except OSError:
        return False
    if status != 200:
        return False
    hosts = json.loads(body)["hosts"]
    return len(hosts) == count and all(host["loss"] is not None for host in hosts)


def strip_lengths(port):
    status, body, _, _ = get(port, "/api/v1/hosts")
    return sorted(len(host["strip"]) for host in json.loads(body)["hosts"]) if status == 200 else [0]


def start_monitor(options, hosts_path, directory, port):
    command = [options.program, "-in", hosts_path, "-out", os.path.join(directory, "log.txt"),
               "-red", os.path.join(directory, "down.txt"), "-pt", str(options.interval),
               "-max", str(options.max), "-metrics", "127.0.0.1:%d" % port]
    with open(os.path.join(directory, "errors.txt"), "w") as errors:
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=errors, cwd=directory)
    STARTED.append(process)
    if not wait_until(lambda: process.poll() is not None or hosts_ready(port, options.hosts),
                      3 * options.interval / 1000 + 30, step=0.5) or process.poll() is not None:
        raise Failure("the monitor's /api/v1/hosts never listed all %d hosts with a request's fate known (%s)"
                      % (options.hosts, "program ended with status %s" % process.returncode
                         if process.poll() is not None else "program alive"))
    return process


def served(port, target, times):
    sizes, firsts, wholes = set(), [], []
    for _ in range(times):
        status, body, first, whole = get(port, target)
        if status != 200:
            raise Failure("%s answered %d" % (target, status))
        sizes.add(len(body))
        firsts.append(first * 1000)
        wholes.append(whole * 1000)
    return {"bytes": max(sizes), "first": statistics.median(firsts), "whole": statistics.median(wholes)}


class Clients:
    """bench/page_clients.mjs: the loads, then pages kept open."""

    def __init__(self, options, port, loads, pages):
        environment = dict(os.environ, NODE_PATH=options.node_modules)
        self.process = subprocess.Popen(
            ["node", CLIENTS, "http://127.0.0.1:%d/" % port, str(options.hosts), str(loads), str(pages),
             str(options.page_timeout * 1000)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=environment)
        STARTED.append(self.process)

    def next(self, key):
        while True:
            line = self.process.stdout.readline()
            if not line:
                raise Failure("the browser's clients ended (status %s) before saying %s"
                              % (self.process.wait(), key))
            said = json.loads(line)
            if "error" in said:
                raise Failure("in the browser: " + said["error"])
            if key in said:
                return said[key]

    def stop(self):
        self.process.stdin.write("stop\n")
        self.process.stdin.flush()
        pages = self.next("pages")
        self.process.wait(timeout=60)
        return pages


class StreamClient:
    """What the page's script does, without the browser: the list once, then
    the event stream, and on a lost stream the same again two seconds later
    (the stream's retry). Counts what came."""

    def __init__(self, port, count_changed):
        self.port = port
        self.count_changed = count_changed
        self.passes = self.changed = self.bytes = self.losses = self.fetches = 0
        self.stopping = False
        self.connection = None
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stopping:
            try:
                self.listen()
            except (OSError, http.client.HTTPException, ValueError):
                pass
            if self.stopping:
                return
            self.losses += 1
            time.sleep(2)

    def listen(self):
        self.connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        self.connection.request("GET", "/api/v1/events")
        answer = self.connection.getresponse()
        if answer.status != 200:
            raise ValueError("status %d" % answer.status)
        status, _, _, _ = get(self.port, "/api/v1/hosts")
        if status == 200:
            self.fetches += 1
        event, data = None, []
        for line in answer:
            line = line.rstrip(b"\r\n")
            if line.startswith(b"event:"):
                event = line[6:].strip()
            elif line.startswith(b"data:"):
                data.append(line[5:].lstrip())
            elif not line:
                if event == b"pass" and data:
                    self.passes += 1
                    text = b"\n".join(data)
                    self.bytes += len(text)
                    if self.count_changed:
                        self.changed += len(json.loads(text).get("changed", []))
                event, data = None, []

    def stop(self):
        self.stopping = True
        if self.connection is not None and self.connection.sock is not None:
            try:
                self.connection.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def counts(self):
        return {"passes": self.passes, "changed": self.changed, "passBytes": self.bytes, "errors": self.losses,
                "opens": None, "fetches": self.fetches, "redraws": 0, "redrawMs": 0, "rows": None,
                "scriptErrors": []}


def cpu_window(process, seconds):
    started, cpu = time.monotonic(), process_cpu_seconds(process.pid)
    time.sleep(seconds)
    if process.poll() is not None:
        raise Failure("the monitor ended during the CPU window (status %s)" % process.returncode)
    return 100 * (process_cpu_seconds(process.pid) - cpu) / (time.monotonic() - started)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True, help="the beaconvigilor-headless to measure")
    parser.add_argument("--node-modules", required=True, help="tests/browser/node_modules, with playwright-core")
    parser.add_argument("--ci", action="store_true", help="the small form: fails only on misbehaviour")
    parser.add_argument("--hosts", type=int, help="hosts in the list (10,000)")
    parser.add_argument("--interval", type=int, default=5000, help="-pt, ms")
    parser.add_argument("--max", type=int, default=256, help="-max, requests in flight")
    parser.add_argument("--window", type=int, help="seconds of each CPU window (60; 15 with --ci)")
    parser.add_argument("--pages", type=int, default=10, help="pages open in the second window")
    parser.add_argument("--tabs", action="store_true",
                        help="Chromium pages in the CPU window, not clients of the stream and the API")
    parser.add_argument("--loads", type=int, help="first loads timed (5; 2 with --ci)")
    parser.add_argument("--page-timeout", type=int, default=60, help="seconds a page may take to show all rows")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    options = parser.parse_args()
    options.hosts = options.hosts or 10000
    options.window = options.window or (15 if options.ci else 60)
    options.loads = options.loads or (2 if options.ci else 5)
    if options.hosts > 64 * 254:
        parser.error("at most %d hosts" % (64 * 254))

    work = tempfile.mkdtemp(prefix="bvpage-")
    out = sys.stdout
    problems = []
    budgets = []
    try:
        out.write(machine_description() + "\n")
        hosts_path, flapping, silent = write_hosts(work, options.hosts)
        set_up_drops(flapping, silent)
        out.write("ours: beaconvigilor-headless -in FILE -pt %d -max %d -metrics 127.0.0.1:PORT, %d hosts on lo, %d of "
                  "them flapping (half their requests dropped at random), %d silent; measured %s\n"
                  % (options.interval, options.max, options.hosts, len(flapping), len(silent),
                     "after the first pass" if options.ci else "once every host's strip holds %d requests" % STRIP))
        out.flush()
        port = free_port()
        monitor = start_monitor(options, hosts_path, work, port)

        if not options.ci:
            # The page's size grows with the strips: measured full, as it is
            # for most of a run.
            fill = STRIP * options.interval / 1000 + 30
            wait_until(lambda: strip_lengths(port)[options.hosts // 20] >= STRIP, fill, step=10)
        lengths = strip_lengths(port)
        out.write("Strips when measured: %d to %d requests, median %d; %d hosts' full\n"
                  % (lengths[0], lengths[-1], lengths[len(lengths) // 2], sum(n >= STRIP for n in lengths)))
        out.write("\nServed (median of 5, from a client on loopback; first byte: the server's time to make it):\n")
        out.write("| Path | Bytes | First byte ms | Whole ms |\n|---|---|---|---|\n")
        for target in ("/", "/api/v1/hosts"):
            figures = served(port, target, 5)
            out.write("| %s | %d | %.1f | %.1f |\n" % (target, figures["bytes"], figures["first"], figures["whole"]))
        out.flush()

        clients = Clients(options, port, options.loads, 0)
        loads = clients.next("loads")
        clients.stop()
        out.write("\nFirst load in headless Chromium, ms from the navigation (fresh page each):\n")
        out.write("| Load | HTML received | DOM ready | /api/v1/hosts received | Script's table made | "
                  "All %d rows shown |\n|---|---|---|---|---|---|\n" % options.hosts)
        for number, load in enumerate(loads, 1):
            out.write("| %d | %.0f | %.0f | %s | %.0f | %.0f |\n" % (
                number, load["html"], load["domReady"], "%.0f" % load["api"] if load["api"] is not None else "-",
                load["redrawn"], load["shown"]))
        shown = statistics.median(load["shown"] for load in loads)
        budgets.append("first load of %d hosts, median %.0f ms, under %d ms: %s"
                       % (options.hosts, shown, LOAD_BUDGET_MS, "met" if shown < LOAD_BUDGET_MS else "NOT MET"))
        out.flush()

        # The loads' pages are gone: one pass to settle, then the quiet window.
        time.sleep(options.interval / 1000)
        quiet = cpu_window(monitor, options.window)
        if options.tabs:
            clients = Clients(options, port, 0, options.pages)
            clients.next("ready")
        else:
            streams = [StreamClient(port, number == 0) for number in range(options.pages)]
            if not wait_until(lambda: all(stream.fetches for stream in streams), 60):
                raise Failure("a stream client got no /api/v1/hosts in 60 s")
        time.sleep(options.interval / 1000)
        # Counted from here: the window's own.
        if not options.tabs:
            for stream in streams:
                stream.passes = stream.changed = stream.bytes = stream.losses = stream.fetches = 0
        busy = cpu_window(monitor, options.window)
        if options.tabs:
            pages = clients.stop()
        else:
            pages = [stream.counts() for stream in streams]
            for stream in streams:
                stream.stop()

        out.write("\nMonitor CPU over %d s windows (utime+stime from /proc), %% of one core:\n" % options.window)
        out.write("| Clients | CPU %% |\n|---|---|\n| none | %.2f |\n| %d %s | %.2f |\n"
                  % (quiet, options.pages, "Chromium pages" if options.tabs else "stream clients", busy))
        kind = "Chromium page" if options.tabs else "stream client (the list, then the stream)"
        out.write("\nEach %s over the %d s window:\n" % (kind, options.window))
        out.write("| Client | Passes | Changed hosts/pass | KB/pass | Streams lost | Full fetches | "
                  "Pass to frame ms | Rows |\n|---|---|---|---|---|---|---|---|\n")
        shown = lambda value: "-" if value is None else "%.0f" % value
        for number, page in enumerate(pages, 1):
            passes = page["passes"]
            out.write("| %d | %d | %s | %s | %d | %d | %s | %s |\n" % (
                number, passes, shown(page["changed"] / passes if passes and page["changed"] else None),
                shown(page["passBytes"] / passes / 1024 if passes else None), page["errors"], page["fetches"],
                shown(page["redrawMs"] / page["redraws"] if page["redraws"] else None), shown(page["rows"])))
            for error in page["scriptErrors"]:
                problems.append("client %d: script error: %s" % (number, error))
            if passes == 0:
                problems.append("client %d: no pass came by the event stream in %d s" % (number, options.window))
            if page["errors"]:
                problems.append("client %d: its event stream was lost %d times in %d s"
                                % (number, page["errors"], options.window))
            if page["rows"] is not None and page["rows"] != options.hosts:
                problems.append("client %d: %d rows at the end, not %d" % (number, page["rows"], options.hosts))
        extra = busy - quiet
        budgets.append("%d pages cost the monitor %.2f %% of a core more than none, under %.1f %%: %s"
                       % (options.pages, extra, CPU_BUDGET_PERCENT, "met" if extra < CPU_BUDGET_PERCENT else "NOT MET"))
        if not options.ci:
            out.write("\nBudgets:\n" + "".join("- %s\n" % line for line in budgets))
    except Failure as failure:
        problems.append(str(failure))
    finally:
        for process in STARTED:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        tear_down_drops()
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
