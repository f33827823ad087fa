"""The Ravelo library through ctypes, and one conversion as `ravelo convert`
does it."""
import ctypes
import dataclasses
import errno
import fcntl
import os
import re
import secrets
import stat
import struct
import sys
import threading
import typing
import warnings

# English descriptions of the result codes (the library's own texts are
# Japanese, in code page 932).
_DESCRIPTIONS = (
    "no error",
    "end of an input file",
    "no logger file path was given",
    "the logger file does not exist",
    "the file does not have the .Q38 extension",
    "no destination folder path was given",
    "the destination folder does not exist",
    "the kind of CSV file is out of range",
    "the CSV file creation method is out of range",
    "the logger file cannot be opened",
    "the CSV folder below the destination folder cannot be created",
    "the Day or Month folder below the CSV folder cannot be created",
    "the logger file's id and size fields cannot be read",
    "the logger file's memo fields cannot be reached",
    "the logger file's memo fields cannot be read",
    "the start of the logger file's records cannot be reached",
    "the logger file's records cannot be read",
    "a record's channel number is out of range",
    "a record's recording mode is out of range",
    "a record's recording mode is not defined",
    "a record's value is out of range",
    "writing to a file failed",
    "a CSV file cannot be opened",
    "the temporary file cannot be opened",
    "a file cannot be deleted",
    "a file cannot be renamed",
    "a line of a CSV file cannot be read",
)

_NAME = "libravelo.so"


class ConversionError(Exception):
    """A conversion failed: `code` is the library's result code, `message` its
    text (Unicode), `description` the same in English."""

    def __init__(self, code, message, description, logger=None):
        self.code = code
        self.message = message
        self.description = description
        self.logger = logger
        where = f"{logger}: " if logger is not None else ""
        if code is None:
            super().__init__(f"{where}{description}")
        else:
            super().__init__(f"{where}code {code}: {description} ({message})")


class LoggerFileError(ConversionError):
    """A logger file that is refused before the library is given it, or that
    gave no rows: `code` is None, `description` says why; `record` (from 1)
    and `time` name the first record whose time cannot exist, if that is
    why."""

    def __init__(self, logger, description, record=None, time=None):
        super().__init__(None, description, description, logger)
        self.record = record
        self.time = time


@dataclasses.dataclass(frozen=True)
class ConversionResult:
    """What one convert() did: the rows read from the logger file, and the
    CSV files (paths) it created and those it merged into or replaced."""
    logger: str
    rows: int
    created: typing.Tuple[str, ...]
    merged: typing.Tuple[str, ...]


def _candidates():
    here = os.path.dirname(os.path.abspath(__file__))
    env = os.environ.get("RAVELO_LIBRARY")
    if env:
        return [env], True
    source = os.path.dirname(os.path.dirname(here))  # python/ravelo -> the source tree
    return [os.path.join(here, _NAME), os.path.join(os.path.dirname(here), _NAME),
            os.path.join(source, "build", _NAME)], False


_lock = threading.Lock()  # the library holds one converter: one call at a time
_lib = None


def library_path():
    """The path of the library that is (or would be) loaded."""
    paths, forced = _candidates()
    if forced:
        return paths[0]
    for path in paths:
        if os.path.exists(path):
            return path
    raise OSError("libravelo.so not found: set RAVELO_LIBRARY to its path, or copy it beside "
                  "the package (looked at: " + ", ".join(paths) + ")")


def _load():
    global _lib
    if _lib is None:
        lib = ctypes.CDLL(library_path())
        lib.RaveloInit.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]
        lib.RaveloInit.restype = None
        lib.RaveloINIFileDelete.argtypes = []
        lib.RaveloINIFileDelete.restype = ctypes.c_int32
        lib.RaveloProc.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32,
                                   ctypes.c_int32, ctypes.c_int32]
        lib.RaveloProc.restype = ctypes.c_int32
        lib.RaveloErrMsgGet.argtypes = [ctypes.c_int32, ctypes.c_char_p]
        lib.RaveloErrMsgGet.restype = ctypes.c_int32
        _lib = lib
    return _lib


def message(code):
    """The library's message text of a result code, as Unicode ("" for a code
    it has no text for)."""
    lib = _load()
    buffer = ctypes.create_string_buffer(80)
    if lib.RaveloErrMsgGet(code, buffer) != 1:
        return ""
    return buffer.value.decode("cp932", errors="replace")


def _error(code, logger=None):
    description = _DESCRIPTIONS[code] if 0 <= code < len(_DESCRIPTIONS) else "unknown result"
    return ConversionError(code, message(code), description, logger)


def _path_bytes(path, what):
    """A path given as str, bytes or a path object, as the library's bytes."""
    data = os.fsencode(path)
    shown = os.fsdecode(data)
    if b"\0" in data:
        raise ValueError(f"the {what} path {shown!r} holds a NUL byte")
    if os.name != "nt" and b"\\" in data:
        # The library's paths are Windows paths: a backslash would be read as
        # a folder separator and lead to another file.
        raise ValueError(f"the {what} path {shown!r} contains a backslash")
    return data


def _real_folder(data, what):
    """The absolute path of a folder without '.', '..' or symbolic links, as
    the command line gives it to the library: every spelling of one folder
    meets the same INI entries."""
    real = os.path.realpath(data)
    if os.name != "nt" and b"\\" in real:
        raise ValueError(f"the {what} {os.fsdecode(data)!r} is {os.fsdecode(real)!r}, which "
                         "contains a backslash: the library would read it as a folder separator")
    return real


# ---- The logger file, read before the library is given it ----------------------

_HEAD = 486 + 6 * 16  # the id and size fields and the six memo fields
_BLOCK = 1 << 16


def _days_in_month(year, month):
    if month == 2:
        return 29 if (year % 4 == 0 and year % 100 != 0) or year % 400 == 0 else 28
    return 30 if month in (4, 6, 9, 11) else 31


def _scan_logger(logger_bytes):
    """(rows, impossible) of a logger file as the library will read it: the
    timestamps of its records (mode 127 skipped), and (index from 1, time)
    of the first record whose time cannot exist, or None. (0, None) when the
    file cannot be read: the library says why."""
    try:
        fd = os.open(logger_bytes, os.O_RDONLY | os.O_CLOEXEC | os.O_NONBLOCK)
    except OSError:
        return 0, None
    with os.fdopen(fd, "rb", buffering=0) as f:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode):
            return 0, None
        head = f.read(_HEAD)
        if len(head) < _HEAD:
            return 0, None
        data_end, data_start = struct.unpack_from("<II", head, 2)
        if data_start >= 0x80000000:
            return 0, None  # the library cannot reach the records
        length = (data_end - data_start) & 0xFFFFFFFF
        present = min(length, max(st.st_size - data_start, 0))
        f.seek(data_start)
        rows = 0
        last = None
        days = {}
        index = 0
        left = present - present % 8
        while left > 0:
            block = f.read(min(_BLOCK, left))
            if not block:
                break
            block = block[:len(block) - len(block) % 8]
            left -= len(block)
            for (word,) in struct.iter_unpack(">Q", block):
                index += 1
                bits = word >> 24  # time and mode: 40 bits, big-endian
                if bits & 0x7F == 0x7F:
                    continue  # mode 127: skipped
                t = bits >> 7
                if t == last:
                    continue
                rows += 1
                last = t
                day = t >> 17
                ok = days.get(day)
                if ok is None:
                    year, month, mday = 2000 + (day >> 9), (day >> 5) & 15, day & 31
                    ok = days[day] = 1 <= month <= 12 and 1 <= mday <= _days_in_month(year, month)
                if not ok or (t >> 12) & 31 > 23 or (t >> 6) & 63 > 59 or t & 63 > 59:
                    time = (f"{2000 + (t >> 26):04d}-{(t >> 22) & 15:02d}-{(t >> 17) & 31:02d} "
                            f"{(t >> 12) & 31:02d}:{(t >> 6) & 63:02d}:{t & 63:02d}")
                    return rows, (index, time)
        return rows, None


# ---- Locks and batch folders, as the command line has them -----------------------

_LOCK_NAME = ".ravelo.lock"
_MARKER = ".ravelo-batch"
_BATCH_NAME = re.compile(r"ravelo-([0-9]+)-(.{6})\Z", re.S)
_own_batch_folders = set()  # made by this process: private to it, never locked


def _lock_folder(folder, wait):
    """Locks a folder for one conversion by its lock file (made if missing and
    kept), as `ravelo convert` does: the two take turns. Returns the open
    descriptor; closing it releases the lock."""
    path = os.path.join(folder, os.fsencode(_LOCK_NAME))
    shown = os.fsdecode(path)
    try:
        fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW | os.O_CLOEXEC, 0o600)
    except OSError as e:
        if e.errno in (errno.ELOOP, errno.EISDIR):
            raise OSError(e.errno, f"the lock file {shown} is not a regular file") from None
        raise OSError(e.errno, f"cannot open the lock file {shown}: {e.strerror}") from None
    try:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode):
            raise OSError(errno.EINVAL, f"the lock file {shown} is not a regular file")
        if st.st_uid != os.geteuid():
            raise PermissionError(errno.EPERM, f"the lock file {shown} belongs to another user")
        if st.st_mode & 0o077:
            raise PermissionError(errno.EPERM, f"the lock file {shown} can be opened by other "
                                  f"users (mode {stat.S_IMODE(st.st_mode):04o}, not 0600)")
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            if not wait:
                raise BlockingIOError(errno.EWOULDBLOCK, f"another conversion is writing into "
                                      f"{os.fsdecode(folder)}") from None
            print(f"ravelo: waiting for {os.fsdecode(folder)}: another conversion is writing "
                  "there", file=sys.stderr, flush=True)
            fcntl.flock(fd, fcntl.LOCK_EX)
        return fd
    except BaseException:
        os.close(fd)
        raise


def _temp_base():
    return os.fsencode(os.environ.get("TMPDIR") or "/tmp")


def _remove_dead_batch_folders(base):
    """Removes the batch folders of runs that were killed: only a folder named
    as _make_batch_folder names them, of a process that is gone, owned by this
    user and holding the marker file; only its INI files and the marker go."""
    try:
        base_fd = os.open(base, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    except OSError:
        return
    try:
        for name in os.listdir(base_fd):
            m = _BATCH_NAME.match(name)
            if m is None:
                continue
            pid = int(m.group(1))
            if pid <= 0 or pid == os.getpid():
                continue
            try:
                os.kill(pid, 0)
                continue  # alive
            except ProcessLookupError:
                pass
            except OSError:
                continue  # alive, another user's
            try:
                st = os.stat(name, dir_fd=base_fd, follow_symlinks=False)
                if not stat.S_ISDIR(st.st_mode) or st.st_uid != os.geteuid():
                    continue
                fd = os.open(name, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC,
                             dir_fd=base_fd)
            except OSError:
                continue
            try:
                marker = os.stat(_MARKER, dir_fd=fd, follow_symlinks=False)
                if not stat.S_ISREG(marker.st_mode) or marker.st_uid != os.geteuid():
                    continue
                for entry in os.listdir(fd):
                    if entry.startswith("MakeCSVExecAttr") and entry.endswith(".ini"):
                        os.unlink(entry, dir_fd=fd)
                os.unlink(_MARKER, dir_fd=fd)
            except OSError:
                continue
            finally:
                os.close(fd)
            try:
                os.rmdir(name, dir_fd=base_fd)  # fails, harmlessly, if anything else is left
            except OSError:
                pass
    finally:
        os.close(base_fd)


def _make_batch_folder():
    """A private batch folder $TMPDIR/ravelo-<pid>-XXXXXX (mode 0700) with its
    marker file, after removing those of killed runs, as `ravelo convert`
    does. Remove it with _remove_batch_folder()."""
    base = _real_folder(_temp_base(), "temporary folder (TMPDIR)")
    _remove_dead_batch_folders(base)
    letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
    for _ in range(1000):
        suffix = "".join(secrets.choice(letters) for _ in range(6))
        folder = os.path.join(base, os.fsencode(f"ravelo-{os.getpid()}-{suffix}"))
        try:
            os.mkdir(folder, 0o700)
        except FileExistsError:
            continue
        try:
            fd = os.open(os.path.join(folder, os.fsencode(_MARKER)),
                         os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC, 0o600)
            with os.fdopen(fd, "wb") as f:
                f.write(b"ravelo batch folder\n")
        except BaseException:
            os.rmdir(folder)
            raise
        _own_batch_folders.add(folder)
        return folder
    raise FileExistsError(errno.EEXIST, f"cannot make a work folder in {os.fsdecode(base)}")


def _remove_batch_folder(folder):
    """Removes a folder of _make_batch_folder() with the INI files in it."""
    folder = os.fsencode(folder)
    _own_batch_folders.discard(folder)
    for name in os.listdir(folder):
        if name.startswith(b"MakeCSVExecAttr") and name.endswith(b".ini"):
            os.unlink(os.path.join(folder, name))
    try:
        os.unlink(os.path.join(folder, os.fsencode(_MARKER)))
        os.rmdir(folder)
    except OSError as e:
        warnings.warn(f"cannot remove the work folder {os.fsdecode(folder)}: {e.strerror}")


def _vanished_folder():
    # A folder that exists nowhere: the library deletes the INI files of its
    # current work folder when it is unloaded, and a batch kept in work_dir
    # must outlive the process.
    return os.path.join(_temp_base(), os.fsencode(f"ravelo-gone-{secrets.token_hex(8)}"))


def _csv_files(folder):
    """The *.CSV files of a folder: name -> what tells a change."""
    files = {}
    try:
        entries = list(os.scandir(os.fsdecode(folder)))
    except OSError:
        return files
    for entry in entries:
        if not entry.name.endswith(".CSV"):
            continue
        try:
            st = entry.stat(follow_symlinks=False)
        except OSError:
            continue
        if stat.S_ISREG(st.st_mode):
            files[entry.name] = (st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
    return files


def convert(logger, dest, *, month=False, replace=False, direct=False, midnight_as_24=False,
            work_dir=None, id=1, wait=True):
    """Converts one logger file into CSV files below `dest` (made if missing),
    as `ravelo convert` does: day files (`month=True`: month files), merged
    into existing files unless `replace`; `direct` writes one file named
    after the logger file into `dest`. Without `work_dir` the conversion is a
    batch of its own; with it, the batch's INI files are kept there and the
    batch goes on from earlier conversions with the same folder and `id`.
    Paths are str, bytes or path objects; `dest` and `work_dir` are used
    without '.', '..' or symbolic links, however they are spelled.

    One conversion at a time per folder, shared with `ravelo convert`: while
    another holds `dest` or `work_dir`, this one waits (saying so on
    standard error), or with `wait=False` raises BlockingIOError.

    Returns a ConversionResult. Raises ConversionError on failure, and its
    LoggerFileError for a logger file with a record time that cannot exist
    (before anything is written) or that gave no rows."""
    logger_bytes = _path_bytes(logger, "logger file")
    logger_text = os.fsdecode(logger_bytes)
    dest_bytes = _path_bytes(dest, "destination")
    work_bytes = None if work_dir is None else _path_bytes(work_dir, "work folder")
    if not isinstance(id, int) or isinstance(id, bool) or not 0 <= id <= 0x7FFFFFFF:
        raise ValueError(f"id must be an integer 0..2147483647, not {id!r}")
    rows, impossible = _scan_logger(logger_bytes)
    if impossible is not None:
        index, time = impossible
        raise LoggerFileError(logger_text, f"record {index} has a time that cannot exist "
                              f"({time}): is this a logger file? Nothing was converted",
                              index, time)
    os.makedirs(dest_bytes, exist_ok=True)
    dest_real = _real_folder(dest_bytes, "destination")
    work_real = None
    if work_bytes is not None:
        if not os.path.isdir(work_bytes):
            raise FileNotFoundError(f"the work folder {os.fsdecode(work_bytes)} does not exist")
        work_real = _real_folder(work_bytes, "work folder")
    output = dest_real if direct else os.path.join(dest_real, b"CSV", b"Month" if month else b"Day")
    day_control = 1 if midnight_as_24 else 0
    with _lock:
        lib = _load()
        locks = []
        private = None
        try:
            locks.append(_lock_folder(dest_real, wait))
            if (work_real is not None and work_real not in _own_batch_folders
                    and not os.path.samefile(work_real, dest_real)):
                locks.append(_lock_folder(work_real, wait))
            if work_real is None:
                private = _make_batch_folder()
            lib.RaveloInit(work_real or private, id, day_control)
            if private is not None:
                r = lib.RaveloINIFileDelete()
                if r != 0:
                    raise _error(r)
            before = _csv_files(output)
            r = lib.RaveloProc(logger_bytes, dest_real, 1 if month else 0, 0 if replace else 1,
                               1 if direct else 0)
            after = _csv_files(output)
            changed = sorted(name for name, state in after.items() if before.get(name) != state)
            if r != 0:
                raise _error(r, logger_text)
            if not changed or rows == 0:
                raise LoggerFileError(logger_text, "no records converted: is this a logger file?")
            folder = os.fsdecode(output)
            return ConversionResult(
                logger_text, rows,
                tuple(os.path.join(folder, n) for n in changed if n not in before),
                tuple(os.path.join(folder, n) for n in changed if n in before))
        finally:
            if private is not None:
                lib.RaveloINIFileDelete()
                _remove_batch_folder(private)
            lib.RaveloInit(_vanished_folder(), id, day_control)
            for fd in reversed(locks):
                os.close(fd)
