"""python -m ravelo convert FILE.Q38... --out DEST [options]: converts logger
files as `ravelo convert` does (one batch for the whole run). The other
commands are those of the `ravelo` program."""
import argparse
import shutil
import sys
import tempfile

from . import ConversionError, convert


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
    args = parser.parse_args(argv)

    work = args.work_dir or tempfile.mkdtemp(prefix="ravelo-")  # one batch for the run
    failed = 0
    try:
        for i, logger in enumerate(args.files):
            try:
                convert(logger, args.out, month=args.month, replace=args.replace,
                        direct=args.direct, midnight_as_24=args.midnight_as_24, work_dir=work,
                        id=args.id)
            except ConversionError as e:
                print(f"{logger}: code {e.code}: {e.message} ({e.description})", file=sys.stderr)
                failed += 1
    finally:
        if args.work_dir is None:
            shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
