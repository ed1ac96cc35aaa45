#!/usr/bin/python3
"""Loading a large line base: `lumora-cli levels` (which reads the whole line
file) against a plain Python reader of the same file, as whole processes.

    /usr/bin/python3 bench/line_base_load.py [--lines 100000 1000000] [--cli build/cli/lumora-cli]

Generates each line base with bench/make_line_base.py in a temporary folder,
then prints the wall time, CPU time and peak resident memory of each process.
The bundled 27-line base shows what a process costs before any loading.
"""

import argparse
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from process_runs import DATA, DEFAULT_CLI, PYTHON, print_table, run, write_settings  # noqa: E402

HERE = Path(__file__).resolve().parent
HEADER_LINES = 5
NUMBER_FIELDS = {2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14}  # wl .. gk; '-' is missing


def read_line_base(path):
    """The fields of every data line into one list per column; returns the
    number of lines read."""
    columns = None
    with open(path, encoding="latin-1") as f:
        for _ in range(HEADER_LINES):
            next(f)
        for raw in f:
            cells = raw.split()
            if columns is None:
                columns = [[] for _ in cells]
            for i, (cell, column) in enumerate(zip(cells, columns)):
                column.append((None if cell == "-" else float(cell)) if i in NUMBER_FIELDS else cell)
    return len(columns[0]) if columns else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, nargs="+", default=[100000, 1000000])
    parser.add_argument("--cli", default=str(DEFAULT_CLI))
    parser.add_argument("--read", metavar="FILE", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.read:
        print(read_line_base(args.read))
        return

    rows = []
    with tempfile.TemporaryDirectory(prefix="lumora-linebase-") as folder:
        bases = [("bundled", DATA / "database")]
        for count in args.lines:
            base = Path(folder) / f"base{count}"
            run([PYTHON, HERE / "make_line_base.py", count, base])
            bases.append((f"{count:,}".replace(",", " "), base))
        for label, base in bases:
            ini = write_settings(folder, base, folder)
            lumora = run([args.cli, "--ini", ini, "levels"])
            python = run([PYTHON, __file__, "--read", base / "Ar_I.txt"])
            size_mb = (base / "Ar_I.txt").stat().st_size / 1e6
            rows.append([f"{label} ({python.stdout.strip()} lines, {size_mb:.1f} MB)",
                         f"{lumora.wall:.2f}", f"{lumora.cpu:.2f}", f"{lumora.peak_kib / 1024:.1f}",
                         f"{python.wall:.2f}", f"{python.cpu:.2f}", f"{python.peak_kib / 1024:.1f}",
                         f"{python.wall / lumora.wall:.1f}"])
    print("whole processes, one run each; peak = largest resident set (MiB)")
    print_table(["line base", "lumora wall s", "CPU s", "peak MiB",
                 "Python wall s", "CPU s", "peak MiB", "Python/lumora wall"], rows)


if __name__ == "__main__":
    main()
