#!/usr/bin/env python3
"""Writes the committed seed corpus of the flight record fuzz target
(record-corpus/): a closed load with named threads and a notice, a load
whose last call never returned, one that stopped on a full disk, and one
with an unsealed slot and a record of a later kind; a load whose calls were
captured (a capability set with its container, a memory transfer with its
image), the same with its captures damaged, and cut short. Little-endian, a
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


def header(slots, flags, capture=0):
    h = bytearray(4096)
    if capture:
        struct.pack_into("<IIII32s", h, 2384, capture, 2048, 8192, 2048, b"images")
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


def capture(i, call_id, phase, structure, block=b"", flags=0, handle=0, block_size=None, con_type=0,
            item_type=0, num_items=0, limit=0xFFFFFFFFFFFFFFFF, structure_size=None):
    data = structure + block
    slots = 1 + (len(data) + 63) // 64
    s = bytearray(64 * slots)
    struct.pack_into("<IHHIBBBBQIIQIIHHIQ", s, 0, seal(i, 5), 5, slots, call_id, phase, flags,
                     1 if handle else 0, 0, 0x1000, len(structure) if structure_size is None else structure_size,
                     len(structure), handle, len(block) if block_size is None else block_size, len(block),
                     con_type, item_type, num_items, limit)
    s[64:64 + len(data)] = data
    return [s[k * 64:(k + 1) * 64] for k in range(slots)]


def image(i, call_id, length, name=b""):
    s = bytearray(192)
    struct.pack_into("<IHHIBBBBQQQQQQ", s, 0, seal(i, 6), 6, 3, call_id, 1, 1, 1, 1 if name else 0,
                     length, 0x1234567890ABCDEF, min(length, 2048), 0x2000, length if name else 0, 0)
    s[64:64 + len(name)] = name
    return [s[0:64], s[64:128], s[128:192]]


MS = 1000000
# A capability set (TW_CAPABILITY with a one-value container) and a memory
# transfer (TW_IMAGEMEMXFER) with its image.
CAP = struct.pack("<HHQ", 1, 5, 0xABC000)
ONE = struct.pack("<HI", 4, 175)
XFER = bytes(range(40))
captured = ([call(0, 100, 5001 * MS, 1, 1, 6, 4, 5003 * MS, seq=1, cap=1)]
            + capture(1, 1, 1, CAP, ONE, handle=0xABC000, con_type=5, item_type=4, num_items=1)
            + capture(3, 1, 2, CAP, ONE, handle=0xABC000, con_type=5, item_type=4, num_items=1, limit=6)
            + [call(5, 100, 5010 * MS, 2, 0x0103, 0x0001, 6, 5012 * MS, seq=2)]
            + capture(6, 6, 1, XFER) + capture(8, 6, 2, XFER)
            + image(10, 6, 40000, b"Twainlog_20261208_040000_0001.6.img"))
damaged = [bytearray(x) for x in captured]
damaged[1][44] = 200              # the input's block length past its slots
damaged[8][0] ^= 1                # the output of the transfer: its seal broken
damaged[11][0:3] = b"../"         # the image's name leaves its folder
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
seeds["captured"] = captured
seeds["captured-damaged"] = damaged
seeds["captured-cut"] = captured
flags = {"closed": 1, "hung": 0, "full": 2, "damaged": 0, "captured": 1, "captured-damaged": 0, "captured-cut": 0}
capturing = {"captured", "captured-damaged", "captured-cut"}

folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "record-corpus")
os.makedirs(folder, exist_ok=True)
for name in os.listdir(folder):
    os.remove(os.path.join(folder, name))
for name, slots in seeds.items():
    with open(os.path.join(folder, name), "wb") as f:
        body = b"".join(slots)
        if name == "captured-cut":
            body = body[:-100]  # cut short inside the image record
        f.write(header(len(slots), flags[name], 1 if name in capturing else 0) + body)
