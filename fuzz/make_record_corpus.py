#!/usr/bin/env python3
"""Writes the committed seed corpus of the flight record fuzz target
(record-corpus/): a closed load with named threads and a notice, a load
whose last call never returned, one that stopped on a full disk, and one
with an unsealed slot and a record of a later kind. Little-endian, a
4096-byte header, 64-byte slots, each record sealed by its slot's seal.
Run it from anywhere; it rewrites the folder."""
import os
import struct

MASK = 0xFFFFFFFF


def seal(index, kind):
    x = (((index + 1) * 2654435761) & MASK) ^ (0x54524300 | kind)
    return x or 1


def end_seal(index):
    return seal(index, 0x80 | 1) ^ 0xA5A5A5A5


def header(slots, flags):
    h = bytearray(4096)
    struct.pack_into("<8sHHHBBII", h, 0, b"TRCLFREC", 1, 4096, 64, 0, 0, 4242, 1)
    struct.pack_into("<QIiqqQQ", h, 24, 1000, 100, 3600, 1796600000000000000, 5000000000, 0, 256 << 20)
    h[72:72 + 36] = b"00000000-0000-0000-0000-000000000000"
    h[112:119] = b"scanapp"
    h[176:181] = b"1.0.0"
    struct.pack_into("<II", h, 4088, flags, slots)
    return h


def call(i, thread, start, dg, dat, msg, state, end=None, rc=0, after=4, seq=None, tag=0, cap=None,
         during=0, concurrent=0):
    s = bytearray(64)
    flags = (1 if cap is not None else 0) | (2 if seq is not None else 0)
    struct.pack_into("<IHHIIqIHHHBBBBHIIqII", s, 0, seal(i, 1), 1, 1, i + 1, thread, start, dg, dat, msg,
                     cap or 0, tag, flags, state, after if end else 0, rc if end else 0, during,
                     seq or 0, end or 0, concurrent, end_seal(i) if end else 0)
    return s


def simple(i, kind, a, b, t, text=b""):
    s = bytearray(64)
    struct.pack_into("<IHHIIq", s, 0, seal(i, kind), kind, 1, a, b, t)
    s[24:24 + len(text)] = text
    return s


MS = 1000000
seeds = {
    "closed": [simple(0, 2, 100, 0, 5000 * MS, b"scanapp"),
               call(1, 100, 5001 * MS, 1, 3, 0x0401, 3, 5003 * MS, seq=1),
               call(2, 100, 5010 * MS, 1, 1, 1, 4, 5012 * MS, seq=2, cap=1),
               call(3, 100, 5020 * MS, 1, 9, 0x0502, 4, 5040 * MS, after=5, seq=3),
               call(4, 300, 5030 * MS, 1, 0, 0x0101, 5, 5031 * MS, after=6, tag=1, concurrent=4),
               simple(5, 3, 100, 4, 5100 * MS)],
    "hung": [call(0, 100, 5001 * MS, 1, 3, 0x0401, 3, 5003 * MS, seq=1),
             call(1, 100, 5010 * MS, 2, 0x0101, 1, 6)],
    "full": [call(0, 100, 5001 * MS, 1, 3, 0x0401, 3, 5003 * MS, seq=1), simple(1, 4, 1, 28, 5004 * MS)],
    "damaged": [call(0, 100, 5001 * MS, 1, 3, 0x0401, 3, 5003 * MS, seq=1), bytearray(64),
                simple(2, 9, 0, 0, 0)[:6] + struct.pack("<H", 2) + bytearray(56), bytearray(64),
                call(4, 100, 5010 * MS, 1, 3, 0x0402, 4, 5009 * MS, seq=2)],
}
flags = {"closed": 1, "hung": 0, "full": 2, "damaged": 0}

folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "record-corpus")
os.makedirs(folder, exist_ok=True)
for name in os.listdir(folder):
    os.remove(os.path.join(folder, name))
for name, slots in seeds.items():
    with open(os.path.join(folder, name), "wb") as f:
        f.write(header(len(slots), flags[name]) + b"".join(slots))
