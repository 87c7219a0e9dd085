#!/usr/bin/env python3
"""Where the kernel's send stamps fall against a capture of the interface.

As root: makes two network namespaces joined by a veth pair (198.18.0.1 and
2001:2::1 on the monitor's side, 198.18.0.2 and 2001:2::2 on the host's),
and pings the host through each of the four kinds of ICMP socket with both
transmit stamps on (the driver's, SOF_TIMESTAMPING_TX_SOFTWARE, and the
scheduler's, SOF_TIMESTAMPING_TX_SCHED) and reception stamps. An AF_PACKET
socket on the monitor's end of the pair stamps each request going out and
each reply coming in: the wire's truth. Prints, per kind, the median, 99th
percentile and largest offset of each stamp against the capture, and of
the round trip each send stamp gives against the capture's, idle and with
every core kept busy (--load). Figures, not a test.
"""

import argparse
import os
import select
import socket
import statistics
import struct
import subprocess
import sys
import time

SO_TIMESTAMPING = 37
SCM_TIMESTAMPING = SO_TIMESTAMPING
TX_SOFTWARE, RX_SOFTWARE, SOFTWARE = 1 << 1, 1 << 3, 1 << 4
OPT_ID, TX_SCHED, OPT_TSONLY = 1 << 7, 1 << 8, 1 << 11
MSG_ERRQUEUE = 0x2000
ORIGIN_TIMESTAMPING = 4
SCM_TSTAMP_SND, SCM_TSTAMP_SCHED = 0, 1
ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4

MONITOR, HOST, LINK = "bvts-mon", "bvts-host", "bvts0"
V4 = ("198.18.0.1", "198.18.0.2")
V6 = ("2001:2::1", "2001:2::2")


def run(*command):
    subprocess.run(command, check=True)


def lab_up():
    lab_down()
    run("ip", "netns", "add", MONITOR)
    run("ip", "netns", "add", HOST)
    run("ip", "link", "add", LINK, "netns", MONITOR, "type", "veth", "peer", "name", LINK, "netns", HOST)
    for space, four, six in ((MONITOR, V4[0], V6[0]), (HOST, V4[1], V6[1])):
        ns = ("ip", "netns", "exec", space)
        run(*ns, "ip", "link", "set", "lo", "up")
        run(*ns, "ip", "addr", "add", four + "/24", "dev", LINK)
        run(*ns, "ip", "addr", "add", six + "/64", "dev", LINK, "nodad")
        run(*ns, "ip", "link", "set", LINK, "up")
        run(*ns, "sysctl", "-qw", "net.ipv4.ping_group_range=0 2147483647")


def lab_down():
    for space in (MONITOR, HOST):
        subprocess.run(("ip", "netns", "del", space), stderr=subprocess.DEVNULL)


def stamp_of(ancillary):
    for level, kind, data in ancillary:
        if level == socket.SOL_SOCKET and kind == SCM_TIMESTAMPING and len(data) >= 48:
            seconds, nanoseconds = struct.unpack_from("qq", data, 0)
            if seconds or nanoseconds:
                return seconds * 1_000_000_000 + nanoseconds
    return None


def extended_error(ancillary):
    for level, kind, data in ancillary:
        if (level, kind) in ((socket.IPPROTO_IP, 11), (socket.IPPROTO_IPV6, 25)) and len(data) >= 16:
            return struct.unpack_from("IBBBBII", data, 0)
    return None


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def echo_request(six, identifier, sequence):
    body = struct.pack("!HH", identifier, sequence) + bytes(36)
    header = struct.pack("!BBH", 128 if six else 8, 0, 0)
    if six:
        return header + body  # the kernel sums ICMPv6
    return struct.pack("!BBH", 8, 0, checksum(header + body)) + body


def echo_of(packet, protocol):
    """(is request, identifier, sequence) of an echo seen by the capture."""
    if protocol == 0x0800 and len(packet) >= 28 and packet[9] == 1:
        at = (packet[0] & 0x0F) * 4
        kind = packet[at]
        if kind in (0, 8):
            return kind == 8, *struct.unpack_from("!HH", packet, at + 4)
    if protocol == 0x86DD and len(packet) >= 48 and packet[6] == 58:
        kind = packet[40]
        if kind in (128, 129):
            return kind == 128, *struct.unpack_from("!HH", packet, 44)
    return None


def measure(kind, six, count, transmit):
    family = socket.AF_INET6 if six else socket.AF_INET
    protocol = socket.IPPROTO_ICMPV6 if six else socket.IPPROTO_ICMP
    pinger = socket.socket(family, socket.SOCK_RAW if kind == "raw" else socket.SOCK_DGRAM, protocol)
    pinger.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPING,
                      transmit | RX_SOFTWARE | SOFTWARE | OPT_ID | OPT_TSONLY)
    capture = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_ALL))
    capture.bind((LINK, ETH_P_ALL))
    capture.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPING, RX_SOFTWARE | SOFTWARE)
    capture.setblocking(False)
    waiting = select.poll()
    waiting.register(pinger, select.POLLIN)
    identifier = os.getpid() & 0xFFFF
    if kind == "datagram":
        pinger.bind(("::" if six else "0.0.0.0", 0))
        identifier = pinger.getsockname()[1]
    target = (V6[1] if six else V4[1], 0)
    sent, scheduled, arrived = {}, {}, {}
    wire_out, wire_in = {}, {}
    missing_arrival = 0
    for sequence in range(count):
        pinger.sendto(echo_request(six, identifier, sequence), target)
        if not waiting.poll(1000):
            continue
        reply, ancillary, _, _ = pinger.recvmsg(256, 256)
        at = (0 if six or kind == "datagram" else (reply[0] & 0x0F) * 4)
        if len(reply) >= at + 8:
            got = struct.unpack_from("!H", reply, at + 6)[0]
            stamp = stamp_of(ancillary)
            if stamp is None:
                missing_arrival += 1
            else:
                arrived[got] = stamp
        while True:
            try:
                _, ancillary, _, _ = pinger.recvmsg(64, 256, MSG_ERRQUEUE | socket.MSG_DONTWAIT)
            except BlockingIOError:
                break
            error = extended_error(ancillary)
            stamp = stamp_of(ancillary)
            if error and error[1] == ORIGIN_TIMESTAMPING and stamp:
                (sent if error[5] == SCM_TSTAMP_SND else scheduled)[error[6]] = stamp
        time.sleep(0.002)  # a quiet link between requests: the figures are per request
    while True:
        try:
            packet, ancillary, _, address = capture.recvmsg(256, 256)
        except BlockingIOError:
            break
        echo = echo_of(packet, address[1])
        stamp = stamp_of(ancillary)
        if echo and stamp and echo[1] == identifier:
            (wire_out if echo[0] and address[2] == PACKET_OUTGOING else wire_in)[echo[2]] = stamp
    pinger.close()
    capture.close()
    # The OPT_ID count is the sequence here: one send per sequence, from 0.
    rows = {}
    for name, stamps in (("driver (TX_SOFTWARE)", sent), ("scheduler (TX_SCHED)", scheduled)):
        offsets = [stamps[s] - wire_out[s] for s in stamps if s in wire_out]
        trips = [(arrived[s] - stamps[s]) - (wire_in[s] - wire_out[s])
                 for s in stamps if s in wire_out and s in wire_in and s in arrived]
        rows[name] = (offsets, trips)
    rows["arrival (RX_SOFTWARE)"] = ([arrived[s] - wire_in[s] for s in arrived if s in wire_in], [])
    wire_trips = [wire_in[s] - wire_out[s] for s in wire_out if s in wire_in]
    return rows, missing_arrival, len(sent), len(scheduled), wire_trips


def figures(values):
    if not values:
        return "-"
    ordered = sorted(values)
    median = statistics.median(ordered)
    sizes = sorted(abs(value) for value in ordered)
    p99 = sizes[min(len(sizes) - 1, int(round(0.99 * (len(sizes) - 1))))]
    largest = max(ordered, key=abs)
    return "%7.1f %7.1f %7.1f" % (median / 1000, p99 / 1000, largest / 1000)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=500)
    parser.add_argument("--load", action="store_true", help="keep every core busy meanwhile")
    parser.add_argument("--transmit", choices=("both", "driver", "scheduler"), default="both",
                        help="which transmit stamps to ask for (both at once perturb each other)")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if not options.inside:
        if os.geteuid() != 0:
            sys.exit("needs root: network namespaces")
        lab_up()
        try:
            command = ["ip", "netns", "exec", MONITOR, sys.executable, __file__, "--inside",
                       "--count", str(options.count), "--transmit", options.transmit] + (["--load"] if options.load else [])
            sys.exit(subprocess.run(command).returncode)
        finally:
            lab_down()
    burners = []
    if options.load:
        burners = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(os.cpu_count() or 1)]
    try:
        print("offsets in µs against the capture: median, 99th percentile of the size, largest%s" %
              (" (every core busy)" if options.load else " (idle)"))
        for kind in ("raw", "datagram"):
            for six in (False, True):
                transmit = {"both": TX_SOFTWARE | TX_SCHED, "driver": TX_SOFTWARE, "scheduler": TX_SCHED}
                rows, missing, sends, schedules, wire = measure(kind, six, options.count, transmit[options.transmit])
                print("%s ICMP%s socket: %d driver stamps, %d scheduler stamps, %d replies without stamp; "
                      "wire round trip %s" % (kind, "v6" if six else "", sends, schedules, missing, figures(wire)))
                for name, (offsets, trips) in rows.items():
                    if not offsets:
                        continue
                    print("  %-22s stamp - capture %s   round trip - capture's %s" %
                          (name, figures(offsets), figures(trips)))
    finally:
        for burner in burners:
            burner.kill()
            burner.wait()


if __name__ == "__main__":
    main()
