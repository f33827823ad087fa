#!/usr/bin/env python3
"""Checks of the ravelo command line, run as a user runs it.

Usage: python3 test_cli.py <path to libravelo.so>; the program is
<directory of the library>/tools/ravelo. Expected CSV files are made here,
independently of the program, from the records of the logger files; Japanese
texts are turned into code page 932 with iconv.
"""
import functools
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

from logger_files import write_logger

LIB = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
RAVELO = os.path.join(os.path.dirname(LIB), "tools", "ravelo")
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLES = os.path.join(SOURCE, "samples")

# The committed samples and the options that made them (samples/README.md).
SAMPLE_FILES = {
    "STATION_A1.Q38": [],
    "STATION_A1_2.Q38": ["--start", "2024-06-02", "--days", "7", "--station", "STATION_A1"],
}


class Skip(Exception):
    pass


TMP = tempfile.mkdtemp(prefix="ravelo-cli-test-")
WORK_TMP = os.path.join(TMP, "tmpdir")  # TMPDIR of the program: must stay empty
os.mkdir(WORK_TMP)


def environment(locale="C.UTF-8", extra=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANG"}
    if locale is not None:
        env["LC_ALL"] = locale
    env["TMPDIR"] = WORK_TMP
    env.update(extra or {})
    return env


def run(args, locale="C.UTF-8", cwd=None, env=None, preexec_fn=None):
    return subprocess.run([RAVELO] + args, capture_output=True, cwd=cwd, timeout=120,
                          env=environment(locale, env), preexec_fn=preexec_fn)


def summary(converted, failed, rows, created, merged):
    return ("ravelo convert: %d logger file(s) converted, %d failed; %d rows read; "
            "%d CSV file(s) created, %d merged\n" % (converted, failed, rows, created, merged)).encode()


@functools.lru_cache(maxsize=None)
def cp932(text):
    r = subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=text.encode("utf-8"),
                       capture_output=True, check=True)
    return r.stdout


def fresh(name):
    path = os.path.join(TMP, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def sample(name, *options):
    path = os.path.join(TMP, name)
    r = run(["sample", path] + list(options))
    assert r.returncode == 0, r.stderr
    return path


# ---- Logger files and the CSV files they should give -------------------------

def decode(path):
    data = open(path, "rb").read()
    end, start = struct.unpack_from("<II", data, 2)
    memos = [data[486 + 16 * i:486 + 16 * (i + 1)].split(b"\0")[0] for i in range(6)]
    records = []
    for at in range(start, end - 7, 8):
        bits = int.from_bytes(data[at:at + 5], "big")
        stamp = (2000 + (bits >> 33), (bits >> 29) & 15, (bits >> 24) & 31, (bits >> 19) & 31,
                 (bits >> 13) & 63, (bits >> 7) & 63)
        records.append((stamp, bits & 0x7F, data[at + 5], data[at + 6] | data[at + 7] << 8))
    return memos, records


NAMES = {4: "温度(ｻｰﾐｽﾀ)", 8: "湿度", 52: "気圧", 20: "平均風速", 21: "平均風向", 38: "雨量",
         56: "日射", 60: "日照"}
UNITS = {4: "ﾟC", 8: "%", 52: "hPa", 20: "m/s", 21: "", 38: "mm", 56: "KW/m2", 60: "min"}
COMPASS = ["", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE", "S", "SSW", "SW", "WSW", "W", "WNW",
           "NW", "NNW", "N", "CALM"]


def field(mode, raw):
    signed = raw - 65536 if raw >= 32768 else raw
    if mode in (4, 8, 52):
        return ",%+07.1f" % (signed / 10)
    if mode == 20:
        return ",%5.1f" % (raw / 10)
    if mode == 21:
        return "," + COMPASS[raw]
    if mode == 38:
        return ",%06.1f" % (signed / 10)
    if mode == 56:
        return ",%+07.2f" % (signed / 100)
    if mode == 60:
        return ",%05d" % raw
    raise ValueError(mode)


def shift_midnight(stamp):
    y, mo, d, h, mi, s = stamp
    if (h, mi, s) != (0, 0, 0):
        return stamp
    if d > 1:
        return (y, mo, d - 1, 24, 0, 0)
    if mo > 1:
        leap = y % 4 == 0 and (y % 100 != 0 or y % 400 == 0)
        days = [31, 29 if leap else 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31][mo - 2]
        return (y, mo - 1, days, 24, 0, 0)
    return (y - 1, 12, 31, 24, 0, 0)


def rows_of(path, midnight_as_24=False):
    """(stamp, header, unit, data line) of each row, in file order."""
    memos, records = decode(path)
    rows = []
    for stamp, mode, channel, value in records:
        if midnight_as_24:
            stamp = shift_midnight(stamp)
        if not rows or rows[-1][0] != stamp:
            rows.append((stamp, {}))
        rows[-1][1][channel] = (mode, value)
    out = []
    for stamp, channels in rows:
        order = sorted(channels)
        header = cp932("date,time" + "".join("," + NAMES[channels[c][0]] for c in order) + "\r\n")
        unit = cp932("," + "".join("," + UNITS[channels[c][0]] for c in order) + "\r\n")
        data = ("%4d/%02d/%02d,%02d:%02d:%02d" % stamp +
                "".join(field(*channels[c]) for c in order) + "\r\n").encode("ascii")
        out.append((stamp, header, unit, data))
    return memos, out


class Expected:
    """The CSV files a series of jobs should leave, merged in time order."""

    def __init__(self):
        self.files = {}  # name -> [memos, {stamp: (header, unit, data)}]

    def job(self, path, kind="day", replace_listed=None, midnight_as_24=False, direct=False):
        """replace_listed: under --replace, the set of files this batch listed."""
        memos, rows = rows_of(path, midnight_as_24)
        stem = os.path.splitext(os.path.basename(path))[0]
        if not direct and "_" in stem:
            stem = stem[:stem.index("_") + 1]
        touched = set()
        for stamp, header, unit, data in rows:
            if direct:
                name = stem + ".CSV"
            elif kind == "day":
                name = stem + "%4d%02d%02d.CSV" % stamp[:3]
            else:
                name = stem + "%4d%02d.CSV" % stamp[:2]
            if name not in touched:
                touched.add(name)
                if replace_listed is not None and name not in replace_listed:
                    self.files.pop(name, None)
                    replace_listed.add(name)
                self.files.setdefault(name, [memos, {}])[0] = memos
            self.files[name][1][stamp] = (header, unit, data)

    def contents(self):
        out = {}
        for name, (memos, lines) in self.files.items():
            text = b"ZELKA-Q38\r\n" + b"".join(m + b"\r\n" for m in memos)
            pair = None
            for stamp in sorted(lines):
                header, unit, data = lines[stamp]
                if (header, unit) != pair:
                    text += header + unit
                    pair = (header, unit)
                text += data
            out[name] = text
        return out


def read_folder(folder):
    if not os.path.isdir(folder):
        return {}
    return {n: open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder)}


def check_folder(folder, expected):
    got = read_folder(folder)
    assert sorted(got) == sorted(expected), "files %s, expected %s" % (sorted(got), sorted(expected))
    for name in expected:
        if got[name] != expected[name]:
            g, e = got[name].split(b"\r\n"), expected[name].split(b"\r\n")
            for i, (a, b) in enumerate(zip(g, e)):
                if a != b:
                    raise AssertionError("%s line %d: %r, expected %r" % (name, i + 1, a, b))
            raise AssertionError("%s: %d lines, expected %d" % (name, len(g), len(e)))


def convert(args, **kw):
    r = run(["convert"] + args, **kw)
    if r.returncode == -signal.SIGABRT and b"not built yet" in r.stderr:
        raise Skip("the library cannot convert yet (RaveloProc is not built)")
    assert os.listdir(WORK_TMP) == [], "work folder left behind: %s" % os.listdir(WORK_TMP)
    return r


def day_folder(dest):
    return os.path.join(dest, "CSV", "Day")


def message(code):
    texts = {3: "Q38ファイルが存在しません。", 4: "Q38ファイルの拡張子でありません。",
             19: "Q38ファイルの記録データの記録モード番号に該当がありません。"}
    return texts[code]


# Japanese messages on a UTF-8 terminal, whether or not ja_JP.UTF-8 is installed.
JAPANESE = {"LC_CTYPE": "C.UTF-8", "LC_MESSAGES": "ja_JP.UTF-8"}


# ---- Help and usage ------------------------------------------------------------

def test_help_texts():
    main = run(["--help"])
    assert main.returncode == 0 and main.stderr == b""
    for word in (b"convert", b"info", b"sample", b"Exit codes", b"usage error"):
        assert word in main.stdout, word
    assert run(["help"]).stdout == main.stdout
    assert run(["-h"]).stdout == main.stdout
    assert run(["help", "--help"]).stdout.startswith(b"Usage: ravelo help")
    assert run(["help", "help"]).stdout == run(["help", "--help"]).stdout
    for command in ("convert", "info", "sample"):
        r = run([command, "--help"])
        assert r.returncode == 0, command
        assert r.stdout.startswith(b"Usage: ravelo " + command.encode()), r.stdout[:40]
        assert b"Exit codes" in r.stdout, command
        assert run(["help", command]).stdout == r.stdout
    convert_help = run(["convert", "--help"]).stdout
    for option in (b"--out", b"--month", b"--replace", b"--merge", b"--direct",
                   b"--midnight-as-24", b"--stop-on-error", b"--keep-going", b"--work-dir",
                   b"--id", b"--new-batch", b"--end-batch", b"--strict", b"--no-wait",
                   b"--quiet", b"--verbose", b"first '_'"):
        assert option in convert_help, option


def test_usage_errors_exit_2():
    cases = [[], ["frob"], ["convert"], ["convert", "x.Q38"], ["convert", "--out", "d"],
             ["convert", "x.Q38", "--out"], ["convert", "x.Q38", "--out", "d", "--bogus"],
             ["convert", "x.Q38", "--out", "d", "--id", "seven"],
             ["convert", "x.Q38", "--out", "d", "--new-batch"],
             ["info"], ["info", "a.Q38", "b.Q38"], ["info", "--bogus", "a.Q38"],
             ["sample"], ["sample", "a.Q38", "--days", "0"], ["sample", "a.Q38", "--days", "x"],
             ["sample", "a.Q38", "--start", "2024-02-30"], ["sample", "a.Q38", "--start", "1999-12-31"],
             ["sample", "a.Q38", "b.Q38"], ["sample", "-"], ["sample", "a.Q38", "--station", ""],
             ["help", "frob"], ["help", "convert", "info"]]
    # Conflicting and repeated options of convert.
    for extra in (["--month", "--direct"], ["--day", "--month"], ["--merge", "--replace"],
                  ["--out", "e"], ["--out=e"], ["-o", "e"], ["--month", "--month"],
                  ["-q", "--verbose"], ["--stop-on-error", "--keep-going"],
                  ["--id", "1", "--id=2"], ["--strict", "--strict"]):
        cases.append(["convert", "x.Q38", "--out", "d"] + extra)
    # A backslash in a path would reach another file: a\b_1.Q38 is read as a/b_1.Q38.
    os.makedirs(os.path.join(TMP, "a"), exist_ok=True)
    shutil.copy(os.path.join(SAMPLES, "STATION_A1.Q38"), os.path.join(TMP, "a", "b_1.Q38"))
    backslash = [["convert", "a\\b_1.Q38", "--out", "bs"], ["convert", "x.Q38", "--out", "b\\s"],
                 ["convert", "x.Q38", "--out", "bs", "--work-dir", "a\\"]]
    for args in cases + backslash:
        r = run(args, cwd=TMP)
        assert r.returncode == 2, (args, r.returncode, r.stderr)
        assert r.stdout == b"", args
        assert b"ravelo" in r.stderr, args
    for args in backslash:
        assert b"backslash" in run(args, cwd=TMP).stderr, args
    assert not os.path.exists(os.path.join(TMP, "a.Q38")) and not os.path.exists(os.path.join(TMP, "-"))
    assert not os.path.exists(os.path.join(TMP, "bs")) and not os.path.exists(os.path.join(TMP, "d"))


# ---- sample ----------------------------------------------------------------------

def test_sample_is_deterministic_and_matches_committed_samples():
    os.makedirs(os.path.join(TMP, "det"), exist_ok=True)
    a = sample("det1.Q38")
    b = sample(os.path.join("det", "det1.Q38"))
    assert open(a, "rb").read() == open(b, "rb").read()
    c = sample("det3.Q38", "--seed", "7")
    assert open(a, "rb").read() != open(c, "rb").read()
    # The first memo is the station: the file's name unless given.
    assert decode(sample("det2.Q38"))[0][0] == b"det2" and decode(a)[0][0] == b"det1"
    assert decode(sample("det4.Q38", "--station", "det1"))[1] == decode(a)[1]
    assert decode(sample("A_name_longer_than_16.Q38"))[0][0] == b"A_name_longer_th"
    for name, options in SAMPLE_FILES.items():
        os.makedirs(os.path.join(TMP, "committed"), exist_ok=True)
        made = sample(os.path.join("committed", name), *options)
        assert open(made, "rb").read() == open(os.path.join(SAMPLES, name), "rb").read(), name


def test_sample_layout_and_values():
    path = sample("layout.Q38", "--start", "2023-12-31", "--days", "2")
    memos, records = decode(path)
    assert memos == [b"layout", b"Q38 SAMPLE", b"10 MIN INTERVAL", b"SEED 38", b"8 CHANNELS", b""]
    data = open(path, "rb").read()
    assert struct.unpack_from("<II", data, 2) == (len(data), 1024)
    assert len(records) == (2 * 144 + 1) * 8
    stamps = sorted({r[0] for r in records})
    assert stamps[0] == (2023, 12, 31, 0, 0, 0) and stamps[-1] == (2024, 1, 2, 0, 0, 0)
    assert (2024, 1, 1, 0, 0, 0) in stamps and len(stamps) == 2 * 144 + 1
    modes = {4: 0, 8: 1, 52: 2, 20: 3, 21: 4, 38: 5, 56: 6, 60: 7}
    for stamp, mode, channel, value in records:
        assert modes[mode] == channel
        signed = value - 65536 if value >= 32768 else value
        if mode == 4:
            assert -300 <= signed <= 450, signed
        elif mode == 8:
            assert 150 <= value <= 1000
        elif mode == 52:
            assert 9500 <= signed <= 10500
        elif mode == 21:
            assert 1 <= value <= 17
        elif mode == 38:
            assert value % 5 == 0
        elif mode == 56:
            assert 0 <= signed <= 100
            if stamp[3] < 3 or stamp[3] > 20:
                assert signed == 0, stamp
        elif mode == 60:
            assert 0 <= value <= 10


# ---- info --------------------------------------------------------------------------

def info(path, locale="C.UTF-8"):
    r = run(["info", path], locale=locale)
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr


def test_info_on_sample():
    before = sorted(os.listdir(SAMPLES))
    code, out, err = info(os.path.join(SAMPLES, "STATION_A1.Q38"))
    assert code == 0 and err == b"", err
    assert sorted(os.listdir(SAMPLES)) == before
    for text in ("dataStart:   1024", "dataEnd:     130112", "size:        130112 bytes",
                 "memo 1:      STATION_A1", "memo 4:      SEED 38", "records:     16136",
                 "time range:  2024-05-20 00:00:00 .. 2024-06-03 00:00:00", "rows:        2017",
                 "days:        15", "months:      2", "channels:    8", "problems:    none"):
        assert text in out, (text, out)
    lines = out.splitlines()
    assert any(l.split()[:3] == ["2", "52", "atmospheric"] and l.split()[-1] == "2017" for l in lines)
    assert any(l.split()[:3] == ["4", "21", "mean"] for l in lines)


def test_info_finds_undefined_modes_and_wind_out_of_range():
    t = (2024, 5, 1, 10, 0, 0)
    t2 = (2024, 5, 1, 10, 10, 0)
    path = write_logger(os.path.join(TMP, "modes.Q38"),
                        [(t, 4, 0, 100), (t, 7, 1, 5), (t2, 4, 0, 100), (t2, 21, 2, 0),
                         (t2, 23, 3, 18), (t2, 127, 4, 9), (t2, 99, 5, 1)])
    code, out, _ = info(path)
    assert code == 1
    assert "records:     7 (1 of mode 127, skipped)" in out, out
    assert "code 19: recording mode not defined (7, 99) in 2 record(s); first: record 2" in out, out
    assert "code 20: wind direction outside 1..17 in 2 record(s); first: record 4" in out, out
    assert "a conversion stops with code 19 at record 2" in out, out
    assert "(not defined)" in out
    # Wind values 1 and 17 are fine.
    path = write_logger(os.path.join(TMP, "wind.Q38"), [(t, 21, 0, 1), (t2, 29, 0, 17)])
    code, out, _ = info(path)
    assert code == 0 and "problems:    none" in out, out


def test_info_finds_broken_record_areas():
    t = [((2024, 5, 1, 0, m, 0), 0, 0, m) for m in range(0, 60, 10)]
    many = [((2024, 5, 1 + i // 144, (i % 144) // 6, (i % 6) * 10, 0), 0, 0, i) for i in range(2000)]
    cases = [
        # (records, options, exit code, texts)
        (t, dict(cut=55), 1, ["truncated record area: the file ends 55 bytes before dataEnd",
                              "dataStart lies beyond the end of the file",
                              "ends after record 0 as if the records were complete"]),
        (t, dict(cut=13), 1, ["ends 13 bytes before dataEnd", "code 16", "after the 4 complete"]),
        (many, dict(cut=len(many) * 8 - 8192), 1, ["after record 1024 as if the records were complete"]),
        (t, dict(data_end=1024 + 6 * 8 + 5), 0, None),
        (t, dict(data_end=1000), 1, ["dataEnd lies before dataStart"]),
        ([], dict(data_start=100), 1, ["code 14"]),
        (t, dict(data_start=0x80000000, data_end=0x80000010, header_size=1024), 1, ["code 15"]),
    ]
    for records, options, expected_code, texts in cases:
        path = write_logger(os.path.join(TMP, "broken.Q38"), records, **options)
        if texts is None:  # 5 trailing bytes beyond the records: extend the file
            with open(path, "ab") as f:
                f.write(b"\1\2\3\4\5")
            texts = ["is not a multiple of 8: its last 5 bytes are ignored"]
            expected_code = 1
        code, out, _ = info(path)
        assert code == expected_code, (options, out)
        for text in texts:
            assert text in out, (text, out)
    open(os.path.join(TMP, "tiny.Q38"), "wb").write(b"Q8\0\0")
    code, out, _ = info(os.path.join(TMP, "tiny.Q38"))
    assert code == 1 and "code 12" in out
    code, out, err = info(os.path.join(TMP, "no-such-file.Q38"))
    assert code == 1 and b"no-such-file.Q38" in err


def test_info_shows_memos_for_the_terminal():
    memo = cp932("観測所Ａ１")
    path = write_logger(os.path.join(TMP, "memo.Q38"), [((2024, 5, 1, 0, 0, 0), 0, 0, 1)],
                        memos=[memo, b"PLAIN", b"", b"", b"", b"\x81"])
    code, out, _ = info(path)
    assert "memo 1:      観測所Ａ１\n" in out, out
    assert "memo 6:      \\x81\n" in out, out  # not valid code page 932
    code, out, _ = info(path, locale="C")
    assert "memo 1:      \\x" in out and "memo 2:      PLAIN\n" in out, out


# ---- convert -----------------------------------------------------------------------

def test_convert_sample_into_day_files():
    dest = os.path.join(fresh("day"), "out", "nested")  # made by the program
    src = os.path.join(SAMPLES, "STATION_A1.Q38")
    r = convert([src, "--out", dest])
    assert r.returncode == 0 and r.stdout == b"", r.stderr
    assert r.stderr == summary(1, 0, 2017, 15, 0), r.stderr
    expected = Expected()
    expected.job(src)
    files = expected.contents()
    assert len(files) == 15 and "STATION_20240520.CSV" in files and "STATION_20240603.CSV" in files
    check_folder(day_folder(dest), files)
    first = files["STATION_20240520.CSV"].split(b"\r\n")
    assert first[0] == b"ZELKA-Q38" and first[1] == b"STATION_A1"
    assert first[7] == cp932("date,time,温度(ｻｰﾐｽﾀ),湿度,気圧,平均風速,平均風向,雨量,日射,日照")
    assert first[8] == cp932(",,ﾟC,%,hPa,m/s,,mm,KW/m2,min")


def test_convert_month_direct_and_midnight():
    src = os.path.join(SAMPLES, "STATION_A1.Q38")
    dest = fresh("month")
    assert convert(["--month", src, "--out", dest]).returncode == 0
    expected = Expected()
    expected.job(src, kind="month")
    assert sorted(expected.contents()) == ["STATION_202405.CSV", "STATION_202406.CSV"]
    check_folder(os.path.join(dest, "CSV", "Month"), expected.contents())

    dest = fresh("direct")
    assert convert(["--direct", src, "--out", dest]).returncode == 0
    expected = Expected()
    expected.job(src, direct=True)
    assert sorted(expected.contents()) == ["STATION_A1.CSV"]
    check_folder(dest, expected.contents())

    dest = fresh("midnight")
    assert convert(["--midnight-as-24", src, "--out", dest]).returncode == 0
    expected = Expected()
    expected.job(src, midnight_as_24=True)
    files = expected.contents()
    assert "STATION_20240519.CSV" in files and "STATION_20240603.CSV" not in files
    assert b"2024/06/02,24:00:00," in files["STATION_20240602.CSV"]
    check_folder(day_folder(dest), files)


def test_convert_merges_by_default_and_replaces_on_request():
    x = sample("A_x.Q38", "--start", "2024-05-20", "--days", "3", "--seed", "1")
    y = sample("A_y.Q38", "--start", "2024-05-21", "--days", "1", "--seed", "2")
    merged = Expected()
    merged.job(x)
    merged.job(y)
    replaced = Expected()
    replaced.job(x)
    replaced.job(y, replace_listed=set())

    # Separate runs, default: nothing converted earlier is lost.
    dest = fresh("merge")
    assert convert([x, "--out", dest]).returncode == 0
    assert convert([y, "--out", dest]).returncode == 0
    check_folder(day_folder(dest), merged.contents())
    day22 = merged.contents()["A_20240522.CSV"]
    assert day22.count(b"\r\n2024/05/22,") == 144 and b"\r\nSEED 2\r\n" in day22

    # Separate runs with --replace: each run is a batch of its own.
    dest = fresh("replace")
    assert convert([x, "--out", dest]).returncode == 0
    assert convert(["--replace", y, "--out", dest]).returncode == 0
    check_folder(day_folder(dest), replaced.contents())
    assert replaced.contents()["A_20240522.CSV"].count(b"\r\n2024/05/22,") == 1

    # One run is one batch: the second file merges into what the first wrote.
    dest = fresh("onebatch")
    r = convert(["--replace", x, y, "--out", dest])
    assert r.returncode == 0, r.stderr
    check_folder(day_folder(dest), merged.contents())

    # A batch kept in a work folder goes on over several runs.
    dest, work = fresh("workdir-out"), fresh("workdir")
    assert convert(["--replace", "--work-dir", work, "--new-batch", x, "--out", dest]).returncode == 0
    assert any(n.endswith(".ini") for n in os.listdir(work)), os.listdir(work)
    assert convert(["--replace", "--work-dir", work, y, "--out", dest]).returncode == 0
    check_folder(day_folder(dest), merged.contents())
    # A new batch replaces again; --end-batch leaves no INI file behind.
    r = convert(["--replace", "--work-dir", work, "--new-batch", "--end-batch", y, "--out", dest])
    assert r.returncode == 0
    assert os.listdir(work) == []
    check_folder(day_folder(dest), replaced.contents())
    # Another id number is another batch in the same work folder.
    assert convert(["--work-dir", work, "--id", "7", x, "--out", fresh("id7")]).returncode == 0
    assert all("_07.ini" in n for n in os.listdir(work)), os.listdir(work)


def test_convert_failures():
    src = os.path.join(SAMPLES, "STATION_A1_2.Q38")
    expected = Expected()
    expected.job(src)

    dest = fresh("fail-keep-going")
    r = convert(["missing_1.Q38", src, "--out", dest], locale="C.UTF-8")
    assert r.returncode == 1
    assert r.stderr == b"missing_1.Q38: code 3: the logger file does not exist\n" + \
        summary(1, 1, 1009, 8, 0), r.stderr
    check_folder(day_folder(dest), expected.contents())

    dest = fresh("fail-stop")
    r = convert(["--stop-on-error", "missing_1.Q38", src, "--out", dest])
    assert r.returncode == 1
    lines = r.stderr.decode("utf-8").splitlines(True)
    assert lines[0] == "missing_1.Q38: code 3: the logger file does not exist\n"
    assert "1 file(s) not converted" in lines[1]
    assert lines[2].encode() == summary(0, 1, 0, 0, 0)
    assert read_folder(day_folder(dest)) == {}

    # Wrong extension, and a terminal that cannot show Japanese.
    wrong = os.path.join(TMP, "A1_x.dat")
    shutil.copy(src, wrong)
    r = convert([wrong, "--out", fresh("fail-ext")], locale="C")
    assert r.returncode == 1
    assert r.stderr.startswith((wrong + ": code 4: the file does not have the .Q38 extension\n").encode())

    # The reason from the system, where the library's code cannot say it.
    folder = os.path.join(fresh("fail-dir"), "D_dir.Q38")
    os.mkdir(folder)
    r = convert([folder, "--out", fresh("fail-dir-out")])
    assert r.returncode == 1 and r.stderr.startswith(
        ("%s: code 9: the logger file cannot be opened\n  hint: cannot read %s: Is a directory\n"
         % (folder, folder)).encode()), r.stderr

    # A bad record on the second day: the first day is committed.
    good = [((2024, 5, 1, h, 0, 0), 4, 0, 100 + h) for h in range(24)]
    bad = write_logger(os.path.join(TMP, "B_bad.Q38"),
                       good + [((2024, 5, 2, 0, 0, 0), 4, 0, 1), ((2024, 5, 2, 0, 30, 0), 4, 0, 2),
                               ((2024, 5, 2, 1, 0, 0), 9, 0, 1)])
    dest = fresh("fail-19")
    r = convert([bad, "--out", dest], locale=None, env=JAPANESE)
    assert r.returncode == 1
    assert r.stderr.decode("utf-8").startswith("%s: コード 19: %s\n" % (bad, message(19))), r.stderr
    files = read_folder(day_folder(dest))
    assert files["B_20240501.CSV"].count(b"\r\n2024/05/01,") == 24, files
    # The second day's new file keeps the row written before the failure.
    assert files["B_20240502.CSV"].endswith(b"\r\n2024/05/02,00:00:00,+0000.1\r\n"), files


def test_version_is_the_project_version():
    # One version, from the project() line of CMakeLists.txt: the tool shows it
    # and the library file carries it.
    cmake = open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8").read()
    version = cmake.split("project(Ravelo VERSION ", 1)[1].split()[0]
    r = run(["--version"])
    assert r.returncode == 0 and r.stderr == b"", r
    assert r.stdout == b"ravelo " + version.encode() + b"\n", r.stdout
    assert os.path.basename(LIB) == "libravelo.so." + version, LIB


def test_convert_one_spelling_of_dest_and_work_folder():
    """A batch meets its files however DEST and the work folder are spelled."""
    x = sample("C_x.Q38", "--start", "2024-05-20", "--days", "3", "--seed", "1", "--station", "C")
    y = sample("C_y.Q38", "--start", "2024-05-21", "--days", "1", "--seed", "2", "--station", "C")
    merged = Expected()
    merged.job(x)
    merged.job(y)
    base = fresh("spelling")
    os.mkdir(os.path.join(base, "w"))
    os.symlink("w", os.path.join(base, "link-w"))
    r = convert(["--replace", "--work-dir", "w", "--new-batch", x, "--out", "wr"], cwd=base)
    assert r.returncode == 0, r.stderr
    for work, out in (("./w", "./wr"), ("link-w", os.path.join(base, "wr")), ("w/", "wr/../wr")):
        r = convert(["--replace", "--work-dir", work, y, "--out", out], cwd=base)
        assert r.returncode == 0, r.stderr
        check_folder(day_folder(os.path.join(base, "wr")), merged.contents())


def hold_lock(path):
    import fcntl
    fd = os.open(path, os.O_RDONLY)
    fcntl.flock(fd, fcntl.LOCK_EX)
    return fd


def start(args, **kw):
    env = environment(kw.pop("locale", "C.UTF-8"), kw.pop("env", None))
    return subprocess.Popen([RAVELO] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=env, **kw)


def test_convert_runs_into_one_dest_take_turns():
    dest = fresh("turns")
    canonical = os.path.realpath(dest)
    src = os.path.join(SAMPLES, "STATION_A1.Q38")
    held = hold_lock(dest)
    try:
        waiting = start(["convert", src, "--out", dest + "/."])
        line = waiting.stderr.readline()
        assert line == b"ravelo convert: waiting for another run into %s to finish...\n" % \
            canonical.encode(), line
        # The waiting run has its private batch folder; killed, it leaves it behind.
        assert len(os.listdir(WORK_TMP)) == 1, os.listdir(WORK_TMP)
        r = run(["convert", "--no-wait", src, "--out", dest])
        assert r.returncode == 3, r.stderr
        assert r.stderr == b"ravelo convert: another run is converting into %s (--no-wait)\n" % \
            canonical.encode(), r.stderr
        waiting.kill()
        waiting.wait()
        waiting.stdout.close()
        waiting.stderr.close()
        assert read_folder(day_folder(dest)) == {}
    finally:
        os.close(held)
    # The next run removes the folder of the killed one.
    assert convert(["-q", src, "--out", fresh("turns-next")]).returncode == 0
    assert os.listdir(WORK_TMP) == []

    # Two runs at once, overlapping days of one stem: as if one ran after the other.
    x = sample("T_x.Q38", "--start", "2024-05-20", "--days", "3", "--seed", "1", "--station", "T")
    y = sample("T_y.Q38", "--start", "2024-05-21", "--days", "2", "--seed", "2", "--station", "T")
    orders = []
    for first, second in ((x, y), (y, x)):
        e = Expected()
        e.job(first)
        e.job(second)
        orders.append(e.contents())
    for round_number in range(4):
        dest = fresh("turns-%d" % round_number)
        runs = [start(["convert", "-q", f, "--out", dest]) for f in (x, y)]
        for p in runs:
            out, err = p.communicate(timeout=120)
            assert p.returncode == 0 and err == b"", err
        got = read_folder(day_folder(dest))
        assert got in orders, sorted(got)
    assert os.listdir(WORK_TMP) == []


def test_convert_warns_of_another_logger_in_the_same_files():
    dest = os.path.join(TMP, "memo")
    a1 = sample("STATION_A1.Q38", "--start", "2024-05-20", "--days", "2")
    b2 = sample("STATION_B2.Q38", "--start", "2024-05-21", "--days", "2")
    day = lambda d: os.path.join(day_folder(dest), "STATION_202405%02d.CSV" % d)
    warning = lambda d, more="": ("%s: warning: its memo texts differ from those in %s%s: a file of "
                                  "another logger?\n" % (b2, os.path.realpath(day(d)), more)).encode()
    # (options, exit code, what is said, B2 converted)
    for options, code, said, converted in (
            ([], 0, [warning(21, " (and 1 more CSV file(s))")], True),
            (["-v"], 0, [warning(21), warning(22)], True),
            (["--strict"], 1, [("%s: not converted (--strict): its memo texts differ from those "
                                "in %s (and 1 more CSV file(s))\n" % (b2, os.path.realpath(day(21)))
                                ).encode()], False),
            (["--replace"], 0, [], True)):  # a run of its own replaces, not merges
        dest = fresh("memo")
        assert convert([a1, "--out", dest]).returncode == 0
        before = read_folder(day_folder(dest))
        r = convert(options + [b2, "--out", dest])
        assert r.returncode == code, (options, r.stderr)
        lines = [l for l in r.stderr.splitlines(True) if not l.startswith(b"  ")]  # -v: files
        assert lines[:-1] == said, (options, r.stderr)
        assert (read_folder(day_folder(dest)) != before) == converted, options
    # In one batch, the second logger file merges into what the first wrote.
    dest = fresh("memo-batch")
    r = convert(["--replace", a1, b2, "--out", dest])
    assert r.returncode == 0 and r.stderr.splitlines(True)[:-1] == \
        [warning(21, " (and 1 more CSV file(s))")], r.stderr
    # The logger converted last again, and another station with another stem: nothing to say.
    r = convert([b2, sample("OTHER_B2.Q38", "--days", "3"), "--out", dest])
    assert r.returncode == 0 and r.stderr.count(b"\n") == 1, r.stderr


def test_convert_fails_files_that_give_no_rows():
    t = [((2024, 5, 1, 0, m, 0), 0, 0, m) for m in range(0, 60, 10)]
    text = os.path.join(TMP, "N_text.Q38")
    shutil.copy("/etc/passwd" if os.path.exists("/etc/passwd") else __file__, text)
    noise = os.path.join(TMP, "N_noise.Q38")
    open(noise, "wb").write(bytes((i * 7919 + 13) % 251 for i in range(5000)))
    incomplete = "warning: the record area is incomplete"
    cases = [  # (logger file, exit code, texts said)
        (text, 1, ["no records converted: is this a logger file?"]),
        (noise, 1, ["no records converted"]),
        (write_logger(os.path.join(TMP, "N_empty.Q38"), []), 1, ["no records converted"]),
        (write_logger(os.path.join(TMP, "N_skip.Q38"), [(s, 127, 0, 1) for s, _, _, _ in t]), 1,
         ["no records converted"]),
        (write_logger(os.path.join(TMP, "N_cut.Q38"), t, cut=13), 1,
         [incomplete, "the file ends 13 bytes short", "code 16"]),
        (write_logger(os.path.join(TMP, "N_cut8k.Q38"), t, cut=len(t) * 8), 1,
         ["no records converted"]),
        (write_logger(os.path.join(TMP, "N_odd.Q38"), t, data_end=1024 + 6 * 8 + 5), 0,
         ["is not a multiple of 8 bytes; its last 5 bytes"]),
    ]
    for path, code, texts in cases:
        if path.endswith("N_odd.Q38"):
            with open(path, "ab") as f:
                f.write(b"\1\2\3\4\5")
        dest = fresh("norows")
        r = convert([path, "--out", dest])
        assert r.returncode == code, (path, r.stderr)
        for said in texts:
            assert said.encode() in r.stderr, (said, r.stderr)
        if "no records converted" in texts[0]:  # nothing else to say of such a file
            assert r.stderr.count(b"\n") == 2, r.stderr
        if code == 1 and "code 16" not in texts:
            assert read_folder(day_folder(dest)) == {}, path
            assert r.stderr.endswith(summary(0, 1, 0, 0, 0)), r.stderr


def test_convert_quiet_verbose_and_languages():
    src = os.path.join(SAMPLES, "STATION_A1_2.Q38")
    dest = fresh("talk")
    r = convert(["-q", src, "--out", dest])
    assert r.returncode == 0 and r.stderr == b"", r.stderr
    r = convert(["-v", src, "--out", dest])
    folder = os.path.realpath(day_folder(dest))
    assert r.stderr == b"".join(b"  merged %s/STATION_202406%02d.CSV\n" % (folder.encode(), d)
                                for d in range(2, 10)) + summary(1, 0, 1009, 0, 8), r.stderr
    r = convert(["-v", "--replace", src, "--out", dest])
    assert r.stderr.endswith(b"1009 rows read; 0 CSV file(s) created, 8 replaced or merged\n")
    r = convert(["-q", "missing_1.Q38", "--out", dest])
    assert r.returncode == 1 and r.stderr == b"missing_1.Q38: code 3: the logger file does not exist\n"

    english = b"missing_1.Q38: code 3: the logger file does not exist\n"
    japanese = ("missing_1.Q38: コード 3: %s\n" % message(3)).encode()
    for env, said in (
            (JAPANESE, japanese),
            ({"LC_CTYPE": "C.UTF-8", "LANG": "ja_JP.UTF-8"}, japanese),
            ({"LC_CTYPE": "C.UTF-8", "LC_MESSAGES": "en_US.UTF-8", "LANG": "ja_JP.UTF-8"}, english),
            ({"LC_ALL": "C.UTF-8", "LANG": "ja_JP.UTF-8"}, english),
            ({"LC_ALL": "en_US.UTF-8"}, english),
            ({"LC_CTYPE": "C", "LC_MESSAGES": "ja_JP.UTF-8"}, english)):  # no Japanese to show
        r = convert(["missing_1.Q38", "--out", dest], locale=None, env=env)
        assert r.stderr.splitlines(True)[0] == said, (env, r.stderr)
    r = convert(["missing_1.Q38", "--out", dest], locale=None, env=JAPANESE)
    assert "ロガーファイル 0 個を変換、1 個が失敗" in r.stderr.decode(), r.stderr


def test_convert_destination_that_cannot_be_used_exit_3():
    base = fresh("baddest")
    open(os.path.join(base, "file"), "w").close()
    os.makedirs(os.path.join(base, "csvfile"))
    open(os.path.join(base, "csvfile", "CSV"), "w").close()
    os.makedirs(os.path.join(base, "dayfile", "CSV"))
    open(os.path.join(base, "dayfile", "CSV", "Day"), "w").close()
    cases = [("file", "Not a directory"), ("file/below", "Not a directory"),
             ("csvfile", "Not a directory"), ("dayfile", "Not a directory")]
    if os.geteuid() != 0:  # permissions do not hold back root
        os.makedirs(os.path.join(base, "readonly"))
        os.chmod(os.path.join(base, "readonly"), 0o555)
        cases += [("readonly", "Permission denied"), ("readonly/below", "Permission denied")]
    src = os.path.join(SAMPLES, "STATION_A1_2.Q38")
    for out, reason in cases:
        r = convert([src, "--out", os.path.join(base, out)])
        assert r.returncode == 3, (out, r.stderr)
        assert r.stderr.startswith(b"ravelo convert: cannot ") and \
            r.stderr.endswith((": %s\n" % reason).encode()), (out, r.stderr)
    # With --direct only DEST itself counts.
    assert convert(["--direct", src, "--out", os.path.join(base, "dayfile")]).returncode == 0


def test_convert_file_size_limit_fails_the_write():
    import resource
    src = os.path.join(SAMPLES, "STATION_A1_2.Q38")
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
    dest = fresh("fsize")
    # A new file, then a merge: each write beyond the limit fails with code 21.
    r = convert([src, "--out", dest], preexec_fn=limit)
    assert r.returncode == 1, (r.returncode, r.stderr)
    assert b": code 21: writing to a file failed\n" in r.stderr, r.stderr
    assert b"  hint: the file size limit of this process (ulimit -f) is 4096 bytes" in r.stderr
    shutil.rmtree(dest)
    assert convert([src, "--out", dest]).returncode == 0
    before = read_folder(day_folder(dest))
    r = convert([src, "--out", dest], preexec_fn=limit)
    assert r.returncode == 1 and b"code 21" in r.stderr, (r.returncode, r.stderr)
    assert read_folder(day_folder(dest)) == before  # no .TMP left, nothing changed


def test_convert_shows_progress_within_the_file():
    import fcntl
    import pty
    src = os.path.join(SAMPLES, "STATION_A1.Q38")
    dest = fresh("progress")
    assert convert([src, "--out", dest]).returncode == 0
    last = os.path.join(day_folder(dest), "STATION_20240603.CSV")
    # Held for writing by another program: the file cannot be opened, and the hint says why.
    held = open(last, "r+b")
    fcntl.lockf(held, fcntl.LOCK_EX)
    r = convert([src, "--out", dest])
    held.close()
    assert r.returncode == 1 and b"code 22: a CSV file cannot be opened\n  hint: %s is held by " \
        b"another program\n" % os.path.realpath(last).encode() in r.stderr, r.stderr
    # Held for reading: the run waits at the commit of that last day's file,
    # with the whole logger file read.
    held = open(last, "rb")
    fcntl.lockf(held, fcntl.LOCK_SH)
    leader, follower = pty.openpty()
    p = subprocess.Popen([RAVELO, "convert", src, "--out", dest], stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=follower, env=environment())
    os.close(follower)
    shown = b""
    try:
        while b"0.1 / 0.1 MB (100%)" not in shown:
            chunk = os.read(leader, 4096)
            assert chunk, shown
            shown += chunk
    finally:
        fcntl.lockf(held, fcntl.LOCK_UN)
        held.close()
    assert p.wait(timeout=120) == 0
    try:
        while True:
            chunk = os.read(leader, 4096)
            if not chunk:
                break
            shown += chunk
    except OSError:  # the terminal is gone with its last process
        pass
    os.close(leader)
    assert b"\r\033[K[1/1] " + src.encode() in shown, shown
    assert shown.endswith(summary(1, 0, 2017, 0, 15).replace(b"\n", b"\r\n")), shown[-200:]


TESTS = [test_help_texts, test_version_is_the_project_version, test_usage_errors_exit_2,
         test_sample_is_deterministic_and_matches_committed_samples, test_sample_layout_and_values,
         test_info_on_sample, test_info_finds_undefined_modes_and_wind_out_of_range,
         test_info_finds_broken_record_areas, test_info_shows_memos_for_the_terminal,
         test_convert_sample_into_day_files, test_convert_month_direct_and_midnight,
         test_convert_merges_by_default_and_replaces_on_request, test_convert_failures,
         test_convert_one_spelling_of_dest_and_work_folder, test_convert_runs_into_one_dest_take_turns,
         test_convert_warns_of_another_logger_in_the_same_files,
         test_convert_fails_files_that_give_no_rows, test_convert_quiet_verbose_and_languages,
         test_convert_destination_that_cannot_be_used_exit_3,
         test_convert_file_size_limit_fails_the_write, test_convert_shows_progress_within_the_file]


def main():
    if not os.path.exists(RAVELO):
        shutil.rmtree(TMP, ignore_errors=True)
        print("SKIPPED: no program at %s (built with RAVELO_BUILD_TOOLS=OFF?)" % RAVELO)
        print("0 passed, 0 failed, %d skipped" % len(TESTS))
        return 0
    passed = failed = skipped = 0
    try:
        for test in TESTS:
            try:
                test()
                passed += 1
                print("ok      %s" % test.__name__)
            except Skip as s:
                skipped += 1
                print("SKIPPED %s: %s" % (test.__name__, s))
            except Exception as e:  # report and go on
                failed += 1
                print("FAILED  %s: %s: %s" % (test.__name__, type(e).__name__, e))
    finally:
        shutil.rmtree(TMP, ignore_errors=True)
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
