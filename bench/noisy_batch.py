#!/usr/bin/python3
"""The fit on noisy measurements: lumora-cli against a SciPy pool, side by side.

    /usr/bin/python3 bench/noisy_batch.py [--files 1000] [--compare 100] [--repeat 3]
        [--cli build/cli/lumora-cli] [--bench build/bench/bench_fit]

Writes N argon measurements made like the bundled samples, but at T_exc
1500 K, Tn 400 K, a path of 0.05 m and four levels, each with its own 2 %
Gaussian intensity noise, into a temporary folder. Then, for log10 n_1 alone
and with T_exc:

- the whole `lumora-cli fit --json` process over all files on every core, and
  a SciPy peer: `least_squares` (Levenberg-Marquardt, float64 NumPy model,
  SciPy's tolerances) over the same files on a pool of as many processes,
  timed from the pool's start (the interpreter's start excluded). Best wall
  time of R rounds each, as a shared machine's load only ever slows a run;
- how many of Lumora's fits end "itercount reached" or "lambda reached";
- how far Lumora's optimum lies from a tight SciPy fit (tolerances 1e-15,
  3-point Jacobian) of the first C files;
- one fit in process: bench_fit's BM_NoisyFit against SciPy's fit of the same
  bundled noisy sample.
"""

import argparse
import json
import warnings
import math
import multiprocessing
import os
import random
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from process_runs import DATA, DEFAULT_CLI, PYTHON, ROOT, numpy_env, print_table, run, write_settings  # noqa: E402

sys.path.insert(0, str(DATA))
import make_gas  # noqa: E402

TRUE_N1 = (1e16, 3e16, 1e17)  # m^-3, taken in turn: optically thick enough on 5 cm
T_EXC, TN, PATH, COUNT, NOISE = 1500.0, 400.0, 0.05, 4, 0.02
ITERATION_LIMIT = 50  # _Fit Count of the bundled settings
LUMORA_OPTIONS = ["--tn", str(TN), "--path", str(PATH), "--count", str(COUNT),
                  "--temperature", str(T_EXC)]
DEFAULT_BENCH = ROOT / "build" / "bench" / "bench_fit"


def write_measurements(folder, count):
    """count noisy samples; file k has n_1 = TRUE_N1[k % 3] and noise seed k + 1."""
    gas = make_gas.GASES["argon"]
    levels, lines, _ = make_gas.gas_model(gas)
    files = []
    for k in range(count):
        n1 = TRUE_N1[k % len(TRUE_N1)]
        fractions = make_gas.model_fractions(levels, lines, math.log10(n1), gas.mass_amu,
                                             t_exc=T_EXC, count=COUNT, tn=TN, path=PATH)
        rng = random.Random(k + 1)
        raw = [make_gas.upper_scale(gas, levels[ln.upper]) * g / ln.wl *
               (1.0 + NOISE * make_gas.gauss(rng)) for ln, g in zip(lines, fractions)]
        top = max(raw)
        texts = [make_gas.format_intensity(50000.0 * v / top) for v in raw]
        path = Path(folder) / f"argon_noise_{k:04d}.txt"
        path.write_bytes(make_gas.sample_file([ln.wl_text for ln in lines], texts).encode("ascii"))
        files.append(str(path))
    return files


_DATABASE = {}


def scipy_model(file):
    """The file's model; each process reads the database once, as a script would."""
    import scipy_fit
    if not _DATABASE:
        database = DATA / "database"
        _DATABASE["levels"] = scipy_fit.read_levels(database / "Ar_I_levels.txt")
        _DATABASE["table"] = scipy_fit.read_lines(database / "Ar_I.txt")
    levels, table = _DATABASE["levels"], _DATABASE["table"]
    lines = scipy_fit.read_measurement(Path(file), table, levels)
    return scipy_fit, scipy_fit.Model(levels, lines, tn=TN, path=PATH, count=COUNT)


def scipy_fit_file(task):
    """One file read and fitted as a user's script would; (log10 n_1, T, evaluations)."""
    file, free, tight = task
    scipy_fit, model = scipy_model(file)
    warnings.simplefilter("ignore")  # SciPy's note that lm's 3-point Jacobian is its 2-point one
    result = scipy_fit.fit(model, free, tight, start_t=T_EXC)
    t = result.x[1] if free == 2 else T_EXC
    return float(result.x[0]), float(t), int(result.nfev)


def scipy_pool(free, files, tight=False):
    """The peer: every file on a pool of as many processes as cores; (seconds, results)."""
    start = time.perf_counter()
    with multiprocessing.Pool(os.cpu_count()) as pool:
        results = pool.map(scipy_fit_file, [(f, free, tight) for f in files],
                           chunksize=max(1, len(files) // (8 * os.cpu_count())))
    return time.perf_counter() - start, results


def lumora_results(stdout):
    """{file: (log10 n_1, second, stop)} from the JSON objects lumora-cli prints."""
    decoder, found, pos = json.JSONDecoder(), {}, 0
    while (pos := stdout.find("{", pos)) >= 0:
        obj, pos = decoder.raw_decode(stdout, pos)
        found[Path(obj["file"]).name] = (obj["log10_n1"], obj["second"]["value"], obj["stop"])
    return found


def in_process_fit_times(bench, repeat):
    """Mean µs of one noisy fit in process: {parameters: (Lumora, SciPy)}."""
    out = run([bench, "--benchmark_filter=BM_NoisyFit", "--benchmark_format=json",
               f"--benchmark_repetitions={max(1, repeat)}"]).stdout
    lumora = {}  # the best repetition, in µs (the benchmark's unit)
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") == "iteration":
            lumora[b["run_name"]] = min(lumora.get(b["run_name"], math.inf), b["cpu_time"])
    import scipy_fit
    levels = scipy_fit.read_levels(DATA / "database" / "Ar_I_levels.txt")
    table = scipy_fit.read_lines(DATA / "database" / "Ar_I.txt")
    sample = scipy_fit.Model(levels, scipy_fit.read_measurement(
        DATA / "measurements" / "argon_n4e16_noise.txt", table, levels))
    times = {}
    for free in (1, 2):
        cpu, _ = scipy_fit.best_time(lambda: scipy_fit.fit(sample, free, False), max(1, repeat))
        times[free] = (lumora.get(f"BM_NoisyFit/{free}", math.nan), cpu * 1e6)
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--compare", type=int, default=100, help="files fitted tightly by SciPy")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--cli", default=str(DEFAULT_CLI))
    parser.add_argument("--bench", default=str(DEFAULT_BENCH))
    parser.add_argument("--scipy-pool", nargs="+", metavar="ARG", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.scipy_pool:  # the peer process: FREE FILE...
        seconds, results = scipy_pool(int(args.scipy_pool[0]), args.scipy_pool[1:])
        print(json.dumps({"seconds": seconds, "results": results}))
        return

    rows, agreement, stops = [], [], []
    with tempfile.TemporaryDirectory(prefix="lumora-noisy-") as folder:
        measurements = Path(folder) / "meas"
        measurements.mkdir()
        files = write_measurements(measurements, args.files)
        ini = write_settings(folder, DATA / "database", measurements)
        for free in (1, 2):
            cli = [args.cli, "--ini", ini, "fit", "--json"] + LUMORA_OPTIONS
            if free == 2:
                cli.append("--fit-temperature")
            best_lumora = best_scipy = None
            for _ in range(max(1, args.repeat)):
                lumora = run(cli + files)
                if best_lumora is None or lumora.wall < best_lumora.wall:
                    best_lumora = lumora
                peer = json.loads(run([PYTHON, __file__, "--scipy-pool", str(free)] + files,
                                      env=numpy_env()).stdout)
                if best_scipy is None or peer["seconds"] < best_scipy["seconds"]:
                    best_scipy = peer
            found = lumora_results(best_lumora.stdout)
            ended = [found[Path(f).name][2] for f in files if Path(f).name in found]
            unconverged = sum(stop in ("itercount reached", "lambda reached") for stop in ended)
            stops.append([f"{free} parameter(s)", str(len(ended)), str(unconverged),
                          f"{100 * unconverged / max(1, len(ended)):.1f} %"])
            label = "n_1 alone" if free == 1 else "n_1 and T_exc"
            rows.append([f"{label}: lumora-cli fit, all {os.cpu_count()} cores",
                         f"{best_lumora.wall:.3f}", f"{best_lumora.wall / args.files * 1e6:.0f}", "1.00"])
            rows.append([f"{label}: SciPy pool of {os.cpu_count()}", f"{best_scipy['seconds']:.3f}",
                         f"{best_scipy['seconds'] / args.files * 1e6:.0f}",
                         f"{best_scipy['seconds'] / best_lumora.wall:.2f}"])
            # Not timed: the optimum against a tight SciPy fit of the same files.
            compared = files[:max(0, args.compare)]
            _, tight = scipy_pool(free, compared, tight=True)
            dn = dt = 0.0
            for f, (log_n1, t, _) in zip(compared, tight):
                ours = found.get(Path(f).name)
                if ours is None:
                    continue
                dn = max(dn, abs(ours[0] - log_n1))
                dt = max(dt, abs(ours[1] - t) / t)
            agreement.append([f"{free} parameter(s)", str(len(compared)), f"{dn:.2e}",
                              f"{dt:.2e}" if free == 2 else "-"])

    print(f"{args.files} argon measurements of 27 lines, {NOISE:.0%} noise, T_exc {T_EXC:g} K, "
          f"Tn {TN:g} K, path {PATH:g} m; whole processes, best of {max(1, args.repeat)} rounds")
    print_table(["", "wall s", "µs/file", "x faster than SciPy"], rows)
    print()
    print_table(["Lumora's fits", "files", "itercount/lambda reached", "share"], stops)
    print()
    print_table(["against tight SciPy fits", "files", "max |d log10 n_1|", "max |dT|/T"], agreement)
    if Path(args.bench).exists():
        print()
        times = in_process_fit_times(args.bench, args.repeat)
        print_table(["one fit in process (argon_n4e16_noise.txt)", "Lumora µs", "SciPy µs", "ratio"],
                    [[f"{free} parameter(s)", f"{lumora:.1f}", f"{scipy:.1f}", f"{scipy / lumora:.1f}"]
                     for free, (lumora, scipy) in times.items()])


if __name__ == "__main__":
    main()
