#!/usr/bin/python3
"""Writes synthetic recorded spectra of the bundled argon lines.

    /usr/bin/python3 data/make_recording.py                 rewrite the sample spectra
    /usr/bin/python3 data/make_recording.py --check         compare them with what would be written
    /usr/bin/python3 data/make_recording.py --log-n1 16 --fwhm 0.2 --step 0.02 \\
        --offset 0.1 --clip 60000 --profile voigt --areas areas.tsv out.recording.csv

Every line of database/Ar_I.txt becomes a Gaussian or Voigt profile at its
wavelength (plus an optional offset) whose area is the line's intensity from
the self-absorption model of make_argon.py at the given n_1: the effective
branching fraction over the wavelength times a made-up upper-level factor,
exactly as the sample measurements are made. The areas are scaled so that
the strongest line's peak reaches the requested signal-to-noise ratio under
Poisson statistics (peak / sqrt(peak + continuum)), on a sloping continuum;
then every point is drawn from a Poisson distribution and optionally clipped
at a detector ceiling. --areas writes the areas put in (counts x nm).

Needs NumPy (Debian's python3-numpy); the Voigt profile also SciPy.
"""

import argparse
import math
import sys
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import make_argon  # noqa: E402

GAUSS_AREA_PER_PEAK = math.sqrt(math.pi / (4 * math.log(2)))  # area / (peak x FWHM)

# The installed samples: what each shows is in measurements/README.md.
SAMPLES = [
    {"file": "argon_n2e15.recording.csv", "log_n1": math.log10(2e15), "fwhm": 0.3,
     "step": 0.05, "snr": 300, "offset": 0.0, "seed": 1},
    {"file": "argon_n1.5e17_shifted.recording.csv", "log_n1": math.log10(1.5e17), "fwhm": 0.3,
     "step": 0.05, "snr": 300, "offset": 0.12, "seed": 2},
]

# Wavelength range and continuum of every spectrum: counts at the two ends.
RANGE_NM = (660.0, 985.0)
CONTINUUM = (400.0, 250.0)


def line_areas(log_n1):
    """(wavelength text, wavelength, relative area) of every line of the bundled base."""
    levels, facts_lines = make_argon.load_facts()
    index = {lv["paschen"]: i for i, lv in enumerate(levels)}
    lines = [make_argon.Line(f, index) for f in facts_lines]
    fractions = make_argon.model_fractions(levels, lines, log_n1)
    return [(ln.wl_text, ln.wl, make_argon.upper_scale(levels[ln.upper]) * g / ln.wl)
            for ln, g in zip(lines, fractions)]


def profile(kind, x, center, fwhm):
    """A unit-area line profile; the Voigt one has equal Gaussian and Lorentzian widths."""
    if kind == "gauss":
        sigma = fwhm / (2 * math.sqrt(2 * math.log(2)))
        return np.exp(-0.5 * ((x - center) / sigma) ** 2) / (sigma * math.sqrt(2 * math.pi))
    from scipy.special import voigt_profile
    # Components of FWHM f each give a Voigt FWHM of about 1.64 f (Olivero's formula).
    part = fwhm / (0.5346 + math.sqrt(0.2166 + 1.0))
    return voigt_profile(x - center, part / (2 * math.sqrt(2 * math.log(2))), part / 2)


def peak_for_snr(snr, continuum):
    """The peak whose Poisson S/N, peak / sqrt(peak + continuum), is snr."""
    return 0.5 * (snr ** 2 + math.sqrt(snr ** 4 + 4 * snr ** 2 * continuum))


def make(log_n1, fwhm, step, snr, offset, seed, kind="gauss", clip=None, noise=True):
    """The spectrum's text and the areas put in."""
    lo, hi = RANGE_NM
    count = int(round((hi - lo) / step)) + 1
    x = lo + step * np.arange(count)
    continuum = CONTINUUM[0] + (CONTINUUM[1] - CONTINUUM[0]) * (x - lo) / (hi - lo)
    lines = line_areas(log_n1)
    strongest = max(a for _, _, a in lines)
    # The strongest line's peak sits on the continuum at its wavelength.
    top_wl = next(wl for _, wl, a in lines if a == strongest)
    top_continuum = float(np.interp(top_wl + offset, x, continuum))
    scale = peak_for_snr(snr, top_continuum) * GAUSS_AREA_PER_PEAK * fwhm / strongest
    expected = continuum.copy()
    areas = []
    for text, wl, relative in lines:
        area = relative * scale
        expected += area * profile(kind, x, wl + offset, fwhm)
        areas.append((text, area))
    counts = np.random.default_rng(seed).poisson(expected).astype(float) if noise else expected
    if clip is not None:
        counts = np.minimum(counts, clip)
    header = (f"# synthetic argon spectrum made by make_recording.py: n_1 = {10 ** log_n1:.4g} m^-3, "
              f"{kind} lines of FWHM {fwhm} nm, offset {offset} nm, peak S/N {snr}, seed {seed}\n"
              "wavelength_nm,counts\n")
    rows = "".join(f"{w:.4f},{c:.0f}\n" if noise else f"{w:.4f},{c:.6g}\n"
                   for w, c in zip(x, counts))
    return header + rows, areas


def sample_files():
    return {HERE / "measurements" / s["file"]:
            make(s["log_n1"], s["fwhm"], s["step"], s["snr"], s["offset"], s["seed"])[0]
            for s in SAMPLES}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", help="write one spectrum here instead of the samples")
    parser.add_argument("--check", action="store_true",
                        help="compare the committed sample spectra with the generated ones")
    parser.add_argument("--log-n1", type=float, default=math.log10(2e15))
    parser.add_argument("--fwhm", type=float, default=0.3, help="nm")
    parser.add_argument("--step", type=float, default=0.05, help="sampling, nm")
    parser.add_argument("--snr", type=float, default=300, help="the strongest line's peak S/N")
    parser.add_argument("--offset", type=float, default=0.0, help="wavelength offset, nm")
    parser.add_argument("--clip", type=float, help="detector ceiling, counts")
    parser.add_argument("--profile", choices=("gauss", "voigt"), default="gauss")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--no-noise", action="store_true")
    parser.add_argument("--areas", help="write the areas put in (wavelength, counts x nm)")
    args = parser.parse_args()

    if args.output:
        text, areas = make(args.log_n1, args.fwhm, args.step, args.snr, args.offset, args.seed,
                           args.profile, args.clip, not args.no_noise)
        Path(args.output).write_text(text, encoding="ascii")
        if args.areas:
            Path(args.areas).write_text("".join(f"{w}\t{a:.8g}\n" for w, a in areas),
                                        encoding="ascii")
        return 0
    return make_argon.write_or_check(sample_files(), args.check)


if __name__ == "__main__":
    sys.exit(main())
