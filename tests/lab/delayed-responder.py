#!/usr/bin/env python3
"""Answers echo requests to the given addresses after a set delay.

Run inside the far namespace, where the kernel's own answers to those
addresses are dropped. Requests are seen on the link (a packet socket sees
them before the firewall drops them), answered through raw sockets.

usage: delayed-responder.py INTERFACE MILLISECONDS ADDRESS...
"""
import heapq
import ipaddress
import select
import socket
import struct
import sys
import time

ETH_P_ALL = 0x0003
IPV6_FREEBIND = 78


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def main():
    interface, delay = sys.argv[1], int(sys.argv[2]) / 1000.0
    wanted = {ipaddress.ip_address(text) for text in sys.argv[3:]}
    link = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    link.bind((interface, 0))
    due = []
    serial = 0
    while True:
        wait = max(0.0, due[0][0] - time.monotonic()) if due else None
        readable, _, _ = select.select([link], [], [], wait)
        if readable:
            frame, where = link.recvfrom(65536)
            if where[2] == socket.PACKET_OUTGOING or len(frame) < 14:
                continue
            kind = struct.unpack("!H", frame[12:14])[0]
            packet = frame[14:]
            if kind == 0x0800 and len(packet) >= 28 and packet[9] == 1:
                header = (packet[0] & 0x0F) * 4
                source = ipaddress.ip_address(packet[12:16])
                target = ipaddress.ip_address(packet[16:20])
                icmp = packet[header:]
                if target in wanted and icmp[0] == 8:
                    reply = bytearray(icmp)
                    reply[0] = 0
                    reply[2:4] = b"\0\0"
                    reply[2:4] = struct.pack("!H", checksum(bytes(reply)))
                    serial += 1
                    heapq.heappush(due, (time.monotonic() + delay, serial, 4, bytes(reply), str(source), str(target)))
            elif kind == 0x86DD and len(packet) >= 48 and packet[6] == 58:
                source = ipaddress.ip_address(packet[8:24])
                target = ipaddress.ip_address(packet[24:40])
                icmp = packet[40:]
                if target in wanted and icmp[0] == 128:
                    reply = bytearray(icmp)
                    reply[0] = 129
                    reply[2:4] = b"\0\0"  # the kernel fills in an ICMPv6 checksum
                    serial += 1
                    heapq.heappush(due, (time.monotonic() + delay, serial, 6, bytes(reply), str(source), str(target)))
        now = time.monotonic()
        while due and due[0][0] <= now:
            _, _, family, reply, source, target = heapq.heappop(due)
            # The reply comes from the address asked, as the kernel's would.
            try:
                with socket.socket(socket.AF_INET if family == 4 else socket.AF_INET6, socket.SOCK_RAW,
                                   socket.IPPROTO_ICMP if family == 4 else socket.IPPROTO_ICMPV6) as sender:
                    if family == 6:
                        # The far side's addresses are a local route, not assigned ones.
                        sender.setsockopt(socket.IPPROTO_IPV6, IPV6_FREEBIND, 1)
                    sender.bind((target, 0))
                    sender.sendto(reply, (source, 0))
            except OSError as error:
                print("delayed-responder: no reply to %s: %s" % (source, error), file=sys.stderr)

if __name__ == "__main__":
    main()
