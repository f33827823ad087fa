"""The Ravelo library through ctypes, and one conversion as `ravelo convert`
does it."""
import ctypes
import os
import shutil
import tempfile
import threading

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
        super().__init__(f"{where}code {code}: {description} ({message})")


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
    data = os.fsencode(path)
    if os.name != "nt" and b"\\" in data:
        # The library's paths are Windows paths: a backslash would be read as
        # a folder separator and lead to another file.
        raise ValueError(f"the {what} path {path!r} contains a backslash")
    return data


def _vanished_folder():
    # A folder that exists nowhere: the library deletes the INI files of its
    # current work folder when it is unloaded, and a batch kept in work_dir
    # must outlive the process.
    name = tempfile.mkdtemp(prefix="ravelo-gone-")
    os.rmdir(name)
    return os.fsencode(name)


def convert(logger, dest, *, month=False, replace=False, direct=False, midnight_as_24=False,
            work_dir=None, id=1):
    """Converts one logger file into CSV files below `dest` (made if missing),
    as `ravelo convert` does: day files (`month=True`: month files), merged
    into existing files unless `replace`; `direct` writes one file named
    after the logger file into `dest`. Without `work_dir` the conversion is a
    batch of its own; with it, the batch's INI files are kept there and the
    batch goes on from earlier conversions with the same folder and `id`.
    Raises ConversionError on failure."""
    logger_bytes = _path_bytes(logger, "logger file")
    dest_bytes = _path_bytes(dest, "destination")
    if not isinstance(id, int) or isinstance(id, bool) or not 0 <= id <= 0x7FFFFFFF:
        raise ValueError(f"id must be an integer 0..2147483647, not {id!r}")
    os.makedirs(dest, exist_ok=True)
    day_control = 1 if midnight_as_24 else 0
    with _lock:
        lib = _load()
        private = work_dir is None
        work = tempfile.mkdtemp(prefix="ravelo-") if private else os.fspath(work_dir)
        try:
            if not os.path.isdir(work):
                raise FileNotFoundError(f"the work folder {work} does not exist")
            lib.RaveloInit(_path_bytes(work, "work folder"), id, day_control)
            if private:
                r = lib.RaveloINIFileDelete()
                if r != 0:
                    raise _error(r)
            r = lib.RaveloProc(logger_bytes, dest_bytes, 1 if month else 0, 0 if replace else 1,
                               1 if direct else 0)
            if r != 0:
                raise _error(r, os.fspath(logger))
        finally:
            if private:
                lib.RaveloINIFileDelete()
                shutil.rmtree(work, ignore_errors=True)
            lib.RaveloInit(_vanished_folder(), id, day_control)
