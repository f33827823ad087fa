#!/usr/bin/env python3
"""A host in a fresh process: loads the shared library, finds exactly the five
exports, reads every message, and gets the argument checks' result codes in
their order with the output folders made.

Usage: test_exports.py path/to/libravelo.so
"""
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile

EXPORTS = {"RaveloDayCntlTypeSet", "RaveloErrMsgGet", "RaveloINIFileDelete", "RaveloInit",
           "RaveloProc"}

MESSAGES = [
    "エラーなし", "入力ファイルＥＯＦ検出", "Q38ファイルパスの指定がありません。",
    "Q38ファイルが存在しません。", "Q38ファイルの拡張子でありません。",
    "保存先フォルダパスの指定がありません。", "保存先フォルダが存在しません。",
    "作成するCSVファイルの種類が指定範囲外です。", "CSVファイル作成方法の種類が指定範囲外です。",
    "Q38ファイルのオープンに失敗しました。", "保存先フォルダの下のCSVフォルダ作成に失敗しました。",
    "CSVフォルダの下のCSVサブフォルダ作成に失敗しました。",
    "Q38ファイルのIDとサイズ情報の読込みに失敗しました。",
    "Q38ファイルのヘッダ内のメモ情報の先頭へのシークに失敗しました。",
    "Q38ファイルのヘッダ内のメモ情報の読込みに失敗しました。",
    "Q38ファイルの記録データの先頭へのシークに失敗しました。",
    "Q38ファイルの記録データの読込みに失敗しました。",
    "Q38ファイルの記録データのチャンネル番号が範囲外です。",
    "Q38ファイルの記録データの記録モード番号が範囲外です。",
    "Q38ファイルの記録データの記録モード番号に該当がありません。",
    "Q38ファイルの記録データのデータ値が範囲外です。", "ファイルへのデータ書込みに失敗しました。",
    "CSVファイルのオープンに失敗しました。", "TMPファイルのオープンに失敗しました",
    "ファイルを削除に失敗しました。", "ファイルをリネームに失敗しました。",
    "CSVファイルの文字列（１行分）の読込みに失敗しました。",
]

passed = 0
failed = 0


def check(condition, what):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL:", what)


def exported_functions(path):
    out = subprocess.run(["nm", "-D", "--defined-only", path], check=True, capture_output=True,
                         text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in ("T", "W", "i"):
            names.add(parts[2])
    return names


def main():
    path = os.path.abspath(sys.argv[1])
    check(exported_functions(path) == EXPORTS, "exactly the five exports: %s"
          % sorted(exported_functions(path)))

    lib = ctypes.CDLL(path)
    lib.RaveloErrMsgGet.argtypes = [ctypes.c_int32, ctypes.c_char_p]
    lib.RaveloErrMsgGet.restype = ctypes.c_int32
    lib.RaveloInit.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]
    lib.RaveloInit.restype = None
    lib.RaveloDayCntlTypeSet.argtypes = [ctypes.c_int32]
    lib.RaveloDayCntlTypeSet.restype = None
    lib.RaveloINIFileDelete.restype = ctypes.c_int32
    lib.RaveloProc.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32,
                               ctypes.c_int32]
    lib.RaveloProc.restype = ctypes.c_int32

    for code, text in enumerate(MESSAGES):
        buf = ctypes.create_string_buffer(b"#" * 80, 80)
        check(lib.RaveloErrMsgGet(code, buf) == 1, "message %d result" % code)
        expected = text.encode("cp932")
        check(buf.raw[:len(expected) + 1] == expected + b"\0", "message %d bytes" % code)
        check(buf.raw[len(expected) + 1:] == b"#" * (79 - len(expected)),
              "message %d copies only its text" % code)
    check(len(MESSAGES[13].encode("cp932")) == 63, "longest message")
    for code in (-1, 27):
        buf = ctypes.create_string_buffer(b"#" * 80, 80)
        check(lib.RaveloErrMsgGet(code, buf) == 0 and buf.raw == b"#" * 80,
              "code %d leaves the buffer" % code)

    root = tempfile.mkdtemp(prefix="ravelo_host_exports_")
    try:
        work = os.path.join(root, "work")
        dest = os.path.join(root, "dest")
        os.makedirs(work)
        os.makedirs(dest)
        lib.RaveloInit(work.encode(), 1, 0)
        lib.RaveloInit(None, 1, 0)  # a null work folder is stored as empty
        lib.RaveloInit(work.encode(), 1, 0)
        lib.RaveloDayCntlTypeSet(2)
        check(lib.RaveloINIFileDelete() == 0, "delete with no INI files")

        logger = os.path.join(root, "LOG_0001.Q38")
        with open(logger, "wb") as f:
            f.write(b"\0" * 1024)  # a header without records
        bad_ext = os.path.join(root, "LOG_0001.Q3")
        open(bad_ext, "wb").close()
        missing = os.path.join(root, "none.Q38")
        b = lambda s: s.encode()
        cases = [
            ((None, None, 9, 9, 0), 2),
            ((b(missing), None, 9, 9, 0), 3),
            ((b(logger), None, 9, 9, 0), 5),
            ((b(logger), b(os.path.join(root, "nowhere")), 9, 9, 0), 6),
            ((b(bad_ext), b(dest), 2, 0, 0), 7),
            ((b(bad_ext), b(dest), 0, -1, 0), 8),
            ((b(bad_ext), b(dest), 0, 0, 0), 4),
            ((b(logger), b(dest), 0, 0, 0), 0),
            ((b(logger), b(dest), 1, 1, 0), 0),
        ]
        for args, expected in cases:
            got = lib.RaveloProc(*args)
            check(got == expected, "RaveloProc%r gave %d, expected %d" % (args, got, expected))
        check(os.path.isdir(os.path.join(dest, "CSV", "Day")), "Day folder made")
        check(os.path.isdir(os.path.join(dest, "CSV", "Month")), "Month folder made")

        # Direct output makes no folder.
        dest2 = os.path.join(root, "dest2")
        os.makedirs(dest2)
        check(lib.RaveloProc(b(logger), b(dest2), 0, 0, 1) == 0, "direct output")
        check(os.listdir(dest2) == [], "direct output makes no folder")

        # A file where the CSV folder belongs.
        dest3 = os.path.join(root, "dest3")
        os.makedirs(dest3)
        open(os.path.join(dest3, "CSV"), "w").close()
        check(lib.RaveloProc(b(logger), b(dest3), 0, 0, 0) == 10, "CSV folder in the way")
    finally:
        shutil.rmtree(root, ignore_errors=True)

    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
