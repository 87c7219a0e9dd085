#!/usr/bin/env python3
"""The soak checker must find what it is there to find: a good run passes,
and each kind of fault, planted in a copy, fails it."""

import json
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_soak  # noqa: E402

START = 1796680000


def stamp(seconds):
    return time.strftime('%a %b ', time.gmtime(seconds)) + '%2d' % time.gmtime(seconds).tm_mday \
        + time.strftime(' %H:%M:%S %Y', time.gmtime(seconds))


def red(t, name, address, error='Timed out'):
    return '%s\tRED\t%s\t%s\tsoak\t\t%s' % (stamp(t), name, address, error)


def green(t, name, address, outage):
    return '%s\tGREEN\t%s\t%s\tsoak\t%d.000000' % (stamp(t), name, address, outage)


def batch(*lines):
    return ''.join(line + '\r\n' for line in lines) + '\r\n'


class Run:
    """A good run's directory: two hosts, an archive, one host red at the end."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix='bv-check-soak-')
        self.write('hosts.txt', '# hosts\nh0 198.19.16.10 soak\nh1 198.19.16.11 soak\n')
        self.archive = batch(red(START + 20, 'h0', '198.19.16.10')) + batch(green(START + 40, 'h0', '198.19.16.10', 25))
        self.log = batch(red(START + 50, 'h1', '198.19.16.11', 'Destination unreachable'))
        self.down = red(START + 45, 'h1', '198.19.16.11', 'Destination unreachable') + '\r\n\r\n'
        self.report = {'seed': 1, 'hosts': 2, 'interval_ms': 5000, 'seconds': 100, 'kills': 0,
                       'memory_check': True, 'start_limit': 8, 'flapper_failure': None,
                       'runs': [{'index': 0, 'start': START, 'end': START + 100, 'how': 'term', 'exit': 0,
                                 'first_send': 5.1}]}
        self.memory = [(0, 5.0, 4000), (0, 60.0, 4200), (0, 95.0, 4300)]
        self.errors = ['Destination unreachable\n']

    def write(self, name, text):
        with open(os.path.join(self.path, name), 'w', newline='') as out:
            out.write(text)

    def faults(self):
        self.write('out.2026-12-07.23-00-00.txt', self.archive)
        self.write('out.txt', self.log)
        self.write('down.txt', self.down)
        self.write('runs.json', json.dumps(self.report))
        self.write('memory.tsv', ''.join('%d\t%.1f\t%d\n' % sample for sample in self.memory))
        for index, text in enumerate(self.errors):
            self.write('stderr.%d.txt' % index, text)
        return check_soak.check_directory(self.path)[0]

    def remove(self):
        shutil.rmtree(self.path)


class CheckSoak(unittest.TestCase):
    def setUp(self):
        self.run = Run()

    def tearDown(self):
        self.run.remove()

    def assertFault(self, words):
        faults = self.run.faults()
        self.assertTrue(any(words in fault for fault in faults), faults)

    def test_a_good_run_passes(self):
        self.assertEqual(self.run.faults(), [])

    def test_a_torn_line(self):
        self.run.log = batch(red(START + 50, 'h1', '198.19.16.11')[:30])
        self.assertFault('torn or garbled')

    def test_a_file_that_ends_inside_a_batch(self):
        self.run.log = red(START + 50, 'h1', '198.19.16.11', 'Destination unreachable') + '\r\n'
        self.assertFault('whole batch')

    def test_a_line_doubled_across_the_archive(self):
        self.run.log = batch(green(START + 40, 'h0', '198.19.16.10', 25)) + self.run.log
        self.assertFault('line twice')

    def test_a_missing_green(self):
        self.run.archive = batch(red(START + 20, 'h0', '198.19.16.10'))
        self.run.log = batch(red(START + 50, 'h0', '198.19.16.10'), red(START + 50, 'h1', '198.19.16.11',
                                                                         'Destination unreachable'))
        self.assertFault('RED after RED')

    def test_a_green_first(self):
        self.run.archive = batch(green(START + 40, 'h0', '198.19.16.10', 25))
        self.assertFault('GREEN without a RED')

    def test_an_outage_that_does_not_match(self):
        self.run.archive = batch(red(START + 20, 'h0', '198.19.16.10')) + batch(green(START + 40, 'h0',
                                                                                     '198.19.16.10', 3))
        self.assertFault('outage 3 s')

    def test_a_down_file_that_misses_a_red_host(self):
        self.run.down = '\r\n'
        self.assertFault('down file lists 0 hosts')

    def test_memory_growth(self):
        self.run.memory = [(0, 5.0, 4000), (0, 60.0, 4200), (0, 95.0, 4700)]
        self.assertFault('resident memory grew')

    def test_a_late_start(self):
        self.run.report['runs'][0]['first_send'] = 12.0
        self.assertFault('first request only after')

    def test_a_run_that_never_sent(self):
        self.run.report['runs'][0]['first_send'] = None
        self.assertFault('never sent')

    def test_a_sanitizer_report(self):
        self.run.errors = ['WARNING: ThreadSanitizer: data race\n']
        self.assertFault('ThreadSanitizer')

    def test_a_bad_exit(self):
        self.run.report['runs'][0]['exit'] = 1
        self.assertFault('exit status 1')

    def test_a_killed_run_may_end_red_and_the_next_starts_afresh(self):
        self.run.report['kills'] = 1
        self.run.report['runs'] = [
            {'index': 0, 'start': START, 'end': START + 30, 'how': 'kill', 'exit': -9, 'first_send': 5.2},
            {'index': 1, 'start': START + 33, 'end': START + 100, 'how': 'term', 'exit': 0, 'first_send': 5.0}]
        self.run.errors = ['', '']
        self.run.memory = [(1, 5.0, 4000)]
        self.run.archive = batch(red(START + 20, 'h0', '198.19.16.10'))
        self.run.log = batch(red(START + 45, 'h0', '198.19.16.10')) + batch(green(START + 60, 'h0', '198.19.16.10',
                                                                                 20)) + self.run.log
        self.assertEqual(self.run.faults(), [])
        # The same lines in one run lose a GREEN.
        self.run.report['runs'][0]['how'] = 'term'
        self.run.report['kills'] = 0
        self.run.report['runs'] = self.run.report['runs'][1:]
        self.run.report['runs'][0].update({'index': 0, 'start': START})
        self.run.errors = ['']
        self.run.memory = [(0, 5.0, 4000)]
        self.assertFault('RED after RED')


if __name__ == '__main__':
    unittest.main()
