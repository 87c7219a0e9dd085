#!/usr/bin/env python3
"""The soak: the headless monitor watches many hosts behind the lab's router
while random subsets stop answering and come back, optionally killed with
SIGKILL at random moments and started again. Leaves the run's files in the
output directory for check_soak.py, which it runs at the end.

Only addresses of the lab's own namespaces are ever pinged."""

import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LAB = os.path.join(HERE, '..', 'lab', 'network-lab.sh')
FAR_BASE = (198 << 24) | (19 << 16) | (16 << 8)  # 198.19.16.0/20 answers on the far side
FIRST_HOST = 10  # 198.19.16.2 and .3 start dropped and rejected


def dotted(value):
    return '.'.join(str((value >> shift) & 255) for shift in (24, 16, 8, 0))


def lab(*arguments):
    subprocess.run([LAB, *arguments], check=True, stdout=subprocess.DEVNULL)


def unique_prefix():
    digits = '0123456789abcdefghijklmnopqrstuvwxyz'
    value, text = os.getpid(), ''
    while value:
        text = digits[value % 36] + text
        value //= 36
    return 'hs' + text[-6:]


class Flapper(threading.Thread):
    """Every few seconds brings back the hosts whose outage is over and takes
    down new ones: most rejected (host-unreachable, failing at once), a few
    dropped (silent, failing after the 10 s timeout). Six requests may be
    outstanding and a silent host holds one for 10 s or more, so more than
    a couple of silent hosts at a time would starve every other host."""

    def __init__(self, prefix, addresses, fraction, silent_at_once, step, log_path, seed):
        super().__init__(daemon=True)
        self.prefix, self.addresses = prefix, addresses
        self.target = max(1, int(len(addresses) * fraction))
        self.silent_at_once, self.step = silent_at_once, step
        self.random = random.Random(seed)
        self.down = {}  # address -> (mode, until)
        self.last_change = {address: 0.0 for address in addresses}
        self.stopping = threading.Event()
        self.log = open(log_path, 'w')
        self.failure = None

    def run(self):
        try:
            while not self.stopping.wait(self.step):
                self.flip(time.monotonic())
        except Exception as error:  # reported by the driver
            self.failure = repr(error)

    def flip(self, now):
        for address, (mode, until) in list(self.down.items()):
            if until <= now:
                del self.down[address]
                self.last_change[address] = now
        candidates = [a for a in self.addresses if a not in self.down and now - self.last_change[a] >= 20]
        self.random.shuffle(candidates)
        while len(self.down) < self.target and candidates:
            address = candidates.pop()
            silent = sum(1 for mode, _ in self.down.values() if mode == 'dropped')
            mode = 'dropped' if silent < self.silent_at_once else 'rejected'
            self.down[address] = (mode, now + self.random.uniform(12, 45))
            self.last_change[address] = now
        dropped = [a for a, (mode, _) in self.down.items() if mode == 'dropped']
        rejected = [a for a, (mode, _) in self.down.items() if mode == 'rejected']
        lab('only-silent', self.prefix, *dropped)
        lab('only-rejected', self.prefix, *rejected)
        self.log.write('%.1f\t%d dropped\t%d rejected\n' % (time.time(), len(dropped), len(rejected)))
        self.log.flush()

    def stop(self):
        self.stopping.set()
        self.join()


class Monitor:
    """One run of the program in the monitor's namespace."""

    def __init__(self, program, prefix, directory, shared, index, options):
        self.index = index
        self.errors = open(os.path.join(directory, 'stderr.%d.txt' % index), 'w')
        self.start = time.time()
        started = time.monotonic()
        environment = dict(os.environ, TZ='UTC')
        # The named lock objects live in /dev/shm and are shared with every
        # other process of the program on the machine. The soak's runs get a
        # directory of their own there: kills must not reach other runs, and
        # other runs must not decide whether the soak's lock set is fresh.
        command = ['unshare', '--mount', '--propagation', 'private', 'sh', '-c',
                   'mount --bind "$0" /dev/shm && exec "$@"', shared,
                   LAB, 'exec', prefix, program, '-trace', '-in', 'hosts.txt', '-out', 'out.txt', '-red', 'down.txt', *options]
        self.process = subprocess.Popen(command,
            cwd=directory, stdout=subprocess.PIPE, stderr=self.errors, env=environment)
        self.first_send = None
        self.sent = threading.Event()

        def watch():
            # The first echo request to a lab host; the pipe is then closed,
            # which the program takes in its stride.
            for line in self.process.stdout:
                if line.startswith(b'Sending ') and b' bytes to 198.1' in line:
                    self.first_send = time.monotonic() - started
                    break
            self.sent.set()
            self.process.stdout.close()

        self.watcher = threading.Thread(target=watch, daemon=True)
        self.watcher.start()

    def resident_kb(self):
        try:
            with open('/proc/%d/status' % self.process.pid) as status:
                for line in status:
                    if line.startswith('VmRSS:'):
                        return int(line.split()[1])
        except OSError:
            return None
        return None

    def finish(self, how, limit):
        self.process.send_signal(signal.SIGKILL if how == 'kill' else signal.SIGTERM)
        try:
            code = self.process.wait(limit)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
            how = 'hung'
        self.end = time.time()
        self.watcher.join(5)
        self.errors.close()
        return {'index': self.index, 'start': self.start, 'end': self.end, 'how': how, 'exit': code,
                'first_send': self.first_send}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--program', required=True)
    parser.add_argument('--out', required=True, help='directory for the run; emptied first')
    parser.add_argument('--seconds', type=float, default=180)
    parser.add_argument('--hosts', type=int, default=1000)
    parser.add_argument('--kills', type=int, default=0, help='SIGKILLs at random moments, each followed by a restart')
    parser.add_argument('--interval-ms', type=int, default=5000)
    parser.add_argument('--archive-kb', type=int, default=8)
    parser.add_argument('--down-fraction', type=float, default=0.05)
    parser.add_argument('--silent-at-once', type=int, default=2)
    parser.add_argument('--flip-seconds', type=float, default=3)
    parser.add_argument('--seed', type=int, default=None)
    parser.add_argument('--no-memory-check', action='store_true')
    parser.add_argument('--start-limit', type=float, default=None,
                        help='seconds to the first request; one interval and 3 s by default')
    arguments = parser.parse_args()
    arguments.program = os.path.abspath(arguments.program)
    if os.geteuid() != 0:
        sys.exit('soak: needs root (network namespaces, raw sockets)')
    if arguments.hosts < 1 or arguments.hosts > 4000:
        sys.exit('soak: 1 to 4000 hosts')

    seed = arguments.seed if arguments.seed is not None else random.randrange(1 << 30)
    chooser = random.Random(seed)
    directory = os.path.abspath(arguments.out)
    os.makedirs(directory, exist_ok=True)
    for name in os.listdir(directory):
        os.remove(os.path.join(directory, name))
    addresses = [dotted(FAR_BASE + FIRST_HOST + i) for i in range(arguments.hosts)]
    with open(os.path.join(directory, 'hosts.txt'), 'w') as hosts:
        hosts.write('# soak hosts, all beyond the lab router\n')
        for i, address in enumerate(addresses):
            hosts.write('h%04d %s soak host %d\n' % (i, address, i))

    prefix = unique_prefix()
    lab('up', prefix)
    shared = tempfile.mkdtemp(prefix='bv-soak-shm-')
    options = ['-pt', str(arguments.interval_ms), '-archive', str(arguments.archive_kb)]
    runs, memory = [], open(os.path.join(directory, 'memory.tsv'), 'w')
    monitor = None
    flapper = Flapper(prefix, addresses, arguments.down_fraction, arguments.silent_at_once, arguments.flip_seconds,
                      os.path.join(directory, 'flips.tsv'), seed)
    try:
        flapper.start()
        begin = time.monotonic()
        slice_length = arguments.seconds / (arguments.kills + 1)
        for index in range(arguments.kills + 1):
            last = index == arguments.kills
            if last:
                # Random kill slices may use up the time; the last run still
                # lives long enough to be sampled and checked.
                until = max(begin + arguments.seconds, time.monotonic() + 15.0)
            else:
                until = time.monotonic() + max(6.0, chooser.uniform(0.3, 1.7) * slice_length)
            monitor = Monitor(arguments.program, prefix, directory, shared, index, options)
            monitor.sent.wait(30)
            run_start = time.monotonic()
            while time.monotonic() < until:
                time.sleep(min(5.0, max(0.1, until - time.monotonic())))
                resident = monitor.resident_kb()
                if resident is not None:
                    memory.write('%d\t%.1f\t%d\n' % (index, time.monotonic() - run_start, resident))
                    memory.flush()
                if monitor.process.poll() is not None:
                    break
            runs.append(monitor.finish('term' if last else 'kill', 60))
            monitor = None
            print('soak: run %d ended (%s, exit %s), first request after %s s' % (
                index, runs[-1]['how'], runs[-1]['exit'], runs[-1]['first_send']), flush=True)
            if not last:
                time.sleep(2.2)  # whole seconds apart: the log's times tell the runs apart
    finally:
        flapper.stop()
        if monitor is not None:
            monitor.process.kill()
            monitor.process.wait()
        lab('down', prefix)
        shutil.rmtree(shared, ignore_errors=True)
        memory.close()
    with open(os.path.join(directory, 'runs.json'), 'w') as out:
        json.dump({'seed': seed, 'hosts': arguments.hosts, 'interval_ms': arguments.interval_ms,
                   'seconds': arguments.seconds, 'kills': arguments.kills, 'runs': runs,
                   'memory_check': not arguments.no_memory_check,
                   'start_limit': arguments.start_limit or arguments.interval_ms / 1000 + 3,
                   'flapper_failure': flapper.failure}, out, indent=1)
    checker = [sys.executable, os.path.join(HERE, 'check_soak.py'), directory]
    sys.exit(subprocess.run(checker).returncode)


if __name__ == '__main__':
    main()
