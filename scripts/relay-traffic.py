#!/usr/bin/env python3
"""Sends a bounded stream of valid relay frames to a relay on loopback, so that a window shows
rows, lit lamps and a message rate (screenshots):
    scripts/relay-traffic.py [seconds] [frames per second]
Three applications share NAD 5 (so two get aliases), and a controller announces NAD 2001."""
import socket
import sys
import time

WEIGHTS = [0x049D, 0x0C07, 0x1591, 0x1ACF, 0x1D4B, 0x202D, 0x2507, 0x2B4B,
           0x34A5, 0x38C5, 0x3D3F, 0x4445, 0x4D0F, 0x538F, 0x5FB3, 0x6BBF]


def checksum(data):
    return sum((b ^ 0x5A) * WEIGHTS[i & 15] for i, b in enumerate(data)) & 0xFFFF


def frame(source, dest, direction, payload=b"\x01\x02"):
    body = (b"\xAA\x55" + (len(payload) + 2).to_bytes(2, "little")
            + source.to_bytes(4, "little", signed=True) + dest.to_bytes(4, "little", signed=True)
            + bytes([direction, 0]) + payload)
    return body + checksum(body).to_bytes(2, "little")


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 5
    rate = float(sys.argv[2]) if len(sys.argv) > 2 else 10
    relay = ("127.0.0.1", 8442)
    applications = []
    for port in (50001, 50002, 50003):
        peer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        peer.bind(("127.0.0.1", port))
        applications.append(peer)
    controller = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    controller.bind(("127.0.0.1", 9001))
    controller.sendto(frame(2001, 0, 1), relay)
    end = time.monotonic() + seconds
    sent = 0
    while time.monotonic() < end and sent < 10000:
        applications[sent % 3].sendto(frame(5, 2001, 0), relay)
        sent += 1
        time.sleep(1 / rate)


if __name__ == "__main__":
    main()
