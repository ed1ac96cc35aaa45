#!/usr/bin/python3
"""A map's speed, side by side in one run: bench_fit's map of the bundled
27-line sample on every core and on one, its bare double-precision loop of
the same model, and a NumPy float64 broadcast of the same grid.

    /usr/bin/python3 bench/map_speed.py [--bench build/bench/bench_fit] [--sizes 200 500] [--repeat 3]

Prints the best wall time of each (Google Benchmark's, and best_time of
scipy_fit.py for NumPy) and the ratios: one core against the bare loop, all
cores against the broadcast. Run it on an idle machine.
"""

import argparse
import json
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
from scipy_fit import DATA, Model, best_time, map_broadcast, read_levels, read_lines, read_measurement  # noqa: E402


def lumora_times(bench, sizes, repeat):
    """Best real time in ms of BM_Map/N/0, BM_Map/N/1 and BM_BareLoop/N."""
    pattern = "|".join(f"BM_Map/{n}/|BM_BareLoop/{n}/" for n in sizes)
    out = subprocess.run([str(bench), f"--benchmark_filter={pattern}", "--benchmark_format=json",
                          f"--benchmark_repetitions={repeat}"],
                         check=True, capture_output=True, text=True).stdout
    best = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        name = b["run_name"].replace("/real_time", "")
        best[name] = min(best.get(name, float("inf")), b["real_time"])
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench", default=str(HERE.parent / "build" / "bench" / "bench_fit"))
    parser.add_argument("--sizes", type=int, nargs="+", default=[200, 500])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()

    levels = read_levels(DATA / "database" / "Ar_I_levels.txt")
    table = read_lines(DATA / "database" / "Ar_I.txt")
    model = Model(levels, read_measurement(DATA / "measurements" / "argon_n2e15.txt", table, levels))

    lumora = lumora_times(args.bench, args.sizes, args.repeat)
    print(f"{'grid':>9} {'all cores':>10} {'one core':>10} {'bare loop':>10} {'NumPy':>10}"
          f" {'one/bare':>9} {'all/NumPy':>10}   (best wall time, ms)")
    for n in args.sizes:
        numpy_ms = best_time(lambda: map_broadcast(model, n), args.repeat)[1] * 1e3
        every, one, bare = lumora[f"BM_Map/{n}/0"], lumora[f"BM_Map/{n}/1"], lumora[f"BM_BareLoop/{n}"]
        print(f"{n:>4} x {n:<4}{every:10.1f} {one:10.1f} {bare:10.1f} {numpy_ms:10.1f}"
              f" {one / bare:9.2f} {every / numpy_ms:10.2f}")


if __name__ == "__main__":
    main()
