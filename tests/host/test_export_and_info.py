#!/usr/bin/env python3
"""Checks of `ravelo export` and `ravelo info --json`, run as a user runs them.

Usage: python3 test_export_and_info.py <path to libravelo.so>; the program is
<directory of the library>/tools/ravelo. The expected values are made here from
the raw records of the logger files, independently of the program.
"""
import csv
import io
import json
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest

from logger_files import write_logger

LIB = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
RAVELO = os.path.join(os.path.dirname(LIB), "tools", "ravelo")
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLES = os.path.join(SOURCE, "samples")

# Recording mode: (name, unit, how the raw value reads: signed?, decimals,
# fixed sign) or a kind of text.
MODES = {
    0: ("電圧", "mV", True, 1), 4: ("温度(ｻｰﾐｽﾀ)", "ﾟC", True, 1), 5: ("温度(新jis)", "ﾟC", True, 2),
    6: ("温度(旧jis)", "ﾟC", True, 2), 8: ("湿度", "%", True, 1), 12: ("抵抗", "kΩ", False, 2),
    13: ("抵抗", "kΩ", False, 3), 14: ("抵抗", "kΩ", False, 4), 16: ("電流", "mA", True, 3),
    20: ("平均風速", "m/s", False, 1), 21: ("平均風向", "", "compass"),
    22: ("最大瞬間風速", "m/s", False, 1), 23: ("最大瞬間風向", "", "compass"),
    24: ("最大瞬間起時", "", "time"), 25: ("最大平均風速", "m/s", False, 1),
    26: ("最大平均風向", "", "compass"), 27: ("最大平均起時", "", "time"),
    28: ("瞬間風速", "m/s", False, 1), 29: ("瞬間風向", "", "compass"), 30: ("NEDO", "", False, 1),
    32: ("水位", "m", False, 4, "+"), 33: ("水位", "m", False, 4, "-"),
    34: ("水位", "m", False, 3, "+"), 35: ("水位", "m", False, 3, "-"),
    36: ("水位", "m", False, 2, "+"), 37: ("水位", "m", False, 2, "-"),
    38: ("雨量", "mm", True, 1), 40: ("電圧積算", "mV", True, 2), 44: ("歪み", "μE", True, 0),
    52: ("気圧", "hPa", True, 1), 56: ("日射", "KW/m2", True, 2), 60: ("日照", "min", False, 0),
    64: ("電圧１", "mV", True, 1), 65: ("電圧２", "mV", True, 1), 66: ("電圧３", "mV", True, 1),
    67: ("電圧４", "mV", True, 1), 68: ("電圧５", "mV", True, 1), 72: ("平均風向", "ﾟ", False, 0),
    73: ("最大瞬間風向", "ﾟ", False, 0), 74: ("瞬間風向", "ﾟ", False, 0),
}
COMPASS = ["", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE", "S", "SSW", "SW", "WSW", "W", "WNW",
           "NW", "NNW", "N", "CALM"]


def value_text(mode, raw, stamp):
    """What export writes for a raw value: the number without padding, plus
    sign or leading zeros, or the text."""
    kind = MODES[mode]
    if kind[2] == "compass":
        return COMPASS[raw]
    if kind[2] == "time":
        hour = stamp[3] or 24
        t = hour * 3600 + stamp[4] * 60 + stamp[5] + (raw - 65536 if raw >= 32768 else raw)

        def trunc_div(a, b):
            q = abs(a) // b
            return q if a >= 0 else -q

        def c_mod(a, b):
            return a - trunc_div(a, b) * b
        return "%02d:%02d:%02d" % (c_mod(trunc_div(t, 3600), 24), trunc_div(c_mod(t, 3600), 60),
                                   c_mod(t, 60))
    signed, decimals = kind[2], kind[3]
    v = raw - 65536 if signed and raw >= 32768 else raw
    sign = kind[4] if len(kind) > 4 else ("-" if v < 0 else "")
    if sign == "+":
        sign = ""
    q, r = divmod(abs(v), 10 ** decimals)
    return sign + (str(q) if decimals == 0 else "%d.%0*d" % (q, decimals, r))


def run(args, timeout=120):
    env = dict(os.environ, LC_ALL="C.UTF-8")
    return subprocess.run([RAVELO] + args, capture_output=True, env=env, timeout=timeout)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def label_list(channels_modes):
    """Column labels of a section with these modes in channel order."""
    labels, seen = [], {}
    for mode in channels_modes:
        name, unit = MODES[mode][0], MODES[mode][1]
        seen[(name, unit)] = seen.get((name, unit), 0) + 1
        base = f"{name} [{unit}]" if unit else name
        labels.append(base if seen[(name, unit)] == 1 else f"{base} #{seen[(name, unit)]}")
    return labels


def cp932_lines(*lines, end="\r\n"):
    return "".join(line + end for line in lines).encode("cp932")


class Tmp(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(RAVELO):
            self.skipTest(f"no program at {RAVELO}")
        self.tmp = tempfile.mkdtemp(prefix="ravelo-export-test-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)


class ExportTest(Tmp):
    def make_recording(self):
        """A logger file with every defined mode (several of equal name and
        unit), midnight rows at a year's end and a leap day, and a section
        with fewer channels. Returns the path and the expected rows: (ISO
        time, [(channel, mode, raw)])."""
        rng = random.Random(16)
        all_modes = sorted(MODES) + [0, 21]  # channels 40 and 41 repeat two modes
        edges = [0, 1, 5, 9, 10, 99, 100, 1234, 32767, 32768, 65535, 65531]
        stamps = [((2023, 12, 31, 23, 50, 0), all_modes), ((2024, 1, 1, 0, 0, 0), all_modes),
                  ((2024, 1, 1, 0, 10, 0), [8, 52]), ((2024, 2, 29, 23, 59, 59), [8, 52]),
                  ((2024, 3, 1, 0, 0, 0), all_modes)]
        records, expected = [], []
        for k, (stamp, modes) in enumerate(stamps):
            fields = []
            for channel, mode in enumerate(modes):
                if MODES[mode][2] == "compass":
                    raw = 1 + (k * 7 + channel) % 17
                else:
                    raw = edges[(k + channel) % len(edges)] if k < 3 else rng.randrange(65536)
                records.append((stamp, mode, channel, raw))
                fields.append((channel, mode, raw))
            expected.append((stamp, fields))
        path = write_logger(self.path("STATION_A1.Q38"), records, memos=[b"EXPORT TEST"] * 6)
        return path, expected

    def test_wide_and_long_forms_hold_every_value_of_the_recording(self):
        logger, rows = self.make_recording()
        r = run(["convert", "--midnight-as-24", logger, "--out", self.path("out")])
        self.assertEqual(r.returncode, 0, r.stderr)
        # Expected: the midnight rows are the end of the day before; the day
        # files come in date order.
        iso = {(2023, 12, 31, 23, 50, 0): "2023-12-31T23:50:00",
               (2024, 1, 1, 0, 0, 0): "2024-01-01T00:00:00",  # written 2023/12/31,24:00:00
               (2024, 1, 1, 0, 10, 0): "2024-01-01T00:10:00",
               (2024, 2, 29, 23, 59, 59): "2024-02-29T23:59:59",
               (2024, 3, 1, 0, 0, 0): "2024-03-01T00:00:00"}  # written 2024/02/29,24:00:00
        shifted = {(2024, 1, 1, 0, 0, 0): (2023, 12, 31, 24, 0, 0),
                   (2024, 3, 1, 0, 0, 0): (2024, 2, 29, 24, 0, 0)}
        full = label_list([m for _, m, _ in rows[0][1]])
        r = run(["export", self.path("out")])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn(b"\r", r.stdout)
        table = list(csv.reader(io.StringIO(r.stdout.decode("utf-8"))))
        self.assertEqual(table[0], ["time"] + full)
        self.assertIn("抵抗 [kΩ] #3", full)
        self.assertIn("水位 [m] #6", full)
        self.assertIn("電圧 [mV] #2", full)
        self.assertIn("平均風向 #2", full)
        self.assertEqual(len(table), 1 + len(rows))
        long_expected = []
        for line, (stamp, fields) in zip(table[1:], rows):
            written = shifted.get(stamp, stamp)
            labels = label_list([m for _, m, _ in fields])
            want = {label: value_text(mode, raw, written)
                    for label, (_, mode, raw) in zip(labels, fields)}
            self.assertEqual(line[0], iso[stamp])
            self.assertEqual(dict(zip(full, line[1:])), {c: want.get(c, "") for c in full}, stamp)
            for label, (_, mode, raw) in zip(labels, fields):
                name = label.split(" [")[0] if MODES[mode][1] else label
                suffix = label[label.index(" #"):] if " #" in label else ""
                name = name.split(" #")[0] + suffix
                long_expected.append([iso[stamp], name, MODES[mode][1], want[label]])
        r = run(["export", "--long", "--bom", "--crlf", self.path("out")])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout.startswith(b"\xef\xbb\xbftime,column,unit,value\r\n"))
        self.assertEqual(r.stdout.count(b"\n"), r.stdout.count(b"\r\n"))
        table = list(csv.reader(io.StringIO(r.stdout[3:].decode("utf-8"), newline="")))
        self.assertEqual(table[1:], long_expected)

    def test_sources_in_order_hand_made_files_and_samples(self):
        for name in ("STATION_A1.Q38", "STATION_A1_2.Q38"):
            r = run(["convert", os.path.join(SAMPLES, name), "--out", self.path("samples")])
            self.assertEqual(r.returncode, 0, r.stderr)
        # A file saved by another program: CR line ends, then LF ones; a memo
        # line that looks like a header line; no unit line; a text that needs
        # quotes, a name twice, texts a spreadsheet would run.
        hand = self.path("hand.csv")
        with open(hand, "wb") as f:
            f.write(cp932_lines("ZELKA-Q38", "date,time,X", *[""] * 5, end="\r"))
            f.write(cp932_lines("date,time,風向,風向,=HYPERLINK(1)", '2024/06/09,10:00:00,a"b,  7,-W',
                                "2024/06/09,10:10:00,,-0003.50,＠x", end="\n"))
        r = run(["export", self.path("samples"), hand, "-o", self.path("all.csv")])
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.path("all.csv"), encoding="utf-8", newline="") as f:
            table = list(csv.reader(f))
        header = table[0]
        self.assertEqual(header[:2], ["time", "温度(ｻｰﾐｽﾀ) [ﾟC]"])
        self.assertEqual(header[-3:], ["風向", "風向 #2", "'=HYPERLINK(1)"])
        self.assertNotIn("X", header)
        times = [row[0] for row in table[1:-2]]
        self.assertEqual(len(times), 2881)  # 20 May 00:00 .. 9 June 23:50, every 10 minutes
        self.assertEqual(times, sorted(set(times)))
        self.assertEqual(table[-2], ["2024-06-09T10:00:00"] + [""] * 8 + ['a"b', "7", "'-W"])
        self.assertEqual(table[-1], ["2024-06-09T10:10:00"] + [""] * 8 + ["", "-3.50", "'＠x"])
        # The output is never one of the sources.
        before = read(hand)
        r = run(["export", hand, "-o", hand])
        self.assertEqual(r.returncode, 2)
        self.assertEqual(read(hand), before)
        # A name that would steer the terminal is shown escaped.
        r = run(["export", self.path("no\x1b[2Jsuch.CSV")])
        self.assertEqual(r.returncode, 1)
        self.assertNotIn(b"\x1b", r.stderr)
        self.assertIn(b"no\\x1B[2Jsuch.CSV", r.stderr)

    def test_a_file_that_is_not_such_a_csv_file_stops_the_export_at_its_line(self):
        good = self.path("good.CSV")
        with open(good, "wb") as f:
            f.write(cp932_lines("ZELKA-Q38", *[""] * 6, "date,time,電圧", ",,mV",
                                "2024/05/01,10:00:00,+0001.0"))
        intro = ["ZELKA-Q38", "M1", "", "", "", "", ""]
        cases = [
            # (lines of the bad file in code page 932, or bytes; line named)
            (intro + ["2024/05/01,10:00:00,+0001.0"], 8, "before any 'date,time' header"),
            (cp932_lines(*intro) + b"date,time,\x81\r\n,,mV\r\n", 9, "not code page 932"),
            (cp932_lines(*intro) + b"date,time,\x1b[2J\r\n,,mV\r\n", 9, "not code page 932"),
            (intro + ["date,time,T,T,T [C] #2", ",,C,C,", "2024/05/01,10:00:00,1,2,3"], 9,
             "two columns of the section are named 'T [C] #2'"),
            (intro + ["date,time,T,T,T #2", ",,C,C,C", "2024/05/01,10:00:00,1,2,3"], 9,
             "two columns of the section are named 'T #2 [C]'"),
            (intro + ["date,time,電圧", ",,mV", "2024/05/01,10:00:00,+0001.0,+0002.0"], 10,
             "more fields than its header"),
            (intro + ["date,time,電圧", ",,mV", "2024/5/1,0:10:00,1.0"], 10, "neither a header"),
            (intro + ["date,time,電圧", ",,mV", "2024/02/30,10:00:00,+0001.0"], 10,
             "date or time"),
            (intro + ["date,time,電圧", ",,mV", "2024/05/01,25:00:00,+0001.0"], 10,
             "date or time"),
            (cp932_lines(*intro, "date,time,電圧", ",,mV") + b"2024/05/01,10:00:00,\x81\r\n", 10,
             "not code page 932"),
            (intro, None, "no 'date,time' header line"),
            (b"", None, "no 'date,time' header line"),
            (["date,time,電圧", ",,mV", "2024/05/01,10:00:00,+0001.0"], None,
             "lines 1 to 7 are the title and the six memo lines"),
            (b"ZELKA-Q38\rM1\r\r\r\r\r\r2024/05/01,10:00:00,+0001.0\r", 8,
             "before any 'date,time' header"),  # CR line ends are line ends
        ]
        out = self.path("out.csv")
        for lines, number, text in cases:
            bad = self.path("bad.CSV")
            with open(bad, "wb") as f:
                f.write(lines if isinstance(lines, bytes) else cp932_lines(*lines))
            r = run(["export", good, bad])
            err = r.stderr.decode("utf-8", "replace")
            self.assertEqual(r.returncode, 1, (lines, err))
            where = f"bad.CSV: line {number}: " if number else "bad.CSV: "
            self.assertIn(where, err, lines)
            self.assertIn(text, err, lines)
            # The file before it was written whole.
            self.assertEqual(r.stdout, b"time,\xe9\x9b\xbb\xe5\x9c\xa7 [mV]\n2024-05-01T10:00:00,1.0\n")
            # Nothing of it reaches standard output when it comes first, and
            # -o FILE stays as it was, with no partial file beside it.
            r = run(["export", bad, good])
            self.assertEqual((r.returncode, r.stdout), (1, b""), lines)
            with open(out, "wb") as f:
                f.write(b"an earlier export\n")
            r = run(["export", good, bad, "-o", out])
            self.assertEqual(r.returncode, 1, lines)
            self.assertEqual(read(out), b"an earlier export\n")
            self.assertEqual(sorted(os.listdir(self.tmp)), ["bad.CSV", "good.CSV", "out.csv"])


class InfoTest(Tmp):
    def test_json_tells_what_the_file_holds_and_its_problems(self):
        r = run(["info", "--json", os.path.join(SAMPLES, "STATION_A1.Q38")])
        self.assertEqual(r.returncode, 0, r.stderr)
        info = json.loads(r.stdout.decode("utf-8"))
        self.assertEqual((info["size"], info["dataStart"], info["dataEnd"]), (130112, 1024, 130112))
        self.assertEqual(info["memos"][:2], ["STATION_A1", "Q38 SAMPLE"])
        self.assertEqual((info["records"], info["rows"]), (16136, 2017))
        self.assertEqual((info["first"], info["last"]), ("2024-05-20T00:00:00", "2024-06-03T00:00:00"))
        self.assertEqual(len(info["days"]), 15)
        self.assertEqual(info["months"], ["2024-05", "2024-06"])
        self.assertIn({"channel": 0, "mode": 4, "name": "温度(ｻｰﾐｽﾀ)", "unit": "ﾟC", "records": 2017},
                      info["channels"])
        self.assertIn({"channel": 4, "mode": 21, "name": "平均風向", "unit": "", "records": 2017},
                      info["channels"])
        self.assertEqual(info["problems"], [])

        t = (2024, 5, 1, 10, 0, 0)
        path = write_logger(self.path("観測所.Q38"),
                            [(t, 4, 0, 100), (t, 99, 1, 5), (t, 21, 2, 0), ((2024, 4, 31, 0, 0, 0), 4, 3, 1)],
                            memos=["観測所".encode("cp932"), b"\x81", b"STATION\xff", b"AB\x80",
                                   b"\x1b[2J", b""])
        with open(path, "ab") as f:
            f.write(b"\1\2\3")  # beyond dataEnd: not read
        r = run(["info", "--json", path])
        self.assertEqual(r.returncode, 1)
        info = json.loads(r.stdout.decode("utf-8"))
        self.assertEqual(info["path"], path)
        self.assertEqual(info["memos"][:5],
                         ["観測所", "\ufffd", "STATION\ufffd", "AB\ufffd", "\u001b[2J"])
        codes = {p["code"]: p["count"] for p in info["problems"]}
        self.assertEqual((codes[19], codes[20]), (1, 1))
        self.assertEqual(sorted(m for d in info["channels"] for m in [d["mode"]]), [4, 4, 21, 99])
        messages = " ".join(p["message"] for p in info["problems"])
        self.assertIn("a time that cannot exist in 1 record(s) (first: record 4, 2024-04-31", messages)
        self.assertNotIn("no logger file", messages)
        r = run(["info", path])
        self.assertNotIn(b"\x1b", r.stdout)
        self.assertIn(b"memo 5:      \\x1B[2J", r.stdout)

        # Most records with a time that cannot exist: probably no logger file.
        junk = write_logger(self.path("junk.Q38"), [((2000, 0, 0, 0, 0, 0), 0, 0, 1),
                                                    ((2000, 13, 5, 0, 0, 0), 0, 0, 1),
                                                    ((2024, 5, 1, 0, 0, 0), 0, 0, 1)])
        for options in ([], ["--json"]):
            r = run(["info"] + options + [junk])
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"probably no logger file: 2 of its 3 records", r.stdout, options)

    def test_only_regular_files_are_read_and_in_blocks(self):
        fifo = self.path("pipe.Q38")
        os.mkfifo(fifo)
        for path, what in (("/dev/zero", "is a device"), (fifo, "is a FIFO"),
                           (self.tmp, "is a folder"), (self.path("none.Q38"), "No such file")):
            r = run(["info", path], timeout=20)
            self.assertEqual((r.returncode, r.stdout), (1, b""), path)
            self.assertIn(what, r.stderr.decode(), path)
            # --json: one object that says why, for scripts.
            r = run(["info", "--json", path], timeout=20)
            self.assertEqual(r.returncode, 1, path)
            self.assertEqual(json.loads(r.stdout)["path"], path)
            self.assertIn(what, json.loads(r.stdout)["error"], path)
        # A large file with a small record area: only the header and the
        # record area are read, in blocks, so the memory stays small.
        big = write_logger(self.path("big.Q38"), [((2024, 5, 1, 0, 0, 0), 0, 0, 1)])
        with open(big, "r+b") as f:
            f.truncate(1 << 30)  # sparse
        probe = ("import resource, subprocess, sys;"
                 "r = subprocess.run(sys.argv[1:], capture_output=True);"
                 "print(r.returncode, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
        r = subprocess.run([sys.executable, "-c", probe, RAVELO, "info", big],
                           capture_output=True, timeout=120)
        code, peak_kib = map(int, r.stdout.split())
        self.assertEqual(code, 0, r)
        self.assertLess(peak_kib, 200 * 1024)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
