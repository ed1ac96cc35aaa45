#!/usr/bin/python3
"""Batch fit of generated noisy measurements: lumora-cli on one worker and on
all cores against a SciPy least_squares loop, each timed as a whole process.

    /usr/bin/python3 bench/batch_fit.py [--files N] [--repeat R] [--cli build/cli/lumora-cli]

Writes N argon measurements (27 lines, 2 % Gaussian intensity noise, at a few
known n_1, made like the bundled samples by data/make_gas.py) into a
temporary folder, then times `lumora-cli fit --jobs 1 FILES`, `lumora-cli fit
FILES` and one Python process that reads each file and fits log10 n_1 with the
NumPy model of scipy_fit.py (density only, start 1E16, 1000 K, at most the
settings' 50 iterations). Prints files per second of each, the ratios, and the
mean n_1 each found per known n_1. The three commands run in turn, R rounds
(default 3); each one's best wall time counts, as a shared machine's load
only ever slows a run down.
"""

import argparse
import math
import os
import statistics
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from process_runs import DATA, DEFAULT_CLI, PYTHON, numpy_env, print_table, run, write_settings  # noqa: E402

sys.path.insert(0, str(DATA))
import make_gas  # noqa: E402

TRUE_N1 = (3e15, 2e16, 1e17)  # m^-3, taken in turn
NOISE = 0.02
ITERATION_LIMIT = 50  # _Fit Count of the bundled settings


def write_measurements(folder, count):
    """count noisy samples; file k has n_1 = TRUE_N1[k % 3] and noise seed k."""
    gas = make_gas.GASES["argon"]
    levels, lines, _ = make_gas.gas_model(gas)
    files = []
    for k in range(count):
        n1 = TRUE_N1[k % len(TRUE_N1)]
        sample = {"log_n1": math.log10(n1), "noise": NOISE, "seed": k + 1, "lines": "all"}
        _, waves, texts = make_gas.sample_records(gas, levels, lines, sample)
        path = Path(folder) / f"argon_n{n1:.0e}_noise_{k:04d}.txt".replace("+", "")
        path.write_bytes(make_gas.sample_file(waves, texts).encode("ascii"))
        files.append(path)
    return files


def scipy_loop(files):
    """The peer process: each file read and fitted in turn; prints log10 n_1 per file."""
    from scipy.optimize import least_squares

    import scipy_fit
    database = DATA / "database"
    levels = scipy_fit.read_levels(database / "Ar_I_levels.txt")
    table = scipy_fit.read_lines(database / "Ar_I.txt")
    for file in files:
        model = scipy_fit.Model(levels, scipy_fit.read_measurement(Path(file), table, levels))
        gm = model.lines["gm"]
        weight = (gm > 0).astype(float)
        result = least_squares(
            lambda p: (model.fractions(p[0], scipy_fit.FIT_START_T) - gm) * weight,
            [scipy_fit.FIT_START_LOG_N1], method="lm",
            # an iteration is one residual and one forward-difference Jacobian
            max_nfev=2 * ITERATION_LIMIT)
        print(f"{file}\t{result.x[0]!r}")


def mean_density_by_truth(pairs):
    """{true n_1: mean fitted n_1} from (file name, fitted n_1) pairs."""
    found = {}
    for name, n1 in pairs:
        for truth in TRUE_N1:
            if f"argon_n{truth:.0e}_".replace("+", "") in name:
                found.setdefault(truth, []).append(n1)
    return {truth: statistics.fmean(v) for truth, v in found.items()}


def lumora_densities(stdout):
    """(file, n_1) from the --json objects lumora-cli prints, one per file."""
    import json
    decoder, pairs, pos = json.JSONDecoder(), [], 0
    while (pos := stdout.find("{", pos)) >= 0:
        obj, pos = decoder.raw_decode(stdout, pos)
        pairs.append((obj["file"], 10 ** obj["log10_n1"]))
    return pairs


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--cli", default=str(DEFAULT_CLI))
    parser.add_argument("--scipy-loop", nargs="+", metavar="FILE", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.scipy_loop:
        scipy_loop(args.scipy_loop)
        return

    with tempfile.TemporaryDirectory(prefix="lumora-batch-") as folder:
        measurements = Path(folder) / "meas"
        measurements.mkdir()
        files = write_measurements(measurements, args.files)
        ini = write_settings(folder, DATA / "database", measurements)
        cli = [args.cli, "--ini", ini, "fit"]
        commands = {
            "lumora-cli fit --jobs 1": (cli + ["--jobs", "1"] + files, None),
            f"lumora-cli fit (all {os.cpu_count()} cores)": (cli + files, None),
            "SciPy least_squares loop": ([PYTHON, __file__, "--scipy-loop"] + files, numpy_env()),
        }
        runs = {}
        for _ in range(max(1, args.repeat)):
            for name, (command, env) in commands.items():
                r = run(command, env=env)
                if name not in runs or r.wall < runs[name].wall:
                    runs[name] = r
        # Not timed: the densities lumora-cli finds, to set beside SciPy's.
        lumora_found = mean_density_by_truth(lumora_densities(run(cli + ["--json"] + files).stdout))
    scipy_found = mean_density_by_truth(
        (name, 10 ** float(log_n1)) for name, log_n1 in
        (line.split("\t") for line in runs["SciPy least_squares loop"].stdout.splitlines()))

    scipy_rate = args.files / runs["SciPy least_squares loop"].wall
    print(f"{args.files} measurements of 27 lines, {NOISE:.0%} noise; whole processes, "
          f"best of {max(1, args.repeat)} runs each")
    print_table(["", "wall s", "CPU s", "files/s", "x SciPy loop"],
                [[name, f"{r.wall:.2f}", f"{r.cpu:.2f}", f"{args.files / r.wall:.0f}",
                  f"{args.files / r.wall / scipy_rate:.2f}"] for name, r in runs.items()])
    print()
    print_table(["made with n_1 (m^-3)", "lumora-cli mean n_1", "SciPy mean n_1"],
                [[f"{t:.3g}", f"{lumora_found.get(t, math.nan):.5g}", f"{scipy_found.get(t, math.nan):.5g}"]
                 for t in TRUE_N1])


if __name__ == "__main__":
    main()
