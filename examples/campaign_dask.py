#!/usr/bin/python3
"""Fits a campaign of measurements or recordings on a Dask cluster, one task
per file through the Python module, and writes the series table that
`lumora-cli fit --series` writes for the same files and settings.

    /usr/bin/python3 examples/campaign_dask.py --series pulse.csv --spectrum pulse/*.csv
    /usr/bin/python3 examples/campaign_dask.py --scheduler tcp://head:8786 \\
        --ini lumora.ini --series scan.csv --x-pattern '(\\d+)W' scan/*.txt

Without --scheduler a LocalCluster of --workers processes runs on this
machine. With it, the workers of that cluster fit the files: each of them
needs the `lumora` module, the settings file (--ini) and the database it
names, and the files themselves, all under the same paths as here (a shared
file system). Fit options are those of lumora-cli fit (--density,
--fit-temperature, ...), recording options those of --spectrum.

Needs Dask's distributed scheduler (Debian's python3-distributed).
"""

import argparse
import sys
import threading

# Fit options and their keywords in lumora.Session.fit_many.
FIT_OPTIONS = ["density", "temperature", "distribution", "count", "tn", "path", "max_iter"]
RECORDING_OPTIONS = ["fwhm", "window", "shift_max", "dark", "response", "min_snr", "saturation"]
NUMBER_OPTIONS = {"fwhm", "window", "shift_max", "min_snr", "saturation"}
COLUMNS = ("file", "x", "n1", "u_n1", "second", "sum", "stop")

def _session(ini, element):
    """The worker's session for its thread, loaded once and kept for its tasks
    (on the worker object: the task itself is shipped by value)."""
    import lumora
    from dask.distributed import get_worker
    sessions = get_worker().__dict__.setdefault("lumora_sessions", {})
    key = (threading.get_ident(), ini, element)
    if key not in sessions:
        sessions[key] = lumora.Session(ini=ini, element=element)
    return sessions[key]


def fit_file(path, ini, element, options):
    """The task: one file's rows (an SPE camera file has one a frame), without
    their x (which needs the others)."""
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        table = _session(ini, element).fit_many([path], jobs=1, **options)
    rows = table.to_records(index=False) if hasattr(table, "to_records") else table
    return [tuple(row[name].item() if hasattr(row[name], "item") else row[name]
                  for name in ("file", "n1", "u_n1", "second", "sum", "stop")) for row in rows]


def fit_options(args):
    options = {name: getattr(args, name) for name in FIT_OPTIONS
               if getattr(args, name) is not None}
    if args.fit_temperature:
        options["fit_temperature"] = True
    if args.spectrum:
        options["spectrum"] = True
        for name in RECORDING_OPTIONS:
            value = getattr(args, name)
            if value is not None:
                options[name] = float(value) if name in NUMBER_OPTIONS else value
    return options


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="+", metavar="FILE")
    parser.add_argument("--series", required=True, metavar="CSV", help="the table to write")
    parser.add_argument("--x-pattern", metavar="REGEX",
                        help="x from the file names: the number in the first group")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a running Dask scheduler (default: a LocalCluster here)")
    parser.add_argument("--workers", type=int, default=2,
                        help="processes of the LocalCluster (default 2)")
    parser.add_argument("--ini", help="the settings file (default: the user's)")
    parser.add_argument("--element", help="the element section (default: the settings' default)")
    parser.add_argument("--fit-temperature", action="store_true")
    for name in FIT_OPTIONS:
        parser.add_argument("--" + name.replace("_", "-"))
    parser.add_argument("--spectrum", action="store_true",
                        help="the files are recordings, integrated before the fit")
    for name in RECORDING_OPTIONS:
        parser.add_argument("--" + name.replace("_", "-"))
    args = parser.parse_args(argv)
    if args.workers < 1:
        parser.error("--workers takes 1 or more")
    return args


def run(args, client):
    import numpy as np
    import lumora
    options = fit_options(args)
    # Wrong options fail here, once, rather than in every task.
    lumora.Session(ini=args.ini, element=args.element)
    x = lumora.series_x(args.files, x_pattern=args.x_pattern, spectrum=args.spectrum)
    futures = client.map(fit_file, args.files, ini=args.ini, element=args.element,
                         options=options, pure=False)
    fitted = [row for rows in client.gather(futures) for row in rows]
    rows = [(row[0], xk) + row[1:] for xk, row in zip(x, fitted)]
    width = max([1] + [len(r[0]) for r in rows] + [len(r[6]) for r in rows])
    dtype = [(name, f"U{width}" if name in ("file", "stop") else "f8") for name in COLUMNS]
    table = np.array(rows, dtype=dtype)
    lumora.save_series(args.series, table)
    failed = sum(1 for r in rows if np.isnan(r[5]))
    print(f"{len(rows)} spectra, {failed} failed: {args.series}")
    return 1 if failed else 0


def main(argv=None):
    args = parse_arguments(sys.argv[1:] if argv is None else argv)
    try:
        from dask.distributed import Client, LocalCluster
    except ImportError:
        print("campaign_dask.py needs Dask's distributed scheduler "
              "(Debian: apt install python3-distributed)", file=sys.stderr)
        return 2
    if args.scheduler:
        with Client(args.scheduler) as client:
            return run(args, client)
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        return run(args, client)


if __name__ == "__main__":
    sys.exit(main())
