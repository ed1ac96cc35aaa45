#!/usr/bin/python3
"""The NumPy peer of bench_line_integration.cpp: the same 100 000-point argon spectrum
(660 to 985 nm, Gaussian lines of FWHM 0.3 nm, Poisson noise, the strongest
peak at S/N 300, made by data/make_recording.py), its SNIP baseline with the
same smoothing and clipping widths, and the net area of every line of the
bundled base over +-2 FWHM, with the FWHM given.

    /usr/bin/python3 bench/numpy_line_integration.py [--repeat N] [--points N]

Each slice of the SNIP loop is one vectorised NumPy operation. Prints the
best CPU and wall time of the baseline and of the whole integration, for
comparison with BM_SnipBaseline and BM_Integrate/0.
Needs python3-numpy (Debian's, hence /usr/bin/python3).
"""

import argparse
import resource
import sys
import time
from pathlib import Path

import numpy as np

DATA = Path(__file__).resolve().parent.parent / "data"
sys.path.insert(0, str(DATA))
import make_recording  # noqa: E402

POINTS = 100_000
RANGE_NM = (660.0, 985.0)  # as bench_line_integration's spectrum
FWHM = 0.3
WINDOW = 2.0


WIDEST_CLIP = 64  # as kWidestClipPoints: wider clips work on block means


def clip_in_place(v, clip):
    for p in range(1, min(clip, (len(v) - 1) // 2) + 1):
        v[p:-p] = np.minimum(v[p:-p], 0.5 * (v[:-2 * p] + v[2 * p:]))


def snip(y, clip, smooth):
    kernel = np.ones(2 * smooth + 1) / (2 * smooth + 1)
    v = np.convolve(y, kernel, mode="same")
    if clip <= WIDEST_CLIP:
        clip_in_place(v, clip)
        return v
    factor = -(-clip // WIDEST_CLIP)
    n = len(v)
    blocks = -(-n // factor)
    padded = np.concatenate([v, np.full(blocks * factor - n, np.nan)])
    coarse = np.nanmean(padded.reshape(blocks, factor), axis=1)
    starts = np.arange(blocks) * factor
    centres = 0.5 * (starts + np.minimum(starts + factor, n) - 1)
    clip_in_place(coarse, -(-clip // factor))
    return np.interp(np.arange(n), centres, coarse)


def integrate(x, y, centers):
    step = (x[-1] - x[0]) / (len(x) - 1)
    half = WINDOW * FWHM
    baseline = snip(y, int(np.ceil(2 * half / step)) + 1, int(round(0.5 * FWHM / step)))
    net = y - baseline
    areas = []
    for c in centers:
        m = (x >= c - half) & (x <= c + half)
        areas.append(np.trapz(net[m], x[m]))
    return baseline, areas


def best(fn, repeat):
    cpu, wall = [], []
    for _ in range(repeat):
        c0, w0 = time.process_time(), time.perf_counter()
        fn()
        cpu.append(time.process_time() - c0)
        wall.append(time.perf_counter() - w0)
    return min(cpu), min(wall)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=10)
    parser.add_argument("--points", type=int, default=POINTS)
    args = parser.parse_args()
    gas = make_recording.make_gas.GASES["argon"]
    lo, hi = RANGE_NM
    text, _ = make_recording.make(gas, RANGE_NM, np.log10(2e15), FWHM, (hi - lo) / (args.points - 1),
                                  300, 0.0, 1)
    data = np.loadtxt(text.splitlines()[2:], delimiter=",")
    x, y = data[:, 0], data[:, 1]
    centers = [wl for _, wl, _ in make_recording.line_areas(gas, np.log10(2e15))]
    step = (x[-1] - x[0]) / (len(x) - 1)
    clip, smooth = int(np.ceil(2 * WINDOW * FWHM / step)) + 1, int(round(0.5 * FWHM / step))
    for name, fn in (("snip baseline", lambda: snip(y, clip, smooth)),
                     ("integration", lambda: integrate(x, y, centers))):
        cpu, wall = best(fn, args.repeat)
        print(f"{name:14s} {len(x)} points, clip {clip}: best CPU {cpu * 1e3:.1f} ms, wall {wall * 1e3:.1f} ms")
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"peak memory {peak:.0f} MB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
