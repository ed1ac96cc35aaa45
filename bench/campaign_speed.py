#!/usr/bin/python3
"""Files per second of a campaign of generated recordings: `lumora-cli fit
--spectrum --series` on every core, and examples/campaign_dask.py on a
LocalCluster of two workers, in one run, with the tables compared.

    PYTHONPATH=build/python /usr/bin/python3 bench/campaign_speed.py [--files 10000]

The recordings are a pulse made by data/make_recording.py --series in a
temporary folder (kept with --keep). The Dask figure includes starting the
cluster, as a user's run of the example does. Needs python3-distributed.
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]


def timed(command, env):
    start = time.perf_counter()
    run = subprocess.run(command, env=env, capture_output=True, text=True)
    seconds = time.perf_counter() - start
    if run.returncode != 0:
        sys.exit(f"{command[0]} failed ({run.returncode}):\n{run.stderr[-3000:]}")
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--cli", default=str(ROOT / "build" / "cli" / "lumora-cli"))
    parser.add_argument("--workers", type=int, default=2, help="Dask workers (default 2)")
    parser.add_argument("--keep", action="store_true", help="keep the generated folder")
    args = parser.parse_args()

    folder = pathlib.Path(tempfile.mkdtemp(prefix="lumora-campaign-"))
    try:
        for name in ("tmp", "xdg"):
            (folder / name).mkdir()
        env = dict(os.environ, TMPDIR=str(folder / "tmp"), XDG_DATA_HOME=str(folder / "xdg"))
        ini = folder / "lumora.ini"
        ini.write_text((ROOT / "data" / "lumora.ini").read_text()
                       .replace("@LUMORA_DATABASE_FOLDER@", str(ROOT / "data" / "database"))
                       .replace("@LUMORA_MEASUREMENTS_FOLDER@", str(folder)))
        series = folder / "series"
        start = time.perf_counter()
        subprocess.run([sys.executable, str(ROOT / "data" / "make_recording.py"), "--series",
                        str(series), "--count", str(args.files), "--seed", "1"], check=True)
        print(f"{args.files} recordings generated in {time.perf_counter() - start:.1f} s "
              f"({series})")
        files = sorted(str(p) for p in series.iterdir())
        # 10^4 paths of this length stay well inside the kernel's limit of
        # a command line's arguments.
        cli_seconds = timed([args.cli, "--ini", str(ini), "fit", "--spectrum", "--series",
                             str(folder / "cli.csv"), *files], env)
        dask_seconds = timed([sys.executable, str(ROOT / "examples" / "campaign_dask.py"),
                              "--workers", str(args.workers), "--ini", str(ini), "--spectrum",
                              "--series", str(folder / "dask.csv"), *files], env)
        same = (folder / "cli.csv").read_bytes() == (folder / "dask.csv").read_bytes()
        cores = os.cpu_count()
        print(f"{'run':<42} {'seconds':>8} {'files/s':>8}")
        print(f"{'lumora-cli fit --series, ' + str(cores) + ' cores':<42} "
              f"{cli_seconds:8.1f} {args.files / cli_seconds:8.1f}")
        print(f"{'campaign_dask.py, LocalCluster ' + str(args.workers) + ' workers':<42} "
              f"{dask_seconds:8.1f} {args.files / dask_seconds:8.1f}")
        print(f"Dask / lumora-cli time: {dask_seconds / cli_seconds:.2f}; "
              f"tables {'equal' if same else 'DIFFER'}")
        return 0 if same else 1
    finally:
        if args.keep:
            print(f"kept {folder}")
        else:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
