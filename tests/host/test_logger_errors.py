#!/usr/bin/env python3
"""Result codes of RaveloProc for logger files that call for them, seen by a
host that loads the shared library in a fresh process.

Usage: test_logger_errors.py path/to/libravelo.so

Covered: 9 (the logger path is a folder), 12 (a 9-byte file), 14 (a 581-byte
file), 15 (dataStart 0x80000000), 16 (the file ends before dataEnd, after
skipped records or after rows, and dataEnd below dataStart), 19 (a mode
without a name), 20 (a wind direction value outside 1..17), 0 (no records;
only mode 127). Not reachable from a
file: 13 (positioning at offset 486 of an open file does not fail), 17 and 18
(the record format holds channels 0..255 and modes 0..127 only).
"""
import ctypes
import os
import shutil
import struct
import sys
import tempfile

MEMO_OFFSET = 486
DATA_START = 1024


def record(year=2005, month=3, day=5, hour=12, minute=0, second=0, mode=0, channel=0, value=0):
    bits = 0
    for field, width in ((year - 2000, 7), (month, 4), (day, 5), (hour, 5), (minute, 6),
                         (second, 6), (mode, 7)):
        bits = (bits << width) | (field & ((1 << width) - 1))
    return bits.to_bytes(5, "big") + bytes([channel & 0xFF]) + struct.pack("<H", value & 0xFFFF)


def logger_file(records=(), data_start=DATA_START, data_end=None, cut_to=None):
    body = bytearray(data_start)
    body[0:2] = b"Q8"
    body[MEMO_OFFSET:MEMO_OFFSET + 4] = b"memo"
    for r in records:
        body += r
    end = len(body) if data_end is None else data_end
    body[2:6] = struct.pack("<I", end)
    body[6:10] = struct.pack("<I", data_start)
    if cut_to is not None:
        del body[cut_to:]
    return bytes(body)


def main():
    library = ctypes.CDLL(os.path.abspath(sys.argv[1]))
    library.RaveloInit.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]
    library.RaveloInit.restype = None
    library.RaveloProc.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32,
                                   ctypes.c_int32, ctypes.c_int32]
    library.RaveloProc.restype = ctypes.c_int32
    library.RaveloINIFileDelete.restype = ctypes.c_int32

    root = tempfile.mkdtemp(prefix="ravelo_host_errors_")
    failures = []
    try:
        work = os.path.join(root, "work")
        dest = os.path.join(root, "dest")
        os.makedirs(work)
        os.makedirs(dest)
        library.RaveloInit(work.encode(), 1, 0)

        def proc(name, contents):
            path = os.path.join(root, name)
            if contents is None:
                os.makedirs(path)
            else:
                with open(path, "wb") as f:
                    f.write(contents)
            return library.RaveloProc(path.encode(), dest.encode(), 0, 0, 0)

        good = [record(second=s, channel=1, value=s) for s in range(10)]
        hundred = [record(second=s % 60, minute=s // 60, value=s) for s in range(100)]
        far = bytearray(logger_file(good))
        far[6:10] = struct.pack("<I", 0x80000000)
        far = bytes(far)
        cases = [
            ("folder", "FOLDER.Q38", None, 9),
            ("9 bytes", "NINE.Q38", logger_file(good)[:9], 12),
            ("581 bytes", "SHORT.Q38", logger_file(good)[:581], 14),
            ("dataStart 0x80000000", "FAR.Q38", far, 15),
            ("file ends before dataEnd, records skipped", "CUT127.Q38",
             logger_file([record(mode=127)] * 100, cut_to=DATA_START + 100), 16),
            ("file ends before dataEnd", "CUT.Q38",
             logger_file(hundred, cut_to=DATA_START + 100), 16),
            ("dataEnd below dataStart", "WRAP.Q38",
             logger_file(good, data_end=DATA_START - 8), 16),
            ("undefined mode", "MODE.Q38", logger_file([record(mode=1)]), 19),
            ("undefined mode after rows", "MODE2.Q38", logger_file(good + [record(mode=126)]), 19),
            ("wind direction 0", "WIND0.Q38", logger_file([record(mode=21, value=0)]), 20),
            ("wind direction 18", "WIND18.Q38", logger_file([record(mode=29, value=18)]), 20),
            ("no records", "EMPTY.Q38", logger_file(), 0),
            ("only mode 127", "SKIP.Q38", logger_file([record(mode=127, value=5)] * 3), 0),
        ]
        for label, name, contents, expected in cases:
            got = proc(name, contents)
            status = "ok" if got == expected else "FAILED"
            print(f"{status}: {label}: RaveloProc gave {got}, expected {expected}")
            if got != expected:
                failures.append(label)
        library.RaveloINIFileDelete()
    finally:
        shutil.rmtree(root, ignore_errors=True)

    if failures:
        print("failed:", ", ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
