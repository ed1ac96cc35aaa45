#!/usr/bin/python3
"""The fit and the 50 x 50 map of bench_fit.cpp, done with SciPy and NumPy.

    /usr/bin/python3 bench/scipy_fit.py [--repeat N]

Reads the same files as the benchmark (the bundled argon database and the
sample argon_n2e15.txt), computes the same self-absorption model in double
precision with NumPy, fits log10 n_1 (and the temperature) with SciPy's
Levenberg-Marquardt (MINPACK, forward-difference Jacobian; once run on to the
sum of squares where bench_fit's fit stops, once with SciPy's own
tolerances), and evaluates the residual sum over the same grid: once point by
point, once broadcast over the whole grid. Prints the best CPU and wall time
of each and the results, for comparison with the figures of bench_fit.
Needs python3-numpy and python3-scipy (Debian's, hence /usr/bin/python3).
"""

import argparse
import math
import sys
import time
from pathlib import Path

import numpy as np
from scipy.optimize import least_squares

DATA = Path(__file__).resolve().parent.parent / "data"

# The physical constants, exactly as the program and the data generator use them.
sys.path.insert(0, str(DATA))
from make_gas import AMU, C_LIGHT, E_CHARGE, EIGHT_PI_HC, H_PLANCK, K_BOLTZMANN, TWO_K  # noqa: E402,F401


# The fields of an empty settings file, with argon's mass and four levels.
TN, PATH_M, MASS, COUNT = 300.0, 1.0, 39.948 * AMU, 4
FIT_START_LOG_N1, FIT_START_T = 16.0, 1000.0
MAP_DENSITY, MAP_TEMPERATURE, MAP_POINTS = (15.0, 18.0), (1000.0, 50000.0), 50


def read_levels(path):
    """(energy eV, g) per level: 3 header lines, configuration in 23 columns,
    term in 13, then J and the energy; a line starting with STOP ends it."""
    levels = []
    for raw in path.read_text(encoding="latin-1").splitlines()[3:]:
        if raw.startswith("STOP") or not raw.strip():
            break
        j, energy = raw[36:].split()[:2]
        levels.append((float(energy), 2 * float(j) + 1))
    return levels


def is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def read_lines(path):
    """wavelength -> (Aki s^-1, Ei, Ek, gi, gk) from the atomic line file."""
    table = {}
    for raw in path.read_text(encoding="latin-1").splitlines()[5:]:
        cells = raw.split()
        if len(cells) < 14:
            continue
        rest = cells[8:] if is_number(cells[8]) else cells[9:]  # accuracy may be blank
        wl = float(cells[2])
        table[wl] = (float(cells[4]) * 1e8, float(rest[0]), float(rest[1]),
                     int(rest[4]), int(rest[5]))
    return table


def read_measurement(path, table, levels):
    """Arrays of the measured lines, tied to their levels by exact energy."""
    energies = [e for e, _ in levels]
    rows = []
    for raw in path.read_text(encoding="latin-1").splitlines():
        if not raw.strip():
            continue
        wl, intensity = (float(x) for x in raw.split()[:2])
        aki, ei, ek, gi, gk = table[wl]
        rows.append((wl, intensity, aki, gi, gk, energies.index(ek), energies.index(ei)))
    cols = list(zip(*rows))
    wl, intensity, aki, gi, gk = (np.array(c, dtype=float) for c in cols[:5])
    upper, lower = (np.array(c, dtype=int) for c in cols[5:])
    measured = intensity * wl
    sums = np.bincount(upper, measured, minlength=len(levels))
    return dict(wl=wl, aki=aki, gi=gi, gk=gk, upper=upper, lower=lower,
                gm=measured / sums[upper])


class Model:
    """The effective branching fractions for a log10 n_1 and a temperature."""

    def __init__(self, levels, lines, tn=TN, path=PATH_M, count=COUNT):
        self.energy = np.array([e for e, _ in levels])
        self.g = np.array([g for _, g in levels])
        self.n_levels = len(levels)
        self.lines = lines
        lam = lines["wl"] * 1e-9
        v = math.sqrt(TWO_K * tn / MASS)
        strength = lam ** 5 * (lines["gk"] / lines["gi"]) / EIGHT_PI_HC * lines["aki"]
        # optical depth per unit density of the lower level
        self.tau_per_density = strength * H_PLANCK / lam * C_LIGHT / (math.sqrt(math.pi) * v * lam) * path
        self.count = min(count, self.n_levels)

    def densities(self, log_n1, t_exc):
        dens = np.zeros(self.n_levels)
        c = self.count
        dens[:c] = (10.0 ** log_n1 * self.g[:c] / self.g[0] *
                    np.exp(-(self.energy[:c] - self.energy[0]) * E_CHARGE / (K_BOLTZMANN * abs(t_exc))))
        return dens

    def fractions(self, log_n1, t_exc):
        lines = self.lines
        tau = np.abs(self.densities(log_n1, t_exc)[lines["lower"]]) * self.tau_per_density
        rate = (2.0 - np.exp(-tau * 0.001)) / (1.0 + tau) * lines["aki"]
        sums = np.bincount(lines["upper"], rate, minlength=self.n_levels)
        return rate / sums[lines["upper"]]

    def grid_rss(self, log_n1, t_exc):
        """Residual sums over a whole grid at once (arrays of equal shape)."""
        lines = self.lines
        c = self.count
        boltz = np.zeros(t_exc.shape + (self.n_levels,))
        boltz[..., :c] = (self.g[:c] / self.g[0] *
                          np.exp(-(self.energy[:c] - self.energy[0]) * E_CHARGE /
                                 (K_BOLTZMANN * np.abs(t_exc)[..., None])))
        dens = 10.0 ** log_n1[..., None] * boltz
        tau = dens[..., lines["lower"]] * self.tau_per_density
        rate = (2.0 - np.exp(-tau * 0.001)) / (1.0 + tau) * lines["aki"]
        onehot = np.zeros((len(lines["upper"]), self.n_levels))
        onehot[np.arange(len(lines["upper"])), lines["upper"]] = 1.0
        sums = rate @ onehot
        gf = rate / sums[..., lines["upper"]]
        m = len(lines["upper"])
        return ((gf - lines["gm"]) ** 2).sum(axis=-1) / (m - 2)


def fit(model, free, tight, start_t=FIT_START_T):
    gm = model.lines["gm"]
    weight = (gm > 0).astype(float)
    if free == 1:
        residual = lambda p: (model.fractions(p[0], start_t) - gm) * weight
        start = [FIT_START_LOG_N1]
    else:
        residual = lambda p: (model.fractions(p[0], p[1]) - gm) * weight
        start = [FIT_START_LOG_N1, start_t]
    if tight:  # run on to the least-squares optimum as far as float64 tells it
        return least_squares(residual, start, method="lm", jac="3-point",
                             xtol=1e-15, ftol=1e-15, gtol=1e-15)
    return least_squares(residual, start, method="lm")


def map_points(model):
    (d0, d1), (t0, t1), n = MAP_DENSITY, MAP_TEMPERATURE, MAP_POINTS
    gm = model.lines["gm"]
    m = len(gm)
    grid = np.empty((n, n))
    t = t0
    for i in range(n):
        x = d0
        for j in range(n):
            grid[i, j] = ((model.fractions(x, t) - gm) ** 2).sum() / (m - 2)
            x += (d1 - d0) / n
        t += (t1 - t0) / n
    return grid


def map_broadcast(model, n=MAP_POINTS):
    (d0, d1), (t0, t1) = MAP_DENSITY, MAP_TEMPERATURE
    x = d0 + np.arange(n) * (d1 - d0) / n
    t = t0 + np.arange(n) * (t1 - t0) / n
    tt, xx = np.meshgrid(t, x, indexing="ij")
    return model.grid_rss(xx, tt)


def best_time(fn, repeat):
    """Best CPU time and best wall time of one call, over repeat rounds of
    enough calls (CPU time is what bench_fit reports as "CPU")."""
    fn()
    start = time.process_time()
    fn()
    once = time.process_time() - start
    loops = max(1, int(0.2 / max(once, 1e-6)))
    best_cpu = best_wall = math.inf
    for _ in range(repeat):
        cpu, wall = time.process_time(), time.perf_counter()
        for _ in range(loops):
            fn()
        best_cpu = min(best_cpu, (time.process_time() - cpu) / loops)
        best_wall = min(best_wall, (time.perf_counter() - wall) / loops)
    return best_cpu, best_wall


def show(label, times, scale, unit, note):
    cpu, wall = times
    print(f"{label:45s} CPU {cpu * scale:9.2f} {unit}  wall {wall * scale:9.2f} {unit}  {note}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    levels = read_levels(DATA / "database" / "Ar_I_levels.txt")
    table = read_lines(DATA / "database" / "Ar_I.txt")
    lines = read_measurement(DATA / "measurements" / "argon_n2e15.txt", table, levels)
    model = Model(levels, lines)

    # The noise-free sample, and the noisy one (2 %) that bench_fit's BM_NoisyFit fits.
    for name in ("argon_n2e15.txt", "argon_n4e16_noise.txt"):
        sample = Model(levels, read_measurement(DATA / "measurements" / name, table, levels))
        print(f"{name}: {len(sample.lines['gm'])} lines, {len(levels)} levels")
        for free in (1, 2):
            for tight, label in ((True, "tolerances 1e-15"), (False, "SciPy's tolerances")):
                result = fit(sample, free, tight)
                values = ", ".join(f"{p:.9g}" for p in result.x)
                show(f"fit, {free} parameter(s), {label}:",
                     best_time(lambda: fit(sample, free, tight), args.repeat), 1e6, "us",
                     f"({result.nfev} evaluations, sum {2 * result.cost:.2e}; log10 n_1, T = {values})")
    grid = map_points(model)
    i, j = np.unravel_index(np.argmin(grid), grid.shape)
    show("map 50 x 50, point by point:", best_time(lambda: map_points(model), args.repeat),
         1e3, "ms", f"(minimum at row {i}, column {j})")
    grid_b = map_broadcast(model)
    show("map 50 x 50, broadcast:", best_time(lambda: map_broadcast(model), args.repeat),
         1e3, "ms", f"(largest difference to the point-by-point grid {np.abs(grid_b - grid).max():.2e})")
    # The sizes bench_fit's BM_Map runs on every core and on one.
    for n in (200, 500):
        show(f"map {n} x {n}, broadcast:", best_time(lambda: map_broadcast(model, n), args.repeat),
             1e3, "ms", "(float64, one core)")


if __name__ == "__main__":
    main()
