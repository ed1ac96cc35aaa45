"""Helpers of the whole-process benchmarks (batch_fit.py, line_base_load.py):
a settings file for lumora-cli, one timed child process, a table."""

import os
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DATA = ROOT / "data"
DEFAULT_CLI = ROOT / "build" / "cli" / "lumora-cli"
# Debian's interpreter, the one with numpy and scipy.
PYTHON = "/usr/bin/python3"


def write_settings(folder, database, measurements):
    """data/lumora.ini with its folders filled in, written into folder."""
    ini = Path(folder) / "lumora.ini"
    text = (DATA / "lumora.ini").read_text()
    ini.write_text(text.replace("@LUMORA_DATABASE_FOLDER@", str(database))
                   .replace("@LUMORA_MEASUREMENTS_FOLDER@", str(measurements)))
    return ini


def numpy_env():
    """The environment less the OpenBLAS overrides that slow a current NumPy;
    they go together or not at all."""
    env = dict(os.environ)
    env.pop("OPENBLAS_CORETYPE", None)
    env.pop("OPENBLAS_L2_SIZE", None)
    return env


class Run:
    def __init__(self, wall, cpu, peak_kib, stdout):
        self.wall, self.cpu, self.peak_kib, self.stdout = wall, cpu, peak_kib, stdout


def run(command, env=None):
    """Runs command to its end; wall time, CPU time (user + system) and peak
    resident memory of that child alone (wait4 gives its own rusage)."""
    start = time.perf_counter()
    child = subprocess.Popen([str(c) for c in command], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=env)
    # Drain the pipes before reaping so a chatty child cannot block on a full pipe.
    stdout, stderr = child.stdout.read(), child.stderr.read()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit(f"{command[0]} failed ({child.returncode}): {stderr.decode(errors='replace')[-2000:]}")
    return Run(wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss,
               stdout.decode(errors="replace"))


def print_table(header, rows):
    """Columns as wide as their widest cell, the first one left-aligned."""
    cells = [header] + [[str(c) for c in row] for row in rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(header))]
    for n, row in enumerate(cells):
        print("  ".join(c.ljust(w) if i == 0 else c.rjust(w)
                        for i, (c, w) in enumerate(zip(row, widths))))
        if n == 0:
            print("  ".join("-" * w for w in widths))
