#!/usr/bin/env python3
"""The library as a host sees it: loaded into a fresh process, it shows
exactly five exports, hands out every message text in code page 932 byte for
byte, and answers the argument checks of RaveloProc with their result codes
in their fixed order, making the "CSV" and "Day"/"Month" folders on the way.

Usage: test_exports.py path/to/libravelo.so

The jobs here never get past opening the logger file (a 1-byte file gives 12,
a folder gives 9), so no CSV file is written: the folders are made before the
logger file is opened and stay when the job fails later.
"""
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile

EXPORTS = {"RaveloDayCntlTypeSet", "RaveloErrMsgGet", "RaveloINIFileDelete",
           "RaveloInit", "RaveloProc"}

# (text, bytes in code page 932 without the zero) for codes 0..26.
MESSAGES = [
    ("エラーなし", 10),
    ("入力ファイルＥＯＦ検出", 22),
    ("Q38ファイルパスの指定がありません。", 35),
    ("Q38ファイルが存在しません。", 27),
    ("Q38ファイルの拡張子でありません。", 33),
    ("保存先フォルダパスの指定がありません。", 38),
    ("保存先フォルダが存在しません。", 30),
    ("作成するCSVファイルの種類が指定範囲外です。", 43),
    ("CSVファイル作成方法の種類が指定範囲外です。", 43),
    ("Q38ファイルのオープンに失敗しました。", 37),
    ("保存先フォルダの下のCSVフォルダ作成に失敗しました。", 51),
    ("CSVフォルダの下のCSVサブフォルダ作成に失敗しました。", 52),
    ("Q38ファイルのIDとサイズ情報の読込みに失敗しました。", 51),
    ("Q38ファイルのヘッダ内のメモ情報の先頭へのシークに失敗しました。", 63),
    ("Q38ファイルのヘッダ内のメモ情報の読込みに失敗しました。", 55),
    ("Q38ファイルの記録データの先頭へのシークに失敗しました。", 55),
    ("Q38ファイルの記録データの読込みに失敗しました。", 47),
    ("Q38ファイルの記録データのチャンネル番号が範囲外です。", 53),
    ("Q38ファイルの記録データの記録モード番号が範囲外です。", 53),
    ("Q38ファイルの記録データの記録モード番号に該当がありません。", 59),
    ("Q38ファイルの記録データのデータ値が範囲外です。", 47),
    ("ファイルへのデータ書込みに失敗しました。", 40),
    ("CSVファイルのオープンに失敗しました。", 37),
    ("TMPファイルのオープンに失敗しました", 35),
    ("ファイルを削除に失敗しました。", 30),
    ("ファイルをリネームに失敗しました。", 34),
    ("CSVファイルの文字列（１行分）の読込みに失敗しました。", 53),
]

failures = []


def check(condition, what):
    print(("ok: " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)


def exported_symbols(path):
    """Defined dynamic symbols of the library, from nm or else readelf."""
    try:
        out = subprocess.run(["nm", "-D", "--defined-only", path], check=True,
                             capture_output=True, text=True).stdout
        return {line.split()[-1] for line in out.splitlines() if len(line.split()) >= 3}
    except (OSError, subprocess.CalledProcessError):
        out = subprocess.run(["readelf", "--dyn-syms", "-W", path], check=True,
                             capture_output=True, text=True).stdout
        names = set()
        for line in out.splitlines():
            fields = line.split()
            # Num: Value Size Type Bind Vis Ndx Name
            if len(fields) >= 8 and fields[0].endswith(":") and fields[6] != "UND" \
                    and fields[4] in ("GLOBAL", "WEAK") and fields[3] != "SECTION":
                names.add(fields[7].split("@")[0])
        return names


def check_exports(path):
    names = exported_symbols(path)
    check(names == EXPORTS, "exactly the five exports (found %s)" % sorted(names))


def check_messages(lib):
    for code, (text, size) in enumerate(MESSAGES):
        expected = text.encode("cp932")
        check(len(expected) == size, "message %d: %d bytes in code page 932" % (code, size))
        buffer = ctypes.create_string_buffer(b"#" * 80, 80)
        result = lib.RaveloErrMsgGet(code, buffer)
        got = buffer.raw
        check(result == 1 and got[:size + 1] == expected + b"\0",
              "message %d byte for byte" % code)
        check(got[size + 1:] == b"#" * (80 - size - 1),
              "message %d: only the text and its zero are copied" % code)
    for code in (-1, 27, 1000, -2**31):
        buffer = ctypes.create_string_buffer(b"#" * 80, 80)
        result = lib.RaveloErrMsgGet(code, buffer)
        check(result == 0 and buffer.raw == b"#" * 80,
              "code %d: result 0, buffer untouched" % code)


def make_file(path, content=b"x"):
    with open(path, "wb") as f:
        f.write(content)
    return path


def folder_of_length(base, length):
    """Makes and returns a folder path of exactly length bytes below base."""
    path = base
    while len(path) + 41 < length:
        path = os.path.join(path, "d" * 40)
    path = os.path.join(path, "e" * (length - len(path) - 1))
    os.makedirs(path)
    return path


def check_jobs(lib, root):
    def proc(logger, dest, kind=0, method=0, direct=0):
        def arg(path):
            return None if path is None else path.encode()
        return lib.RaveloProc(arg(logger), arg(dest), kind, method, direct)

    dest = os.path.join(root, "dest")
    os.makedirs(dest)
    work = os.path.join(root, "work")
    os.makedirs(work)
    lib.RaveloInit(work.encode(), 1, 0)
    lib.RaveloInit(None, 1, 0)  # a null work folder is stored as empty
    lib.RaveloInit(work.encode(), 1, 0)
    lib.RaveloDayCntlTypeSet(2)
    check(lib.RaveloINIFileDelete() == 0, "delete with no INI files: 0")
    logger = make_file(os.path.join(root, "LOG_0001.Q38"))  # too short: 12
    wrong = make_file(os.path.join(root, "LOG_0001.Q3"))
    missing = os.path.join(root, "missing.Q38")
    nowhere = os.path.join(root, "nowhere")

    # The fixed order: 2, 3, 5, 6, 7, 8, then 4.
    check(proc(None, None, 9, 9) == 2, "null logger path first: 2")
    check(proc(missing, None, 9, 9) == 3, "missing logger file before a null destination: 3")
    check(proc(logger, None, 9, 9) == 5, "null destination: 5")
    check(proc(logger, nowhere, 9, 9) == 6, "missing destination: 6")
    check(proc(logger, logger, 0, 0) == 6, "a file as destination: 6")
    check(proc(wrong, dest, 2, 0) == 7, "CSV file kind 2 before the extension: 7")
    check(proc(wrong, dest, -1, 9) == 7, "CSV file kind -1: 7")
    check(proc(wrong, dest, 0, -1) == 8, "creation method -1 before the extension: 8")
    check(proc(wrong, dest, 1, 2) == 8, "creation method 2: 8")
    check(proc(wrong, dest, 1, 1) == 4, "wrong extension last: 4")
    check(proc(make_file(os.path.join(root, "LOG_0001.Q38.bak")), dest) == 4, "LOG_0001.Q38.bak: 4")
    check(proc(make_file(os.path.join(root, "LOG_0001")), dest) == 4, "no extension: 4")
    check(not os.path.exists(os.path.join(dest, "CSV")), "no folder made before every check passed")

    # Folders: made before the logger file is opened, kept after a failure.
    check(proc(logger, dest, 0, 0) == 12, "day files: past the checks to the header: 12")
    check(os.path.isdir(os.path.join(dest, "CSV", "Day")), "CSV/Day made")
    check(proc(logger, dest, 1, 1) == 12, "month files: 12")
    check(os.path.isdir(os.path.join(dest, "CSV", "Month")), "CSV/Month made")
    check(proc(logger, dest, 0, 1) == 12, "existing folders reused: 12")
    lower = make_file(os.path.join(root, "LOG_0002.q38"))
    check(proc(lower, dest, 0, 0) == 12, "a lower-case extension passes: 12")
    folder_logger = os.path.join(root, "FOLDER.Q38")
    os.makedirs(folder_logger)
    check(proc(folder_logger, dest) == 9, "a folder passes the existence check, fails to open: 9")

    direct_dest = os.path.join(root, "direct")
    os.makedirs(direct_dest)
    check(proc(logger, direct_dest, 0, 0, 5) == 12, "direct output: 12")
    check(os.listdir(direct_dest) == [], "direct output makes no folder")

    # The engine's own separator "\" stands for "/" here.
    back_dest = os.path.join(root, "back")
    os.makedirs(back_dest)
    check(proc(logger.replace("/", "\\"), back_dest.replace("/", "\\"), 1, 0) == 12,
          "paths written with backslashes: 12")
    check(os.path.isdir(os.path.join(back_dest, "CSV", "Month")), "CSV/Month made below them")

    # A whole job: a header without records converts to nothing, with 0.
    empty = make_file(os.path.join(root, "EMPTY_1.Q38"), b"\0" * 1024)
    empty_dest = os.path.join(root, "empty")
    os.makedirs(empty_dest)
    check(proc(empty, empty_dest, 0, 0) == 0, "a logger file without records: 0")
    check(proc(empty, empty_dest, 1, 1) == 0, "again into month files: 0")
    check(sorted(os.listdir(os.path.join(empty_dest, "CSV"))) == ["Day", "Month"],
          "both subfolders made")

    # Files in the way of the folders.
    blocked = os.path.join(root, "blocked")
    os.makedirs(blocked)
    make_file(os.path.join(blocked, "CSV"))
    check(proc(logger, blocked) == 10, "a file named CSV: 10")
    os.remove(os.path.join(blocked, "CSV"))
    os.makedirs(os.path.join(blocked, "CSV"))
    make_file(os.path.join(blocked, "CSV", "Day"))
    check(proc(logger, blocked) == 11, "a file named CSV/Day: 11")
    check(os.path.isdir(os.path.join(blocked, "CSV")), "the CSV folder stays")

    # Paths too long for their fields.
    long_logger = os.path.join(root, "L" * 200, "M" * 100 + ".Q38")
    check(proc(long_logger, dest) == 3, "a logger path over 259 bytes: 3")
    check(proc(logger, os.path.join(dest, "D" * 200, "E" * 100)) == 6,
          "a destination over 259 bytes: 6")
    deep = folder_of_length(os.path.join(root, "deep"), 257)
    check(proc(logger, deep) == 10, "a destination too long for \\CSV: 10")
    deeper = folder_of_length(os.path.join(root, "deeper"), 251)
    check(proc(logger, deeper, 1) == 11, "a destination too long for \\CSV\\Month: 11")


def main():
    path = os.path.abspath(sys.argv[1])
    check_exports(path)

    lib = ctypes.CDLL(path)
    lib.RaveloErrMsgGet.argtypes = [ctypes.c_int32, ctypes.c_char_p]
    lib.RaveloErrMsgGet.restype = ctypes.c_int32
    lib.RaveloInit.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]
    lib.RaveloInit.restype = None
    lib.RaveloDayCntlTypeSet.argtypes = [ctypes.c_int32]
    lib.RaveloDayCntlTypeSet.restype = None
    lib.RaveloINIFileDelete.restype = ctypes.c_int32
    lib.RaveloProc.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32,
                               ctypes.c_int32, ctypes.c_int32]
    lib.RaveloProc.restype = ctypes.c_int32

    check_messages(lib)
    root = tempfile.mkdtemp(prefix="ravelo_host_exports_")
    try:
        check_jobs(lib, root)
    finally:
        shutil.rmtree(root, ignore_errors=True)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
