#!/usr/bin/env python3
"""Writes the committed seed corpus of the DS_Entry fuzz target (corpus/).

Each seed is a list of call records in the target's input format (see
DsEntryFuzzer.cpp): DAT selector, MSG selector, return code selector, flags,
[notice selector, manager's return code selector], [DG], [origin identity],
[size], structure bytes, [container mode, block size, block bytes]. Seeds are written for both TWAIN layouts (the structure sizes
differ); each fuzzer reads both sets. Run it from anywhere; it rewrites the
folder.
"""
import os
import struct

DATS = ["DAT_NULL", "DAT_CAPABILITY", "DAT_EVENT", "DAT_IDENTITY", "DAT_PARENT", "DAT_PENDINGXFERS",
        "DAT_SETUPMEMXFER", "DAT_SETUPFILEXFER", "DAT_STATUS", "DAT_USERINTERFACE", "DAT_XFERGROUP",
        "DAT_TWUNKIDENTITY", "DAT_CUSTOMDSDATA", "DAT_IMAGEINFO", "DAT_IMAGELAYOUT", "DAT_IMAGEMEMXFER",
        "DAT_IMAGENATIVEXFER", "DAT_IMAGEFILEXFER", "DAT_CIECOLOR", "DAT_GRAYRESPONSE", "DAT_RGBRESPONSE",
        "DAT_JPEGCOMPRESSION", "DAT_PALETTE8", "DAT_EXTIMAGEINFO", "DAT_NV_AUTOEXPOSURE", "DAT_NV_RGBMATRIX",
        "DAT_NV_COLORSMOOTHING", "DAT_NV_EVENT", "DAT_NV_HARDWAREINFO", "DAT_NV_SKEWINFO",
        "DAT_NV_UNSHARPMASKPARAM", "DAT_NV_REDCORRECTIONMATRIX", "DAT_NV_TWAINCALLBACKMSG",
        "DAT_NV_SETTINGFRAME", "DAT_NV_USMINFO", "DAT_DEVICEEVENT", "DAT_FILESYSTEM", "DAT_PASSTHRU",
        "DAT_SETUPFILEXFER2", "DAT_ENTRYPOINT", "0x800C", "0x8015", "0xFFFF"]
MSGS = ["MSG_GET", "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_SET", "MSG_RESET", "MSG_QUERYSUPPORT",
        "MSG_GETFIRST", "MSG_GETNEXT", "MSG_XFERREADY", "MSG_CLOSEDSREQ", "MSG_CLOSEDSOK",
        "MSG_DEVICEEVENT", "MSG_OPENDSM", "MSG_CLOSEDSM", "MSG_OPENDS", "MSG_CLOSEDS", "MSG_USERSELECT",
        "MSG_DISABLEDS", "MSG_ENABLEDS", "MSG_ENABLEDSUIONLY", "MSG_PROCESSEVENT", "MSG_ENDXFER"]
RCS = ["SUCCESS", "FAILURE", "CHECKSTATUS", "CANCEL", "DSEVENT", "NOTDSEVENT", "XFERDONE"]

# Structure sizes and offsets per layout.
LAYOUTS = {
    "native": dict(DAT_CAPABILITY=12, DAT_EVENT=10, DAT_IDENTITY=156, DAT_PENDINGXFERS=6,
                   DAT_SETUPMEMXFER=12, DAT_SETUPFILEXFER=260, DAT_STATUS=4, DAT_USERINTERFACE=12,
                   DAT_XFERGROUP=4, DAT_CUSTOMDSDATA=12, DAT_IMAGEINFO=42, DAT_IMAGELAYOUT=28,
                   DAT_IMAGEMEMXFER=42, DAT_IMAGENATIVEXFER=4, DAT_CIECOLOR=326, DAT_GRAYRESPONSE=4,
                   DAT_RGBRESPONSE=4, DAT_JPEGCOMPRESSION=154, DAT_PALETTE8=1028, DAT_EXTIMAGEINFO=20,
                   DAT_NV_AUTOEXPOSURE=22, DAT_NV_RGBMATRIX=36, DAT_NV_COLORSMOOTHING=40,
                   DAT_NV_HARDWAREINFO=502, DAT_NV_SKEWINFO=40, DAT_NV_UNSHARPMASKPARAM=6,
                   DAT_NV_SETTINGFRAME=4, DAT_NV_USMINFO=30, DAT_ENTRYPOINT=44,
                   event_msg=8, one_item=2, range_fields=2, array_items=6, enum_items=14, u32_align=2,
                   entry_at=4),
    "macos": dict(DAT_CAPABILITY=16, DAT_EVENT=16, DAT_IDENTITY=168, DAT_PENDINGXFERS=8,
                  DAT_SETUPMEMXFER=12, DAT_SETUPFILEXFER=260, DAT_STATUS=4, DAT_USERINTERFACE=16,
                  DAT_XFERGROUP=4, DAT_CUSTOMDSDATA=16, DAT_IMAGEINFO=44, DAT_IMAGELAYOUT=28,
                  DAT_IMAGEMEMXFER=48, DAT_IMAGENATIVEXFER=4, DAT_CIECOLOR=328, DAT_GRAYRESPONSE=4,
                  DAT_RGBRESPONSE=4, DAT_JPEGCOMPRESSION=160, DAT_PALETTE8=1028, DAT_EXTIMAGEINFO=16,
                  DAT_NV_AUTOEXPOSURE=22, DAT_NV_RGBMATRIX=36, DAT_NV_COLORSMOOTHING=40,
                  DAT_NV_HARDWAREINFO=502, DAT_NV_SKEWINFO=40, DAT_NV_UNSHARPMASKPARAM=6,
                  DAT_NV_SETTINGFRAME=4, DAT_NV_USMINFO=30, DAT_ENTRYPOINT=48,
                  event_msg=8, one_item=4, range_fields=4, array_items=8, enum_items=16, u32_align=4,
                  entry_at=8),
}

TWTY = dict(INT8=0, INT16=1, INT32=2, UINT8=3, UINT16=4, UINT32=5, BOOL=6, FIX32=7, FRAME=8,
            STR32=9, STR64=10, STR128=11, STR255=12)
CONTAINER = dict(ARRAY=1, ENUMERATION=2, ONEVALUE=3, RANGE=4)  # mode byte: ConType 3..6
ICAP_PIXELTYPE = 0x0101
CAP_SUPPORTEDCAPS = 0x1005


class Seed:
    def __init__(self, layout):
        self.L = LAYOUTS[layout]
        self.data = bytearray()

    def call(self, dat, msg, rc="SUCCESS", *, null=False, throw=False, origin=None, body=b"",
             size=None, container=None, notice=None, after=False, manager_rc="SUCCESS"):
        self.data += bytes([DATS.index(dat), MSGS.index(msg), RCS.index(rc)])
        flags = (0x03 if null else 0) | (0x84 if throw else 0) | (0 if origin is not None else 0x08)
        flags |= 0x40 if notice else 0
        self.data.append(flags)
        if notice:
            # The source's notice: inside the call, or after it.
            self.data += bytes([MSGS.index(notice) | (0x80 if after else 0), RCS.index(manager_rc)])
        if origin is not None:
            self.data += origin.ljust(self.L["DAT_IDENTITY"], b"\0")[: self.L["DAT_IDENTITY"]]
        if null:
            return self
        want = self.L.get(dat)
        if want is None:
            want = size or 0
            self.data.append(want)
        self.data += bytes(body).ljust(want, b"\0")[:want]
        if dat == "DAT_CAPABILITY":
            if container is None:
                self.data.append(0)
            else:
                kind, block = container[:2]
                # 0x08: allocated with the entry point's memory functions
                self.data.append(CONTAINER[kind] | (0x08 if container[2:] == ("entry",) else 0))
                self.data += struct.pack("<H", len(block)) + block
        return self

    def cap(self, cap_id):
        return struct.pack("<HH", cap_id, 0)

    def head(self, item_type, *u32s):
        # ItemType, padding to the first 32-bit field, then the fields.
        return struct.pack("<H", item_type) + b"\0" * (self.L["u32_align"] - 2) + \
            b"".join(struct.pack("<I", v) for v in u32s)


def seeds(layout):
    out = {}
    s = Seed(layout)
    ident = struct.pack("<I", 1) + b"\0" * 40 + b"Tracelet seed app"
    s.call("DAT_PARENT", "MSG_OPENDSM", origin=ident, size=8)
    s.call("DAT_IDENTITY", "MSG_OPENDS", body=ident)
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(ICAP_PIXELTYPE),
           container=("ENUMERATION", s.head(TWTY["UINT16"], 3, 2, 0) + struct.pack("<HHH", 0, 1, 2)))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(CAP_SUPPORTEDCAPS),
           container=("ARRAY", s.head(TWTY["UINT16"], 4) + struct.pack("<HHHH", 0x1005, 0x8001, 0x1201, 0)))
    s.call("DAT_CAPABILITY", "MSG_GETCURRENT", body=s.cap(0x1118),
           container=("RANGE", s.head(TWTY["FIX32"], 0xFC18, 1200, 1, 300, 300)))
    s.call("DAT_CAPABILITY", "MSG_SET", body=s.cap(0x800F),
           container=("ONEVALUE", s.head(TWTY["UINT16"], 2)))
    s.call("DAT_USERINTERFACE", "MSG_ENABLEDS", body=b"\1\0")
    ev = bytearray(s.L["DAT_EVENT"])
    ev[s.L["event_msg"]] = 0x01
    ev[s.L["event_msg"] + 1] = 0x01
    s.call("DAT_EVENT", "MSG_PROCESSEVENT", "DSEVENT", body=ev)
    s.call("DAT_IMAGEINFO", "MSG_GET", body=struct.pack("<HHHH", 300, 0, 300, 0))
    s.call("DAT_IMAGELAYOUT", "MSG_GET")
    s.call("DAT_IMAGEMEMXFER", "MSG_GET", "XFERDONE")
    s.call("DAT_PENDINGXFERS", "MSG_ENDXFER")
    s.call("DAT_USERINTERFACE", "MSG_DISABLEDS", "FAILURE")
    s.call("DAT_STATUS", "MSG_GET", body=b"\4\0")
    out["session"] = s.data

    s = Seed(layout)
    for dat in DATS[:35]:
        s.call(dat, "MSG_GET", null=True, size=0)
    s.call("DAT_EVENT", "MSG_PROCESSEVENT", "DSEVENT", null=True)
    s.call("DAT_PENDINGXFERS", "MSG_ENDXFER", null=True)
    out["null-pdata"] = s.data

    s = Seed(layout)
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(ICAP_PIXELTYPE),
           container=("ENUMERATION", s.head(TWTY["STR255"], 0xFFFFFFFF, 0, 0) + b"\x41" * 300))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005),
           container=("ARRAY", s.head(TWTY["UINT16"], 250) + b"\x01\x10" * 250))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005), container=("ONEVALUE", s.head(TWTY["STR32"]) + b"\x7f" * 30))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005), container=("RANGE", s.head(TWTY["FRAME"])))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005), container=("ARRAY", b""))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005) + b"\xff\xff")
    out["lying-containers"] = s.data

    s = Seed(layout)
    s.call("DAT_NV_HARDWAREINFO", "MSG_GET", body=b"\xff" * 502)
    s.call("DAT_SETUPFILEXFER", "MSG_GET", body=b"\x7e" * 260)
    s.call("DAT_IDENTITY", "MSG_GET", body=b"\x61" * 200)
    s.call("DAT_STATUS", "MSG_GET", throw=True)
    out["no-terminators"] = s.data

    s = Seed(layout)
    s.call("DAT_CIECOLOR", "MSG_GET", body=b"\x00\x80" * 200)
    s.call("DAT_JPEGCOMPRESSION", "MSG_GET", body=b"\xff" * 200)
    s.call("DAT_NV_USMINFO", "MSG_GET", body=b"\xff" * 30)
    s.call("DAT_EXTIMAGEINFO", "MSG_GET", body=b"\x03")
    out["wide-structures"] = s.data

    s = Seed(layout)
    entry = bytearray(s.L["DAT_ENTRYPOINT"])
    entry[0] = s.L["DAT_ENTRYPOINT"]
    entry[s.L["entry_at"]] = 1  # a manager entry (the target puts its stand-in there)
    s.call("DAT_ENTRYPOINT", "MSG_SET", body=entry)
    s.call("DAT_IDENTITY", "MSG_OPENDS", body=ident)
    s.call("DAT_USERINTERFACE", "MSG_ENABLEDS", body=b"\1\0", notice="MSG_XFERREADY")
    s.call("DAT_IMAGEINFO", "MSG_GET", notice="MSG_DEVICEEVENT", manager_rc="FAILURE")
    s.call("DAT_IMAGEMEMXFER", "MSG_GET", "XFERDONE", notice="MSG_CLOSEDSREQ", after=True)
    s.call("DAT_ENTRYPOINT", "MSG_SET", body=entry[:2])
    s.call("DAT_USERINTERFACE", "MSG_DISABLEDS", notice="MSG_CLOSEDSOK")
    out["notices"] = s.data

    # Containers from the entry point's allocator, exactly their size, with
    # counts that lie: a manager entry and all four memory functions first.
    s = Seed(layout)
    entry = bytearray(s.L["DAT_ENTRYPOINT"])
    entry[0] = s.L["DAT_ENTRYPOINT"]
    ptr = (s.L["DAT_ENTRYPOINT"] - s.L["entry_at"]) // 5
    for i in range(5):
        entry[s.L["entry_at"] + i * ptr] = 1  # the target puts its stand-ins there
    s.call("DAT_ENTRYPOINT", "MSG_SET", body=entry)
    s.call("DAT_IDENTITY", "MSG_OPENDS", body=ident)
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(ICAP_PIXELTYPE),
           container=("ENUMERATION", s.head(TWTY["UINT16"], 1000, 0, 0) + struct.pack("<HH", 0, 2), "entry"))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005),
           container=("ARRAY", s.head(TWTY["STR32"], 3) + b"first".ljust(34, b"\0") + b"sec", "entry"))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005), container=("ONEVALUE", s.head(TWTY["STR255"]) + b"\x7f" * 9, "entry"))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005), container=("RANGE", s.head(TWTY["UINT32"], 1, 2), "entry"))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005), container=("ARRAY", b"\x04", "entry"))
    s.call("DAT_CAPABILITY", "MSG_GET", body=s.cap(0x1005),
           container=("ARRAY", s.head(TWTY["UINT16"], 2) + struct.pack("<HH", 0x1005, 0x8001), "entry"))
    out["allocated-containers"] = s.data
    return out


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    for layout in LAYOUTS:
        for name, data in seeds(layout).items():
            with open(os.path.join(folder, f"{layout}-{name}"), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
