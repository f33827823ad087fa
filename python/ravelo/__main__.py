"""python -m ravelo convert FILE.Q38... --out DEST [options]: converts logger
files as `ravelo convert` does (one batch for the whole run). The other
commands are those of the `ravelo` program."""
import argparse
import sys

from . import ConversionError, convert
from ._library import _make_batch_folder, _remove_batch_folder


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m ravelo")
    commands = parser.add_subparsers(dest="command", required=True)
    c = commands.add_parser("convert", help="convert logger files into CSV files below DEST")
    c.add_argument("files", nargs="+", metavar="FILE.Q38")
    c.add_argument("-o", "--out", required=True, metavar="DEST")
    c.add_argument("--month", action="store_true", help="one CSV file per month")
    c.add_argument("--replace", action="store_true",
                   help="replace existing CSV files the first time the run writes to them")
    c.add_argument("--direct", action="store_true", help="one CSV file per logger file in DEST")
    c.add_argument("--midnight-as-24", action="store_true",
                   help="a record of 00:00:00 as 24:00:00 of the day before")
    c.add_argument("--work-dir", metavar="DIR", help="keep the batch's INI files in DIR")
    c.add_argument("--id", type=int, default=1, help="the id number of the batch (default 1)")
    c.add_argument("--no-wait", action="store_true",
                   help="fail at once when another conversion is writing into DEST")
    args = parser.parse_args(argv)

    try:
        work = args.work_dir or _make_batch_folder()  # one batch for the run
    except (OSError, ValueError) as e:
        print(f"python -m ravelo: cannot make a work folder: {e}", file=sys.stderr)
        return 3
    failed = 0
    rows = 0
    created, merged = set(), set()
    try:
        for logger in args.files:
            try:
                result = convert(logger, args.out, month=args.month, replace=args.replace,
                                 direct=args.direct, midnight_as_24=args.midnight_as_24,
                                 work_dir=work, id=args.id, wait=not args.no_wait)
            except ConversionError as e:
                print(e, file=sys.stderr)
                failed += 1
                continue
            except (OSError, ValueError) as e:
                print(f"{logger}: {e}", file=sys.stderr)
                failed += 1
                continue
            rows += result.rows
            merged.update(p for p in result.merged if p not in created)
            created.update(result.created)
    finally:
        if args.work_dir is None:
            _remove_batch_folder(work)
    print(f"python -m ravelo: {len(args.files) - failed} logger file(s) converted, "
          f"{failed} failed; {rows} rows read; {len(created)} CSV file(s) created, "
          f"{len(merged)} merged", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
