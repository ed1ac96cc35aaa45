#!/usr/bin/python3
"""Writes synthetic recorded spectra of the bundled rare-gas lines.

    /usr/bin/python3 data/make_recording.py                 rewrite the sample spectra
    /usr/bin/python3 data/make_recording.py --check         compare them with what would be written
    /usr/bin/python3 data/make_recording.py --gas neon      only that gas's (repeatable)
    /usr/bin/python3 data/make_recording.py --log-n1 16 --fwhm 0.2 --step 0.02 \\
        --offset 0.1 --clip 60000 --profile voigt --areas areas.tsv out.recording.csv
    /usr/bin/python3 data/make_recording.py --series FOLDER --count 200 --seed 11
                                                            a pulse of COUNT recordings

Every line of the gas's database/SYMBOL_I.txt (argon's unless --gas says otherwise) becomes a Gaussian or Voigt profile at its
wavelength (plus an optional offset) whose area is the line's intensity from
the self-absorption model of make_gas.py at the given n_1: the effective
branching fraction over the wavelength times a made-up upper-level factor,
exactly as the sample measurements are made. The areas are scaled so that
the strongest line's peak reaches the requested signal-to-noise ratio under
Poisson statistics (peak / sqrt(peak + continuum)), on a sloping continuum;
then every point is drawn from a Poisson distribution and optionally clipped
at a detector ceiling. --areas writes the areas put in (counts x nm).

--series writes a time series of recordings along a discharge pulse: n_1
rises from its base to its peak while the pulse is on and falls back after
it (exponentially, with the time constants of pulse_log_n1), each file named
by its time (argon_pulse_t=0040us.recording.csv) and stamped with it in its
header ("# time: 2026-03-01T10:00:00.000040Z"), every file with a seed of its
own (the series' seed plus its index).

Needs NumPy (Debian's python3-numpy); the Voigt profile also SciPy.
"""

import argparse
import math
import sys
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import make_gas  # noqa: E402

GAUSS_AREA_PER_PEAK = math.sqrt(math.pi / (4 * math.log(2)))  # area / (peak x FWHM)



def gas_samples(key, seeds, snr=300):
    """A gas's two installed spectra: one at low density, one denser and shifted."""
    return [
        {"file": f"{key}_n2e15.recording.csv", "log_n1": math.log10(2e15), "fwhm": 0.3,
         "step": 0.05, "snr": snr, "offset": 0.0, "seed": seeds[0]},
        {"file": f"{key}_n1.5e17_shifted.recording.csv", "log_n1": math.log10(1.5e17),
         "fwhm": 0.3, "step": 0.05, "snr": snr, "offset": 0.12, "seed": seeds[1]},
    ]


# The installed samples per gas, with the wavelength range each spectrum
# covers (all of the gas's lines); what each shows is in measurements/README.md.
SAMPLES = {
    "argon": ((660.0, 985.0), gas_samples("argon", (1, 2))),
    "neon": ((530.0, 820.0), gas_samples("neon", (3, 4))),
    # At 1.5E17 m-3 krypton's n_1 rests on its weak 556.2 and 557.0 nm lines
    # (the 2p2 and 2p3 lines to 1s5): at the others' S/N their noise moves n_1
    # by several per cent (at 1000 still by 3 %), so its spectra are recorded
    # with a ten times better one.
    "krypton": ((545.0, 905.0), gas_samples("krypton", (5, 6), snr=3000)),
    "xenon": ((440.0, 1095.0), gas_samples("xenon", (7, 8))),
}

# The pulse of a series: on for PULSE_ON_US, n_1 rising from PULSE_BASE to
# PULSE_PEAK with the time constant PULSE_RISE_US, then falling back with
# PULSE_FALL_US; a recording every PULSE_STEP_US from the pulse's start.
PULSE_BASE, PULSE_PEAK = 2e15, 1.5e17
PULSE_ON_US, PULSE_RISE_US, PULSE_FALL_US = 200.0, 50.0, 80.0
PULSE_STEP_US = 40
PULSE_START = "2026-03-01T10:00:00"
# The installed series: one pulse, sampled coarser than the recordings above
# so that the dozen files stay small.
SERIES_SAMPLE = {"folder": "pulse", "count": 12, "step": 0.1, "seed": 100}


def pulse_log_n1(t_us):
    """log10 n_1 at t_us after the pulse's start."""
    rise = 1 - math.exp(-min(t_us, PULSE_ON_US) / PULSE_RISE_US)
    n1 = PULSE_BASE + (PULSE_PEAK - PULSE_BASE) * rise
    if t_us > PULSE_ON_US:
        n1 = PULSE_BASE + (n1 - PULSE_BASE) * math.exp(-(t_us - PULSE_ON_US) / PULSE_FALL_US)
    return math.log10(n1)


def series_files(folder, count, seed, step=0.05, gas=None):
    """{path: text} of a pulse of `count` recordings in folder."""
    gas = gas or make_gas.GASES["argon"]
    wavelength_range = SAMPLES[gas.key][0]
    files = {}
    # Names of equal width sort in the order of time.
    width = max(4, len(str((count - 1) * PULSE_STEP_US)))
    for k in range(count):
        t_us = k * PULSE_STEP_US
        text, _ = make(gas, wavelength_range, pulse_log_n1(t_us), 0.3, step, 300, 0.0, seed + k)
        stamp = f"# time: {PULSE_START}.{t_us:06d}Z\n"
        files[Path(folder) / f"{gas.key}_pulse_t={t_us:0{width}d}us.recording.csv"] = stamp + text
    return files


# Continuum of every spectrum: counts at the two ends of its range.
CONTINUUM = (400.0, 250.0)


def line_areas(gas, log_n1):
    """(wavelength text, wavelength, relative area) of every line of the gas's bundled base."""
    levels, lines, _ = make_gas.gas_model(gas)
    fractions = make_gas.model_fractions(levels, lines, log_n1, gas.mass_amu)
    return [(ln.wl_text, ln.wl, make_gas.upper_scale(gas, levels[ln.upper]) * g / ln.wl)
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


def make(gas, wavelength_range, log_n1, fwhm, step, snr, offset, seed, kind="gauss", clip=None,
         noise=True):
    """The spectrum's text and the areas put in."""
    lo, hi = wavelength_range
    count = int(round((hi - lo) / step)) + 1
    x = lo + step * np.arange(count)
    continuum = CONTINUUM[0] + (CONTINUUM[1] - CONTINUUM[0]) * (x - lo) / (hi - lo)
    lines = line_areas(gas, log_n1)
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
    header = (f"# synthetic {gas.key} spectrum made by make_recording.py: n_1 = {10 ** log_n1:.4g} m^-3, "
              f"{kind} lines of FWHM {fwhm} nm, offset {offset} nm, peak S/N {snr}, seed {seed}\n"
              "wavelength_nm,counts\n")
    rows = "".join(f"{w:.4f},{c:.0f}\n" if noise else f"{w:.4f},{c:.6g}\n"
                   for w, c in zip(x, counts))
    return header + rows, areas


def sample_files(gases):
    files = {}
    if any(gas.key == "argon" for gas in gases):
        argon = make_gas.GASES["argon"]
        files.update(series_files(make_gas.sample_path(argon, SERIES_SAMPLE["folder"]),
                                  SERIES_SAMPLE["count"], SERIES_SAMPLE["seed"],
                                  SERIES_SAMPLE["step"]))
    for gas in gases:
        wavelength_range, samples = SAMPLES[gas.key]
        for s in samples:
            files[make_gas.sample_path(gas, s["file"])] = make(
                gas, wavelength_range, s["log_n1"], s["fwhm"], s["step"], s["snr"], s["offset"],
                s["seed"])[0]
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", help="write one spectrum here instead of the samples")
    parser.add_argument("--check", action="store_true",
                        help="compare the committed sample spectra with the generated ones")
    parser.add_argument("--gas", action="append", default=[],
                        help="only this gas (" + ", ".join(make_gas.GASES) + "); repeatable; "
                        "with OUTPUT the gas whose lines are drawn (argon by default)")
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
    parser.add_argument("--series", metavar="FOLDER",
                        help="write a pulse of --count recordings into FOLDER")
    parser.add_argument("--count", type=int, default=SERIES_SAMPLE["count"],
                        help="recordings of --series")
    args = parser.parse_args()

    gases = make_gas.chosen_gases(args.gas)
    if args.series:
        if args.count < 1 or args.count * PULSE_STEP_US > 999999:
            parser.error(f"--count takes 1 to {999999 // PULSE_STEP_US} recordings")
        folder = Path(args.series)
        folder.mkdir(parents=True, exist_ok=True)
        gas = gases[0] if args.gas else make_gas.GASES["argon"]
        for path, text in series_files(folder, args.count, args.seed, args.step, gas).items():
            path.write_text(text, encoding="ascii")
        return 0
    if args.output:
        gas = gases[0] if args.gas else make_gas.GASES["argon"]
        text, areas = make(gas, SAMPLES[gas.key][0], args.log_n1, args.fwhm, args.step, args.snr, args.offset, args.seed,
                           args.profile, args.clip, not args.no_noise)
        Path(args.output).write_text(text, encoding="ascii")
        if args.areas:
            Path(args.areas).write_text("".join(f"{w}\t{a:.8g}\n" for w, a in areas),
                                        encoding="ascii")
        return 0
    return make_gas.write_or_check(sample_files(gases), args.check)


if __name__ == "__main__":
    sys.exit(main())
