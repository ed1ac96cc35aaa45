#!/usr/bin/python3
"""A fit and a map through the Python module against the same fit and map by
SciPy's least_squares on the NumPy model of scipy_fit.py, in one process.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_fit_bench.py [--repeat N]

Both sides read the bundled argon database and argon_n2e15.txt with the
bundled settings (Tn 300 K, path 1 m, four levels, Boltzmann, start 1E16 and
1000 K, the 50 x 50 map). Prints the best CPU and wall time of each call, and
the wall time of two sessions mapping on two threads against one after the
other (the module runs its commands without the GIL).
"""

import argparse
import pathlib
import sys
import tempfile
import threading
import time

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import scipy_fit  # noqa: E402
from process_runs import write_settings  # noqa: E402
from scipy_fit import DATA, best_time, show  # noqa: E402

import lumora  # noqa: E402

SAMPLE = DATA / "measurements" / "argon_n2e15.txt"


def threads_against_serial(ini, repeat):
    """Best wall time of two maps on two threads, and of the two in turn."""
    sessions = [lumora.Session(ini=ini) for _ in range(2)]
    for s in sessions:
        s.read_measurement(SAMPLE)

    def serial():
        for s in sessions:
            s.map()

    def parallel():
        threads = [threading.Thread(target=s.map) for s in sessions]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    best = {}
    for name, fn in (("serial", serial), ("threads", parallel)):
        fn()
        times = []
        for _ in range(repeat):
            start = time.perf_counter()
            fn()
            times.append(time.perf_counter() - start)
        best[name] = min(times)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    levels = scipy_fit.read_levels(DATA / "database" / "Ar_I_levels.txt")
    table = scipy_fit.read_lines(DATA / "database" / "Ar_I.txt")
    model = scipy_fit.Model(levels, scipy_fit.read_measurement(SAMPLE, table, levels))

    with tempfile.TemporaryDirectory() as folder:
        ini = write_settings(folder, DATA / "database", DATA / "measurements")
        session = lumora.Session(ini=ini)
        session.read_measurement(SAMPLE)
        print(f"{SAMPLE.name}: {len(session.line_table())} lines")
        for free in (1, 2):
            result = session.fit(fit_temperature=free == 2)
            show(f"lumora fit, {free} parameter(s):",
                 best_time(lambda: session.fit(fit_temperature=free == 2), args.repeat), 1e6, "us",
                 f"({result.iterations} iterations, sum {result.rss:.2e}; "
                 f"log10 n_1 {result.log10_n1:.9g}, T {result.second:.9g})")
            for tight, label in ((True, "tolerances 1e-15"), (False, "SciPy's tolerances")):
                fitted = scipy_fit.fit(model, free, tight)
                values = ", ".join(f"{p:.9g}" for p in fitted.x)
                show(f"SciPy fit, {free} parameter(s), {label}:",
                     best_time(lambda: scipy_fit.fit(model, free, tight), args.repeat), 1e6, "us",
                     f"({fitted.nfev} evaluations, sum {2 * fitted.cost:.2e}; {values})")

        grid = session.map().grid
        show("lumora map 50 x 50:", best_time(session.map, args.repeat), 1e3, "ms",
             f"(minimum at {np.unravel_index(np.argmin(grid), grid.shape)})")
        show("NumPy map 50 x 50, point by point:",
             best_time(lambda: scipy_fit.map_points(model), args.repeat), 1e3, "ms", "")
        broadcast = scipy_fit.map_broadcast(model)
        show("NumPy map 50 x 50, broadcast:",
             best_time(lambda: scipy_fit.map_broadcast(model), args.repeat), 1e3, "ms",
             f"(largest difference to lumora's grid {np.abs(broadcast - grid).max():.2e})")

        best = threads_against_serial(ini, args.repeat)
        print(f"{'two lumora maps, one after the other:':45s} wall {best['serial'] * 1e3:9.2f} ms")
        print(f"{'two lumora maps on two threads:':45s} wall {best['threads'] * 1e3:9.2f} ms  "
              f"(x{best['serial'] / best['threads']:.2f})")


if __name__ == "__main__":
    main()
