#!/usr/bin/env python3
"""Checks what a soak run left behind (soak.py writes the directory):

- every line of the log and its archives is whole: time, RED or GREEN, a
  known host, and the fields of its kind; every file ends with a whole batch;
- the archives, oldest first, then the log join into one log with no line
  twice and every host's lines in time order;
- within each run, every host's lines alternate RED and GREEN, starting
  with RED; a run ended by SIGKILL may leave a host red;
- every GREEN line's outage length is its time minus its RED line's time
  plus at most one interval, the 10 s timeout and one sweep pass (the first
  failed request came that much before the one that turned the host red);
- the down file at the end lists exactly the hosts whose last line is RED;
- every run sent its first request to a host within the start limit (one
  interval and 3 s: a host's first request waits one interval), so no run
  found the lock set held by a killed one;
- the last run ended on SIGTERM with exit status 0; no sanitizer report;
- without kills: resident memory after the first minute never grows by
  more than 10%.
Exit status 0 when all hold; the faults are listed otherwise."""

import calendar
import glob
import json
import os
import re
import sys
import time

TIME = r'[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}'
RED = re.compile('^(' + TIME + r')\tRED\t([^\t\r\n]+)\t([^\t\r\n]+)\t([^\t\r\n]*)\t\t([^\t\r\n]+)$')
GREEN = re.compile('^(' + TIME + r')\tGREEN\t([^\t\r\n]+)\t([^\t\r\n]+)\t([^\t\r\n]*)\t(\d+\.\d{6})$')
TIMEOUT_S = 10


def seconds_of(text):
    return calendar.timegm(time.strptime(text, '%a %b %d %H:%M:%S %Y'))


class Check:
    def __init__(self):
        self.faults = []

    def fault(self, text):
        if len(self.faults) < 200:
            self.faults.append(text)


def read_bytes(path):
    with open(path, 'rb') as data:
        return data.read()


def read_hosts(directory):
    hosts = {}
    with open(os.path.join(directory, 'hosts.txt')) as text:
        for line in text:
            if line.startswith('#') or not line.strip():
                continue
            name, address, comment = line.split(None, 2)
            hosts[name] = (address, comment.strip())
    return hosts


def log_files(directory):
    # The time stamp in the name sorts the archives oldest first.
    archives = sorted(glob.glob(os.path.join(directory, 'out.????-??-??.??-??-??.txt')))
    current = os.path.join(directory, 'out.txt')
    return archives + ([current] if os.path.exists(current) else [])


def parse_record(line, hosts):
    for status, pattern in (('RED', RED), ('GREEN', GREEN)):
        match = pattern.match(line)
        if not match:
            continue
        name, address, comment = match.group(2), match.group(3), match.group(4)
        if hosts.get(name) != (address, comment):
            return None
        record = {'time': seconds_of(match.group(1)), 'status': status, 'name': name, 'line': line}
        if status == 'GREEN':
            record['outage'] = float(match.group(5))
        return record
    return None


def read_log(directory, hosts, check):
    records = []
    for path in log_files(directory):
        data = read_bytes(path)
        name = os.path.basename(path)
        if not data:
            check.fault('%s: empty' % name)
            continue
        if not data.endswith(b'\r\n\r\n'):
            check.fault('%s: does not end with a whole batch (torn write?)' % name)
        lines = data.split(b'\r\n')
        if lines and lines[-1] == b'':
            lines.pop()
        previous_empty = True
        for number, raw in enumerate(lines, 1):
            if raw == b'':
                if previous_empty:
                    check.fault('%s line %d: an empty line where a batch should be' % (name, number))
                previous_empty = True
                continue
            previous_empty = False
            line = raw.decode('latin-1')
            record = parse_record(line, hosts)
            if record is None:
                check.fault('%s line %d: torn or garbled line %r' % (name, number, line))
                continue
            record['file'] = name
            records.append(record)
    return records


def check_join(records, check):
    seen, last_time = set(), {}
    for record in records:
        if record['line'] in seen:
            check.fault('line twice in the joined log: %r' % record['line'])
        seen.add(record['line'])
        name = record['name']
        if record['time'] < last_time.get(name, 0):
            check.fault('%s: line out of time order in the joined log (%s)' % (name, record['file']))
        last_time[name] = record['time']


def split_by_run(records, runs, check):
    per_run = [[] for _ in runs]
    for record in records:
        for index, run in enumerate(runs):
            if run['start'] - 1 <= record['time'] <= run['end'] + 1:
                per_run[index].append(record)
                break
        else:
            check.fault('%s: line at %d falls in no run' % (record['name'], record['time']))
    return per_run


def check_alternation(per_run, runs, interval_s, check, figures):
    allowance = interval_s + TIMEOUT_S + interval_s + 2
    last_status = {}
    for index, records in enumerate(per_run):
        state = {}
        for record in records:
            name, status = record['name'], record['status']
            before = state.get(name)
            if status == 'RED':
                if before is not None and before['status'] == 'RED':
                    check.fault('run %d, %s: RED after RED (a GREEN missing) at %d' % (index, name, record['time']))
                figures['red'] += 1
            else:
                if before is None or before['status'] != 'RED':
                    check.fault('run %d, %s: GREEN without a RED before it at %d' % (index, name, record['time']))
                else:
                    lower = record['time'] - before['time']
                    if not lower <= record['outage'] <= lower + allowance:
                        check.fault('run %d, %s: outage %.0f s, but RED at %d and GREEN at %d' % (
                            index, name, record['outage'], before['time'], record['time']))
                    figures['outages'] += 1
            state[name] = record
        if index == len(per_run) - 1:
            last_status = {name: record['status'] for name, record in state.items()}
    return last_status


def check_down_file(directory, hosts, last_status, per_run, check):
    path = os.path.join(directory, 'down.txt')
    if not os.path.exists(path):
        check.fault('no down file')
        return
    data = read_bytes(path)
    if not data.endswith(b'\r\n'):
        check.fault('down file: does not end with CR LF')
    listed = []
    for raw in data.split(b'\r\n')[:-1]:
        if raw == b'':
            continue
        record = parse_record(raw.decode('latin-1'), hosts)
        if record is None or record['status'] != 'RED':
            check.fault('down file: bad line %r' % raw)
            continue
        listed.append(record)
    red = {name for name, status in last_status.items() if status == 'RED'}
    names = [record['name'] for record in listed]
    if len(names) != len(set(names)):
        check.fault('down file: a host listed twice')
    if set(names) != red:
        check.fault('down file lists %d hosts, the log ends RED for %d: only listed %s, only logged %s' % (
            len(set(names)), len(red), sorted(set(names) - red)[:5], sorted(red - set(names))[:5]))
    last_red = {}
    for record in per_run[-1] if per_run else []:
        if record['status'] == 'RED':
            last_red[record['name']] = record['time']
    for record in listed:
        # Down since the first failed request: no later than the RED line.
        if record['name'] in last_red and record['time'] > last_red[record['name']]:
            check.fault('down file: %s down since after its RED line' % record['name'])


def check_runs(directory, report, check):
    for run in report['runs']:
        if run['first_send'] is None:
            check.fault('run %d: never sent a request to a host' % run['index'])
        elif run['first_send'] > report.get('start_limit', 5):
            check.fault('run %d: first request only after %.1f s' % (run['index'], run['first_send']))
        errors = read_bytes(os.path.join(directory, 'stderr.%d.txt' % run['index'])).decode('latin-1')
        for marker in ('ThreadSanitizer', 'AddressSanitizer', 'runtime error:', 'LeakSanitizer', 'Log File Error'):
            if marker in errors:
                check.fault('run %d: "%s" on its standard error' % (run['index'], marker))
    last = report['runs'][-1]
    if last['how'] != 'term' or last['exit'] != 0:
        check.fault('last run ended %s with exit status %s, not 0 after SIGTERM' % (last['how'], last['exit']))
    for run in report['runs'][:-1]:
        if run['how'] != 'kill':
            check.fault('run %d ended %s, not by SIGKILL' % (run['index'], run['how']))
    if report.get('flapper_failure'):
        check.fault('the flapper failed: %s' % report['flapper_failure'])


def check_memory(directory, report, check, figures):
    samples = []
    with open(os.path.join(directory, 'memory.tsv')) as text:
        for line in text:
            run, elapsed, resident = line.split('\t')
            samples.append((int(run), float(elapsed), int(resident)))
    last_run = report['runs'][-1]['index']
    samples = [(elapsed, resident) for run, elapsed, resident in samples if run == last_run]
    if not samples:
        check.fault('no memory samples')
        return
    figures['memory_first_kb'] = samples[0][1]
    figures['memory_last_kb'] = samples[-1][1]
    later = [s for s in samples if s[0] >= 60]
    if not later:
        return
    base = later[0][1]
    figures['memory_at_minute_kb'] = base
    figures['memory_peak_kb'] = max(resident for _, resident in later)
    if report.get('memory_check', True) and report['kills'] == 0 and figures['memory_peak_kb'] > base * 1.10:
        check.fault('resident memory grew from %d kB at one minute to %d kB' % (base, figures['memory_peak_kb']))


def check_directory(directory):
    check = Check()
    report = json.loads(read_bytes(os.path.join(directory, 'runs.json')))
    hosts = read_hosts(directory)
    records = read_log(directory, hosts, check)
    check_join(records, check)
    figures = {'red': 0, 'outages': 0}
    per_run = split_by_run(records, report['runs'], check)
    last_status = check_alternation(per_run, report['runs'], report['interval_ms'] / 1000, check, figures)
    check_down_file(directory, hosts, last_status, per_run, check)
    check_runs(directory, report, check)
    check_memory(directory, report, check, figures)
    figures.update({'lines': len(records), 'files': len(log_files(directory)), 'hosts': len(hosts),
                    'runs': len(report['runs']),
                    'seconds': round(report['runs'][-1]['end'] - report['runs'][0]['start'])})
    return check.faults, figures


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: check_soak.py DIRECTORY')
    faults, figures = check_directory(sys.argv[1])
    print('soak figures: %d s, %d hosts, %d runs, %d log lines in %d files, %d turns to red, %d outages checked, '
          'memory %s kB first, %s kB at one minute, %s kB peak after, %s kB last' % (
              figures['seconds'], figures['hosts'], figures['runs'], figures['lines'], figures['files'],
              figures['red'], figures['outages'], figures.get('memory_first_kb'), figures.get('memory_at_minute_kb'),
              figures.get('memory_peak_kb'), figures.get('memory_last_kb')))
    for fault in faults:
        print('soak fault: ' + fault)
    if faults:
        sys.exit(1)
    if figures['red'] == 0:
        print('soak fault: no host ever turned red; the soak proved nothing')
        sys.exit(1)
    print('soak: every check held')


if __name__ == '__main__':
    main()
