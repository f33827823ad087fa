"""The rows of CSV files written by the library, read as `ravelo export`
reads them."""
import datetime
import os
import re
from typing import NamedTuple, Union

_DATA_TIME = re.compile(rb"(\d{4})/(\d\d)/(\d\d),(\d\d):(\d\d):(\d\d)\Z")
_NUMBER = re.compile(r" *[+-]?[0-9]+(\.[0-9]+)? *\Z")
# Python's cp932 codec reads the bytes 0x80, 0xA0 and 0xFD..0xFF alone as
# characters; they are no characters of code page 932 (nor for the system's
# converter that export uses), so a text holding one is refused.
_NOT_CP932 = re.compile("[\x80\uf8f0-\uf8f3]")
_CONTROL = re.compile(rb"[\x00-\x1f\x7f]")
# What is read of a file at a time, as export reads it: a line and its line
# end (and, after a CR, the byte that tells whether an LF follows) must fit.
LINE_LIMIT = 1 << 20
_LINE_END = re.compile(rb"\r\n|\r|\n")
# Lines 1 to 7 are the title and the six memo lines, whatever they hold.
_INTRO_LINES = 7


class Row(NamedTuple):
    """One data line: its time and its values by column name (a column its
    line leaves empty is missing)."""
    time: datetime.datetime
    values: "dict[str, Union[float, str]]"


class SourceError(ValueError):
    """A file that is not a CSV file of the library: `path` and `line` (from
    1) say where."""

    def __init__(self, path, line, what):
        self.path = path
        self.line = line
        self.what = what
        super().__init__(f"{path}: line {line}: {what}" if line else f"{path}: {what}")


def source_files(*sources):
    """The files of the sources in the order export reads them: a file as
    given, a folder's *.CSV files below it in the order of their paths."""
    files = []
    for source in sources:
        source = os.fsdecode(source)  # str, bytes or a path object
        if "\0" in source:
            raise ValueError(f"the path {source!r} holds a NUL byte")
        if os.path.isfile(source):
            files.append(source)
        elif os.path.isdir(source):
            found = []
            for folder, _, names in os.walk(source):
                found += [os.path.join(folder, n) for n in names
                          if n.endswith(".CSV") and os.path.isfile(os.path.join(folder, n))]
            if not found:
                raise FileNotFoundError(f"{source}: no *.CSV files below this folder")
            files += sorted(found, key=os.fsencode)
        elif os.path.exists(source):
            raise OSError(f"{source}: neither a file nor a folder")
        else:
            raise FileNotFoundError(f"{source}: no such file or folder")
    return files


def _is_header(line):
    return line.startswith(b"date,time")


def _has_data_shape(line):
    return len(line) >= 19 and line.find(b":", 0, 14) == 13


def _decode(data):
    """Code page 932 bytes as text; UnicodeDecodeError for what is not."""
    text = data.decode("cp932")
    bad = _NOT_CP932.search(text)
    if bad is not None:
        raise UnicodeDecodeError("cp932", data, bad.start(), bad.start() + 1,
                                 "not a character of code page 932")
    return text


class _SameLabel(Exception):
    pass


def _columns(header, units):
    """The column names (as export names them) of a header section. Raises
    UnicodeDecodeError for a line that is not text, _SameLabel(label) when
    two columns would get one name (here or in export's long form)."""
    if _CONTROL.search(header) or _CONTROL.search(units):
        raise UnicodeDecodeError("cp932", header + units, 0, 1, "a control byte")
    names = _decode(header).split(",")
    unit_fields = _decode(units).split(",") if units else []
    seen = {}
    columns = []
    labels, long_labels = set(), set()
    for i in range(2, len(names)):
        name = names[i]
        unit = unit_fields[i] if i < len(unit_fields) else ""
        count = seen.get((name, unit), 0) + 1
        seen[(name, unit)] = count
        suffix = f" #{count}" if count > 1 else ""
        label = (f"{name} [{unit}]" if unit else name) + suffix
        if label in labels:
            raise _SameLabel(label)
        if (name + suffix, unit) in long_labels:
            raise _SameLabel(f"{name}{suffix} [{unit}]" if unit else name + suffix)
        labels.add(label)
        long_labels.add((name + suffix, unit))
        columns.append(label)
    return columns


def _time(line):
    m = _DATA_TIME.match(line[:19])
    if m is None:
        return None
    year, month, day, hour, minute, second = (int(g) for g in m.groups())
    try:
        if hour == 24 and minute == 0 and second == 0:
            return datetime.datetime(year, month, day) + datetime.timedelta(days=1)
        return datetime.datetime(year, month, day, hour, minute, second)
    except (ValueError, OverflowError):
        return None


def _value(field):
    """A field's value: a float for a number, a text as it stands; None for
    an empty field; raises ValueError for what is not text."""
    if field == b"":
        return None
    text = _decode(field)
    return float(text) if _NUMBER.match(text) else _text(text)


def _text(text):
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in text):
        raise ValueError("control character")
    return text


def _lines(path, f):
    """The lines of a file without their line ends (LF, CR LF or a CR alone),
    read as export reads them: through at most LINE_LIMIT bytes at a time."""
    buffer = b""
    at = 0
    end = False
    number = 0
    while True:
        m = _LINE_END.search(buffer, at)
        # A CR at the end of what is read may be followed by an LF.
        if m is not None and (m.end() < len(buffer) or end or m.group() != b"\r"):
            number += 1
            yield number, buffer[at:m.start()]
            at = m.end()
            continue
        if end:
            if at < len(buffer):
                yield number + 1, buffer[at:]  # a last line without a line end
            return
        if at == 0 and len(buffer) == LINE_LIMIT:
            raise SourceError(path, number + 1, "the line is longer than 1 MiB")
        buffer = buffer[at:]
        at = 0
        more = f.read(LINE_LIMIT - len(buffer))
        if not more:
            end = True
        buffer += more


def _file_rows(path):
    columns = None
    header = None
    intro_header = False  # a 'date,time' line among the title and memo lines
    with open(path, "rb") as f:
        number = 0
        for number, line in _lines(path, f):
            if number <= _INTRO_LINES:
                # The title and the memo lines, taken by their position: a
                # memo "date,time,X" is no header line.
                intro_header = intro_header or _is_header(line)
                continue
            if _is_header(line):
                if header is not None:
                    columns = _section(path, number - 1, header, b"")
                header = line
                continue
            data_shape = _has_data_shape(line)
            if header is not None:
                columns = _section(path, number, header, b"" if data_shape else line)
                header = None
                if not data_shape:
                    continue
            if not line:
                continue
            if not data_shape:
                if columns is None:
                    continue  # more lines before the first header line
                raise SourceError(path, number, "neither a header, a unit nor a data line")
            if columns is None:
                raise SourceError(path, number, "a data line before any 'date,time' header line")
            time = _time(line)
            if time is None or (len(line) > 19 and line[19:20] != b","):
                raise SourceError(path, number, "the date or time cannot be read")
            fields = line[20:].split(b",") if len(line) > 19 else []
            if len(fields) > len(columns):
                raise SourceError(path, number, "the data line has more fields than its header line")
            values = {}
            try:
                if line.isascii():  # as the library writes them: numbers and compass points
                    for name, field in zip(columns, line[20:].decode("ascii").split(",")):
                        if field:
                            values[name] = float(field) if _NUMBER.match(field) else _text(field)
                else:
                    for name, field in zip(columns, fields):
                        value = _value(field)
                        if value is not None:
                            values[name] = value
            except ValueError:
                raise SourceError(path, number, "a field is not code page 932 text") from None
            yield Row(time, values)
        if header is not None:
            columns = _section(path, number, header, b"")
        if columns is None:
            raise SourceError(path, number, "no 'date,time' header line in the file" + (
                " (lines 1 to 7 are the title and the six memo lines, never a header line)"
                if intro_header else ""))


def _section(path, number, header, units):
    try:
        return _columns(header, units)
    except UnicodeDecodeError:
        raise SourceError(path, number,
                          "the header or unit line is not code page 932 text") from None
    except _SameLabel as e:
        raise SourceError(path, number,
                          f"two columns of the section are named '{e.args[0]}'") from None


def iter_rows(*sources):
    """The rows of CSV files written by the library (files, or folders of
    them), in the order `ravelo export` writes them, as Row(time, values)."""
    for path in source_files(*sources):
        yield from _file_rows(path)


def to_pandas(*sources):
    """The rows of the sources as a pandas DataFrame indexed by time (columns
    in order of first appearance, NaN where a row has no value)."""
    try:
        import pandas
    except ImportError as e:
        raise ImportError("ravelo.to_pandas needs pandas (Debian: apt-get install "
                          "python3-pandas); ravelo.iter_rows works without it") from e
    times = []
    records = []
    for row in iter_rows(*sources):
        times.append(row.time)
        records.append(row.values)
    index = pandas.DatetimeIndex(times, name="time")
    return pandas.DataFrame.from_records(records, index=index) if records else \
        pandas.DataFrame(index=index)
