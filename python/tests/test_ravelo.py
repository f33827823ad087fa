"""Tests of the Python package. The library comes from RAVELO_LIBRARY (or the
build folder), the `ravelo` program from RAVELO_CLI (or beside the library, in
tools/); what the package does is compared with what the program does."""
import csv
import fcntl
import io
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE_ROOT = os.path.dirname(HERE)
SOURCE = os.path.dirname(PACKAGE_ROOT)
SAMPLES = os.path.join(SOURCE, "samples")
sys.path.insert(0, PACKAGE_ROOT)

import ravelo  # noqa: E402
from ravelo import _table as ravelo_table  # noqa: E402

try:
    LIBRARY = ravelo.library_path()
except OSError:
    LIBRARY = None
CLI = os.environ.get("RAVELO_CLI") or (
    os.path.join(os.path.dirname(LIBRARY), "tools", "ravelo") if LIBRARY else "")


def write_logger(path, records):
    head = bytearray(1024)
    head[0:2] = b"Q8"
    body = bytearray()
    for (y, mo, d, h, mi, s), mode, channel, value in records:
        bits = ((((((y - 2000) << 4 | mo) << 5 | d) << 5 | h) << 6 | mi) << 6 | s) << 7 | mode
        body += bits.to_bytes(5, "big") + bytes([channel, value & 0xFF, value >> 8])
    data = head + body
    struct.pack_into("<II", data, 2, len(data), 1024)
    with open(path, "wb") as f:
        f.write(data)
    return path


# The title and six memo lines that the library writes first.
INTRO = b"ZELKA-Q38\r\nM1\r\n\r\n\r\n\r\n\r\n\r\n"


def rows_of_table(table):
    """The rows of an export table as (time, values) as iter_rows gives them:
    numbers as floats, empty fields left out."""
    header = table[0][1:]
    rows = []
    for line in table[1:]:
        values = {}
        for name, cell in zip(header, line[1:]):
            if cell != "":
                try:
                    values[name] = float(cell)
                except ValueError:
                    values[name] = cell
        rows.append((line[0], values))
    return rows


def tree(folder):
    """Every file below folder with its bytes (the lock file left out)."""
    out = {}
    for base, _, names in os.walk(folder):
        for name in names:
            if name == ".ravelo.lock":
                continue
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, folder)] = f.read()
    return out


@unittest.skipIf(LIBRARY is None, "libravelo.so not found (set RAVELO_LIBRARY)")
class PackageTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="ravelo-python-test-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def cli(self, *args):
        if not os.path.exists(CLI):
            self.skipTest(f"no ravelo program at {CLI!r}")
        r = subprocess.run([CLI] + list(args), capture_output=True, timeout=120,
                           env=dict(os.environ, LC_ALL="C.UTF-8"))
        return r

    def test_convert_writes_what_the_command_line_writes(self):
        sample = os.path.join(SAMPLES, "STATION_A1.Q38")
        for options, flags in (({}, []), ({"month": True}, ["--month"]),
                               ({"direct": True}, ["--direct"]),
                               ({"midnight_as_24": True}, ["--midnight-as-24"])):
            mine, theirs = self.path("py", *flags), self.path("cli", *flags)
            result = ravelo.convert(sample, mine, **options)
            r = self.cli("convert", sample, "--out", theirs, *flags)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(tree(mine), tree(theirs), flags)
            self.assertTrue(tree(mine))
            # What it did, as the command line counts it.
            said = re.search(rb"(\d+) rows read; (\d+) CSV file\(s\) created, (\d+) merged",
                             r.stderr)
            self.assertEqual((result.rows, len(result.created), len(result.merged)),
                             tuple(int(n) for n in said.groups()), flags)
            self.assertEqual(sorted(result.created), sorted(
                os.path.join(os.path.realpath(mine), p) for p in tree(mine)))
        with self.assertRaises(ravelo.ConversionError) as e:
            ravelo.convert(self.path("missing.Q38"), self.path("py"))
        self.assertEqual(e.exception.code, 3)
        self.assertEqual(e.exception.message, "Q38ファイルが存在しません。")
        self.assertEqual(e.exception.description, "the logger file does not exist")
        with self.assertRaises(ValueError):
            ravelo.convert(self.path("a\\b_1.Q38"), self.path("py"))

    def test_result_descriptions_are_those_of_the_command_line(self):
        with open(os.path.join(SOURCE, "tools", "cli_common.cc"), encoding="utf-8") as f:
            source = f.read()
        table = re.search(r"kTexts\[\d+\] = \{(.*?)\};", source, re.S).group(1)
        texts = re.findall(r'"((?:[^"\\]|\\.)*)"', table)
        self.assertEqual(len(texts), 27)
        for code in range(-1, len(texts) + 1):
            e = ravelo._library._error(code)
            self.assertEqual(e.description, texts[code] if 0 <= code < len(texts) else
                             "unknown result", code)
            self.assertEqual(e.message, ravelo.message(code))
            self.assertEqual(e.code, code)
        self.assertTrue(all(ravelo.message(code) for code in range(27)))

    def test_a_file_that_gives_no_rows_or_an_impossible_time_is_refused(self):
        fake = self.path("passwd_1.Q38")
        shutil.copy("/etc/passwd", fake)
        skipped = write_logger(self.path("S_1.Q38"), [((2024, 5, 1, 10, 0, 0), 127, 0, 1)])
        for logger in (fake, skipped):
            with self.assertRaises(ravelo.LoggerFileError) as e:
                ravelo.convert(logger, self.path("out"))
            self.assertIn("no records converted", str(e.exception))
            self.assertIn(logger, str(e.exception))
        r = subprocess.run([sys.executable, "-m", "ravelo", "convert", fake, "--out",
                            self.path("out")], capture_output=True,
                           env=dict(os.environ, PYTHONPATH=PACKAGE_ROOT))
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(b"no records converted", r.stderr)
        # A time that cannot exist: refused before anything is written. A
        # record of mode 127 is skipped, whatever its time.
        good = ((2024, 5, 1, 10, 0, 0), 0, 0, 1)
        for bad, time in ((((2024, 0, 1, 10, 0, 0), 0, 0, 1), "2024-00-01 10:00:00"),
                          (((2024, 13, 1, 10, 0, 0), 0, 0, 1), "2024-13-01 10:00:00"),
                          (((2023, 2, 29, 10, 0, 0), 0, 0, 1), "2023-02-29 10:00:00"),
                          (((2100, 2, 29, 10, 0, 0), 0, 0, 1), "2100-02-29 10:00:00"),
                          (((2024, 4, 31, 10, 0, 0), 0, 0, 1), "2024-04-31 10:00:00"),
                          (((2024, 5, 0, 10, 0, 0), 0, 0, 1), "2024-05-00 10:00:00"),
                          (((2024, 5, 1, 24, 0, 0), 0, 0, 1), "2024-05-01 24:00:00"),
                          (((2024, 5, 1, 10, 60, 0), 0, 0, 1), "2024-05-01 10:60:00"),
                          (((2024, 5, 1, 10, 0, 60), 0, 0, 1), "2024-05-01 10:00:60")):
            logger = write_logger(self.path("J_1.Q38"), [((2024, 2, 29, 9, 0, 0), 127, 0, 1),
                                                         ((2024, 5, 0, 9, 0, 0), 127, 0, 1),
                                                         good, good, bad])
            with self.assertRaises(ravelo.LoggerFileError) as e:
                ravelo.convert(logger, self.path("junk"))
            self.assertEqual((e.exception.record, e.exception.time), (5, time))
            self.assertIn(f"record 5 has a time that cannot exist ({time})", str(e.exception))
            self.assertFalse(os.path.exists(self.path("junk")))
        leap = write_logger(self.path("L_1.Q38"), [((2024, 2, 29, 23, 59, 59), 0, 0, 1)])
        self.assertEqual(ravelo.convert(leap, self.path("out")).rows, 1)

    def test_a_batch_in_work_dir_goes_on_across_calls_and_processes(self):
        morning = write_logger(self.path("A_1.Q38"), [((2024, 5, 1, 10, 0, 0), 0, 0, 1)])
        noon = write_logger(self.path("A_2.Q38"), [((2024, 5, 1, 12, 0, 0), 0, 0, 2)])
        work = self.path("work")
        os.mkdir(work)
        # Each call in its own process: the batch's INI files must outlive it.
        for logger in (morning, noon):
            code = ("import sys, ravelo; ravelo.convert(sys.argv[1], sys.argv[2], replace=True, "
                    "work_dir=sys.argv[3])")
            r = subprocess.run([sys.executable, "-c", code, logger, self.path("batch"), work],
                               capture_output=True, env=dict(os.environ, PYTHONPATH=PACKAGE_ROOT))
            self.assertEqual(r.returncode, 0, r.stderr)
        rows = [row.time.hour for row in ravelo.iter_rows(self.path("batch"))]
        self.assertEqual(rows, [10, 12])  # the second call merged: same batch
        self.assertTrue(os.listdir(work))
        # Without work_dir every call is a batch of its own: replace replaces.
        for logger in (morning, noon):
            ravelo.convert(logger, self.path("single"), replace=True)
        self.assertEqual([row.time.hour for row in ravelo.iter_rows(self.path("single"))], [12])

    def test_every_spelling_of_dest_and_work_dir_is_one_folder(self):
        morning = write_logger(self.path("S_1.Q38"), [((2024, 5, 1, 10, 0, 0), 0, 0, 1)])
        noon = write_logger(self.path("S_2.Q38"), [((2024, 5, 1, 12, 0, 0), 0, 0, 2)])
        here = os.getcwd()
        os.chdir(self.tmp)
        try:
            os.symlink("B", "link")
            for dest in (self.path("B"), "B/", "./B/.", "link", b"B", pathlib.Path("B"), "."):
                with self.subTest(dest=dest):
                    shutil.rmtree("B", ignore_errors=True)
                    shutil.rmtree("WB", ignore_errors=True)
                    os.mkdir("WB")
                    first = ravelo.convert(morning, "B", replace=True, work_dir="WB")
                    work = self.path("WB") if dest != "." else "../WB"
                    if dest == ".":
                        os.chdir("B")  # the same folder from elsewhere
                    try:
                        second = ravelo.convert(pathlib.Path(noon), dest, replace=True,
                                                work_dir=work)
                    finally:
                        os.chdir(self.tmp)
                    self.assertEqual([r.time.hour for r in ravelo.iter_rows("B")], [10, 12])
                    self.assertEqual((first.rows, first.merged, second.rows, second.created),
                                     (1, (), 1, ()))
                    self.assertEqual(second.merged, first.created)
                    self.assertEqual(first.created,
                                     (self.path("B", "CSV", "Day", "S_20240501.CSV"),))
            # A path that leads through a folder with a backslash in its name.
            os.mkdir("x\\y")
            os.symlink("x\\y", "bs")
            for dest, work in (("bs", None), ("B", "bs")):
                with self.assertRaises(ValueError) as e:
                    ravelo.convert(morning, dest, work_dir=work)
                self.assertIn("x\\\\y", str(e.exception))
            self.assertEqual(os.listdir("x\\y"), [])
            # A NUL byte ends no path early.
            for args in (("S_1.Q38\0x", "N"), ("S_1.Q38", "N\0x"), ("S_1.Q38", b"N\0")):
                with self.assertRaises(ValueError):
                    ravelo.convert(*args)
            with self.assertRaises(ValueError):
                ravelo.convert(morning, "N", work_dir="WB\0x")
            self.assertFalse(os.path.exists("N"))
        finally:
            os.chdir(here)

    def test_conversions_into_one_folder_take_turns_by_its_lock_file(self):
        logger = write_logger(self.path("S_1.Q38"), [((2024, 5, 1, 10, 0, 0), 0, 0, 1)])
        dest, work = self.path("D"), self.path("W")
        os.mkdir(work)
        ravelo.convert(logger, dest, work_dir=dest, wait=False)  # one folder: locked once
        for folder in (dest, work):
            fd = os.open(os.path.join(folder, ".ravelo.lock"), os.O_RDWR | os.O_CREAT, 0o600)
            try:
                fcntl.flock(fd, fcntl.LOCK_EX)  # as another conversion holds it
                with self.assertRaises(BlockingIOError) as e:
                    ravelo.convert(logger, dest, work_dir=work, wait=False)
                self.assertIn(folder, str(e.exception))
                # Another process waits, says so, and converts when it is free.
                p = subprocess.Popen([sys.executable, "-m", "ravelo", "convert", logger, "--out",
                                      dest, "--work-dir", work, "--replace"],
                                     stderr=subprocess.PIPE,
                                     env=dict(os.environ, PYTHONPATH=PACKAGE_ROOT))
                line = p.stderr.readline()
                self.assertIn(f"waiting for {folder}: another conversion is writing there",
                              line.decode())
                self.assertIsNone(p.poll())
            finally:
                os.close(fd)
            p.communicate(timeout=60)
            self.assertEqual(p.returncode, 0)
        # A lock file that others could open, or that is no file, is refused.
        lock = os.path.join(dest, ".ravelo.lock")
        os.chmod(lock, 0o644)
        with self.assertRaises(PermissionError) as e:
            ravelo.convert(logger, dest)
        self.assertIn(lock, str(e.exception))
        os.remove(lock)
        os.symlink(self.path("elsewhere"), lock)
        with self.assertRaises(OSError) as e:
            ravelo.convert(logger, dest)
        self.assertIn(f"the lock file {lock} is not a regular file", str(e.exception))
        self.assertFalse(os.path.exists(self.path("elsewhere")))

    def test_batch_folders_of_killed_runs_are_removed_and_no_other(self):
        temp = self.path("tmp")
        os.mkdir(temp)
        env = dict(os.environ, PYTHONPATH=PACKAGE_ROOT, TMPDIR=temp)
        # A process that dies in a conversion leaves its batch folder.
        code = ("import os, ravelo._library as l; f = l._make_batch_folder(); "
                "open(os.path.join(f, b'MakeCSVExecAttrDay01_01.ini'), 'w').close(); "
                "print(os.fsdecode(f)); os._exit(9)")
        r = subprocess.run([sys.executable, "-c", code], capture_output=True, env=env)
        left = r.stdout.decode().strip()
        self.assertRegex(os.path.basename(left), r"\Aravelo-\d+-[A-Za-z0-9]{6}\Z")
        with open(os.path.join(left, ".ravelo-batch"), "rb") as f:
            self.assertEqual(f.read(), b"ravelo batch folder\n")
        self.assertEqual(os.stat(left).st_mode & 0o777, 0o700)
        dead = int(os.path.basename(left).split("-")[1])
        # Folders that only look like one: no marker, or a process that lives.
        planted = [os.path.join(temp, f"ravelo-{dead}-batch1"),
                   os.path.join(temp, f"ravelo-{os.getppid()}-keep01")]
        for folder in planted:
            os.mkdir(folder)
            open(os.path.join(folder, "MakeCSVExecAttrDay01_01.ini"), "w").close()
        shutil.copy(os.path.join(left, ".ravelo-batch"), planted[1])
        logger = write_logger(self.path("S_1.Q38"), [((2024, 5, 1, 10, 0, 0), 0, 0, 1)])
        saved = os.environ.get("TMPDIR")
        os.environ["TMPDIR"] = temp
        try:
            ravelo.convert(logger, self.path("out"))
            r = subprocess.run([sys.executable, "-m", "ravelo", "convert", logger, "--out",
                                self.path("out")], capture_output=True, env=env)
            self.assertEqual(r.returncode, 0, r.stderr)
        finally:
            if saved is None:
                del os.environ["TMPDIR"]
            else:
                os.environ["TMPDIR"] = saved
        self.assertEqual(sorted(os.listdir(temp)), sorted(os.path.basename(p) for p in planted))
        for folder in planted:
            self.assertTrue(os.listdir(folder))

    def export(self, *sources):
        r = self.cli("export", *sources)
        self.assertEqual(r.returncode, 0, r.stderr)
        return list(csv.reader(io.StringIO(r.stdout.decode("utf-8"))))

    def test_iter_rows_gives_the_rows_that_export_writes(self):
        out = self.path("out")
        ravelo.convert(os.path.join(SAMPLES, "STATION_A1.Q38"), out)
        ravelo.convert(os.path.join(SAMPLES, "STATION_A1_2.Q38"), out, midnight_as_24=True)
        hand = self.path("hand.csv")  # LF line ends, no unit line, a quote, a name twice
        with open(hand, "wb") as f:
            f.write(INTRO.replace(b"\r\n", b"\n") +
                    "date,time,風向,風向\n2024/06/09,10:00:00,北\"b,  7\n"
                    "2024/06/09,24:00:00,,-0003.50\n".encode("cp932"))
        table = self.export(out, hand)
        rows = list(ravelo.iter_rows(out, hand))
        self.assertEqual(rows_of_table(table), [(r.time.isoformat(), r.values) for r in rows])
        self.assertEqual(rows[-1].values, {"風向 #2": -3.5})
        self.assertEqual(rows[-1].time.isoformat(), "2024-06-10T00:00:00")
        # bytes and path objects name sources as well as str
        self.assertEqual(list(ravelo.iter_rows(os.fsencode(out), pathlib.Path(hand))), rows)
        with self.assertRaises(ValueError):
            list(ravelo.iter_rows(out + "\0x"))

    def reading(self, how, path):
        """('rows', [(time, values)], columns) or ('refused', line, what)."""
        if how == "export":
            r = self.cli("export", path)
            if r.returncode == 0:
                table = list(csv.reader(io.StringIO(r.stdout.decode("utf-8"))))
                rows = rows_of_table(table)
                return ("rows", rows, table[0][1:] if rows else [])  # rows show columns
            self.assertEqual(r.returncode, 1, r.stderr)
            m = re.search(re.escape(os.fsencode(path)) + rb": (?:line (\d+): )?(.*)\n", r.stderr)
            return ("refused", int(m.group(1)) if m.group(1) else None, m.group(2).decode())
        try:
            rows = list(ravelo.iter_rows(path))
        except ravelo.SourceError as e:
            return ("refused", e.line or None, e.what)
        columns = []
        for row in rows:
            columns += [name for name in row.values if name not in columns]
        return ("rows", [(row.time.isoformat(), row.values) for row in rows], columns)

    def test_export_and_iter_rows_read_a_csv_file_one_way(self):
        head = "date,time,電圧,平均風向\r\n,,mV,\r\n".encode("cp932")
        one = [("2024-05-01T10:00:00", {"電圧 [mV]": 1.0, "平均風向": "WSW"})]
        good = INTRO + head + b"2024/05/01,10:00:00,+0001.0,WSW\r\n"
        long_memo = b"ZELKA-Q38\r\n" + b"m" * (ravelo_table.LINE_LIMIT - 2) + b"\r\n"
        memos_as_headers = b"ZELKA-Q38\r\nM\r\ndate,time,X\r\n1\r\ndate,time\r\n\r\n\r\n"
        cases = [
            # (what, the file's bytes, the rows or (line, why both refuse); None: only alike)
            ("library file", good, one),
            ("memo lines that look like headers", memos_as_headers + good[len(INTRO):], one),
            ("a header line among lines 1..7", head + b"2024/05/01,10:00:00,+0001.0,WSW\r\n",
             (3, "no 'date,time' header line in the file (lines 1 to 7 are the title and the "
                 "six memo lines, never a header line)")),
            ("a data line as line 7", INTRO[:-2] + b"2024/05/01,10:00:00\r\n" + head, []),
            ("two columns of one label", INTRO + b"date,time,T,T,T [C] #2\r\n,,C,C,\r\n",
             (9, "two columns of the section are named 'T [C] #2'")),
            ("control byte in a header line", INTRO + b"date,time,T\x01\r\n,,C\r\n",
             (9, "the header or unit line is not code page 932 text")),
            ("year 0000", INTRO + head + b"0000/05/01,10:00:00,+0001.0,W\r\n",
             (10, "the date or time cannot be read")),
            ("past year 9999", INTRO + head + b"9999/12/31,24:00:00,+0001.0,W\r\n",
             (10, "the date or time cannot be read")),
            ("24:00:00", INTRO + head + b"2024/02/29,24:00:00,+0001.0,W\r\n",
             [("2024-03-01T00:00:00", {"電圧 [mV]": 1.0, "平均風向": "W"})]),
            ("a shape export does not know", INTRO + head + b"2024/5/1,10:00:00,1,W\r\n",
             (10, "neither a header, a unit nor a data line")),
            ("more fields", INTRO + head + b"2024/05/01,10:00:00,1,W,2\r\n",
             (10, "the data line has more fields than its header line")),
            ("control byte", INTRO + head + b"2024/05/01,10:00:00,1,W\x1bX\r\n",
             (10, "a field is not code page 932 text")),
        ]
        for byte in (0x80, 0xA0, 0xFD, 0xFE, 0xFF):
            cases += [
                (f"0x{byte:02X} in a field", INTRO + head + b"2024/05/01,10:00:00,1,\x82\xa0" +
                 bytes([byte]) + b"\r\n", (10, "a field is not code page 932 text")),
                (f"0x{byte:02X} in a header line", INTRO + b"date,time,T" + bytes([byte]) +
                 b"\r\n,,C\r\n", (9, "the header or unit line is not code page 932 text")),
                (f"0x{byte:02X} in a unit line", INTRO + b"date,time,T\r\n,,C" + bytes([byte]) +
                 b"\r\n", (9, "the header or unit line is not code page 932 text")),
            ]
        cases += [
            ("a line of 1 MiB less one byte", long_memo + INTRO[15:] + good[len(INTRO):], one),
            ("a line of 1 MiB", long_memo[:-2] + b"m\r\n" + good,
             (2, "the line is longer than 1 MiB")),
            ("3 GiB without a line end", 3 << 30, (1, "the line is longer than 1 MiB")),
            ("a line of 1 MiB less one byte ending in CR", b"ZELKA-Q38\r" +
             b"m" * (ravelo_table.LINE_LIMIT - 2) + b"\r" + good[11:].replace(b"\r\n", b"\r"),
             one),
            ("a line of 1 MiB ending in CR", b"ZELKA-Q38\r" +
             b"m" * (ravelo_table.LINE_LIMIT - 1) + b"\r", (2, "the line is longer than 1 MiB")),
            ("CR line ends", good.replace(b"\r\n", b"\r"), one),
            ("LF line ends", good.replace(b"\r\n", b"\n"), one),
            ("a CR in a data line", INTRO + head + b"2024/05/01,10:00:00,1\r,W\r\n",
             (11, "neither a header, a unit nor a data line")),
            ("no line end at the end", good[:-2], one),
            ("an empty file", b"", (None, "no 'date,time' header line in the file")),
        ]
        for what, data, expected in cases:
            with self.subTest(what):
                path = self.path("case.CSV")
                with open(path, "wb") as f:
                    if isinstance(data, int):
                        f.truncate(data)  # sparse: no disk taken
                    else:
                        f.write(data)
                theirs, mine = self.reading("export", path), self.reading("iter_rows", path)
                os.remove(path)
                self.assertEqual(mine, theirs)
                if isinstance(expected, list):
                    self.assertEqual(mine[:2], ("rows", expected))
                    if expected:
                        self.assertEqual(mine[2], list(expected[0][1]))
                elif expected is not None:
                    self.assertEqual(mine, ("refused",) + expected)

    def test_to_pandas(self):
        try:
            import pandas
        except ImportError:
            self.skipTest("pandas is not installed (Debian: python3-pandas)")
        out = self.path("out")
        ravelo.convert(os.path.join(SAMPLES, "STATION_A1.Q38"), out)
        frame = ravelo.to_pandas(out)
        table = self.export(out)
        self.assertEqual(list(frame.columns), table[0][1:])
        self.assertEqual(len(frame), len(table) - 1)
        self.assertEqual(frame.index.name, "time")
        self.assertTrue(pandas.api.types.is_datetime64_any_dtype(frame.index))
        self.assertEqual(frame.index[1], pandas.Timestamp("2024-05-20 00:10:00"))
        self.assertEqual(frame.iloc[0, 0], float(table[1][1]))
        self.assertEqual(frame["平均風向"].iloc[0], table[1][table[0].index("平均風向")])

    def test_pip_installs_the_package_offline(self):
        if subprocess.run([sys.executable, "-m", "pip", "--version"],
                          capture_output=True).returncode != 0:
            self.skipTest("pip is not installed (Debian: python3-pip)")
        source = self.path("src")
        shutil.copytree(PACKAGE_ROOT, source, ignore=shutil.ignore_patterns(
            "tests", "build", "*.egg-info", "__pycache__", "libravelo.so*"))
        shutil.copy(LIBRARY, os.path.join(source, "ravelo", "libravelo.so"))
        target = self.path("site")
        env = {k: v for k, v in os.environ.items() if not k.startswith("PIP_")}
        env["PIP_CONFIG_FILE"] = os.devnull
        r = subprocess.run([sys.executable, "-m", "pip", "install", "--no-index", "--quiet",
                            "--disable-pip-version-check", "--target", target, source],
                           capture_output=True, env=env, timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
        # The installed package finds the library beside it.
        env = {k: v for k, v in os.environ.items() if k != "RAVELO_LIBRARY"}
        env["PYTHONPATH"] = target
        code = ("import ravelo, sys; ravelo.convert(sys.argv[1], sys.argv[2]);"
                "print(ravelo.library_path()); print(sum(1 for _ in ravelo.iter_rows(sys.argv[2])))")
        r = subprocess.run([sys.executable, "-c", code, os.path.join(SAMPLES, "STATION_A1.Q38"),
                            self.path("out")], capture_output=True, env=env, cwd=self.tmp)
        self.assertEqual(r.returncode, 0, r.stderr)
        where, count = r.stdout.decode().split()
        self.assertEqual(os.path.dirname(where), os.path.join(target, "ravelo"))
        self.assertEqual(int(count), 2017)


if __name__ == "__main__":
    unittest.main()
