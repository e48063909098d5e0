#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_reception into fuzz/corpus/ (see reception_harness.h)."""
import os
import struct

W = [0x049D, 0x0C07, 0x1591, 0x1ACF, 0x1D4B, 0x202D, 0x2507, 0x2B4B,
     0x34A5, 0x38C5, 0x3D3F, 0x4445, 0x4D0F, 0x538F, 0x5FB3, 0x6BBF]


def checksum(data):
    return sum((b ^ 0x5A) * W[i % 16] for i, b in enumerate(data)) & 0xFFFF


def frame(src, dst, direction, payload=b"", fmt=0, length=None):
    body = struct.pack("<BBHiiBB", 0xAA, 0x55, len(payload) + 2 if length is None else length,
                       src, dst, direction, fmt) + payload
    return body + struct.pack("<H", checksum(body))


def dgram(data, peer=0, fail=False, age=False, repeat=0):
    """repeat 1..8 delivers the datagram 64 * repeat times."""
    control = peer | (4 if fail else 0) | (8 if age else 0)
    if repeat:
        control |= 0x10 | ((repeat - 1) << 5)
    return struct.pack("<BH", control, len(data)) + data


REQ = frame(5, 1000, 0, b"\x01\x02")
seeds = {
    "request": dgram(REQ),
    "aliased_request_and_reply": dgram(REQ, 1) + dgram(frame(1000, 6, 1, b"\x03"), 2),
    "broadcast": dgram(frame(5, 0, 0, b"\x09")),
    "push": dgram(frame(3000, 0, 1), 3),
    "split": dgram(REQ[:10], 0) + dgram(REQ[10:], 1),
    "three_in_one": dgram(REQ + frame(5, 2000, 0) + frame(7, 0, 0), 0),
    "junk_between": dgram(REQ + b"\x00\x11" + REQ) + dgram(b"\x00"),
    "lone_start_byte": dgram(REQ + b"\xAA") + dgram(REQ[1:]),
    "bad_checksum_then_good": dgram(REQ[:-1] + bytes([REQ[-1] ^ 1]) + REQ),
    "format_one": dgram(frame(5, 1000, 0, fmt=1) + REQ),
    "long_head": dgram(frame(5, 1000, 0, b"\x42" * 4998)[:3000]) + dgram(b"\x42" * 2100, 1),
    "bad_lengths": dgram(b"\xAA\x55\x00\x00" + b"\x00" * 10 + REQ +
                         b"\xAA\x55\xF2\xFF" + b"\x00" * 10 + REQ),
    "failing_send": dgram(REQ * 4, 0, fail=True) + dgram(b"\x00"),
    "ageing": dgram(REQ) + dgram(frame(1000, 5, 1), 2, age=True) + dgram(REQ, 0, age=True),
    "reply_direction_two": dgram(frame(0, 77, 0), 0) + dgram(frame(77, 0, 2), 3),
    # Streams that leave more behind every datagram than the next search takes away.
    # 512 datagrams; each adds well over 1 KB more than it takes, so the buffer meets its
    # bound (256 KiB).
    "leftovers_pile_up": dgram((REQ + b"\x00\x01") * 100, repeat=8),
    "failing_frames_pile_up": dgram(REQ * 100, fail=True, repeat=8),
}

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
