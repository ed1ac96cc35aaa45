#!/usr/bin/env python3
"""Writes the bundled argon data set from the facts in data/facts/.

    python3 data/make_argon.py           rewrite the database and the samples
    python3 data/make_argon.py --check   compare them with what would be written

Outputs (all beside this script):
  database/Ar_I_levels.txt   level file: 3 header lines, then the 14 levels
                             1s5..1s2, 2p10..2p1 in ascending energy
  database/Ar_I.txt          atomic line file: 5 header lines, then the 27
                             2p-1s lines in ascending wavelength
  measurements/*.txt         synthetic measurements computed with the
                             self-absorption model below (see SAMPLES)

Standard library only.
"""

import argparse
import math
import random
import sys
from decimal import Decimal
from pathlib import Path

HERE = Path(__file__).resolve().parent
FACTS = HERE / "facts"
DATABASE = HERE / "database"
MEASUREMENTS = HERE / "measurements"

LEVEL_FILE = "Ar_I_levels.txt"
LINE_FILE = "Ar_I.txt"

# Widths of the text columns of the two formats; a text never exceeds them.
LEVEL_CONF_WIDTH = 23
LEVEL_TERM_WIDTH = 13
LINE_TEXT_WIDTHS = {"name": 2, "ion": 4, "acc": 4, "conf": 40, "term": 16,
                    "type": 8, "refs": 20}

# Physical constants, exactly as the program uses them.
K_BOLTZMANN = 1.380658e-23
TWO_K = 2.761316e-23
E_CHARGE = 1.60217733e-19
H_PLANCK = 6.6260755e-34
C_LIGHT = 299792458.0
EIGHT_PI_HC = 4.9924870002727175e-24
AMU = 1.6605402e-27

# The conditions of lumora.ini's defaults: gas temperature, path, mass and the
# four 1s levels under a Boltzmann distribution at the fit temperature field.
TN = 300.0
PATH_M = 1.0
MASS_AMU = 39.948
COUNT = 4
T_EXC = 1000.0


def fail(message):
    sys.exit("make_argon.py: " + message)


# ---------------------------------------------------------------- facts

def read_tsv(path):
    """Rows of a tab-separated table as dicts; '#' lines are comments."""
    rows, header = [], None
    for raw in path.read_text(encoding="ascii").splitlines():
        if not raw.strip() or raw.startswith("#"):
            continue
        cells = raw.split("\t")
        if header is None:
            header = cells
            continue
        if len(cells) != len(header):
            fail(f"{path.name}: {len(cells)} cells where {len(header)} are expected: {raw!r}")
        rows.append(dict(zip(header, cells)))
    return rows


def load_facts():
    levels = read_tsv(FACTS / "ar_i_levels.tsv")
    lines = read_tsv(FACTS / "ar_i_4p_4s_lines.tsv")
    by_name = {lv["paschen"]: lv for lv in levels}
    for ln in lines:
        for side, energy in (("upper", "Ek_eV"), ("lower", "Ei_eV")):
            level = by_name.get(ln[side])
            if level is None:
                fail(f"line {ln['wavelength_air_nm']}: unknown {side} level {ln[side]}")
            # Energies must be the very same text so that the program's exact
            # comparison ties every line to its levels.
            if level["energy_eV"] != ln[energy]:
                fail(f"line {ln['wavelength_air_nm']}: {energy} {ln[energy]} differs "
                     f"from level {ln[side]} {level['energy_eV']}")
    energies = [float(lv["energy_eV"]) for lv in levels]
    if any(b <= a for a, b in zip(energies, energies[1:])):
        fail("level energies do not ascend strictly")
    if not levels[0]["paschen"] == "1s5":
        fail("the first level must be the 1s5 metastable")
    waves = [float(ln["wavelength_air_nm"]) for ln in lines]
    if any(b <= a for a, b in zip(waves, waves[1:])):
        fail("line wavelengths do not ascend strictly")
    return levels, lines


# ---------------------------------------------------------------- formats

def fixed(text, width, what):
    if len(text) > width:
        fail(f"{what} {text!r} is wider than its {width}-character field")
    return text.ljust(width)


def level_file(levels):
    out = [
        "Ar I energy levels: 3p5 4s and 3p5 4p (Paschen 1s5..1s2, 2p10..2p1); made by make_argon.py",
        "Configuration in 23 columns, term in 13, then J and the energy in eV above the ground state.",
        "Configuration          Term         J   Energy/eV  Paschen",
    ]
    for lv in levels:
        out.append(fixed(lv["configuration"], LEVEL_CONF_WIDTH, "configuration")
                   + fixed(lv["term"], LEVEL_TERM_WIDTH, "term")
                   + f"{lv['J']:>1} {lv['energy_eV']:>12}  {lv['paschen']}")
    return "\n".join(out) + "\n"


def exponent_form(value, digits):
    """One digit, the point, the further digits, "E", sign, two exponent digits."""
    mantissa, exponent = f"{value:.{digits - 1}E}".split("E")
    return f"{mantissa}E{int(exponent):+03d}"


def same_digits(text, shift=0):
    """A tabulated number times 10^shift, in exponent form with all of its digits."""
    value = Decimal(text)
    return exponent_form(value.scaleb(shift), len(value.as_tuple().digits))


def per_1e8(aki_text):
    """Aki in s^-1 as given, rewritten in units of 10^8 s^-1 without rounding."""
    return same_digits(aki_text, -8)


def line_file(lines):
    out = [
        "Ar I lines 3p5 4p - 3p5 4s (Paschen 2p - 1s), air wavelengths; made by make_argon.py",
        "Aki in 10^8 s^-1, energies in eV, J as decimals; '-' marks a missing value.",
        "Wavelengths, Aki with its accuracy grade, and levels as listed by the NIST Atomic Spectra Database; f_ik and log gf derived from Aki.",
        "El Ion   wl/nm       RelInt  Aki/1e8s-1  fik         S   log_gf Acc  Ei/eV        Ek/eV        Ji   Jk   gi   gk"
        " Conf_i / Conf_k / Term_i / Term_k / Type / Refs",
        "-" * 120,
    ]
    w = LINE_TEXT_WIDTHS
    for ln in lines:
        row = (fixed("Ar", w["name"], "name") + " " + fixed("I", w["ion"], "ion")
               + f" {ln['wavelength_air_nm']:>10}"
               + f" {'-':>6}"
               + f" {per_1e8(ln['Aki_per_s']):>11}"
               + f" {same_digits(ln['f_ik']):>11}"
               + f" {'-':>3}"
               + f" {ln['log_gf']:>7}"
               # One blank ends the log gf token, then the accuracy code of Aki.
               + " " + fixed(ln["Acc"], w["acc"], "accuracy")
               + f" {ln['Ei_eV']:>12} {ln['Ek_eV']:>12}"
               + f" {ln['J_i']:>4} {ln['J_k']:>4}"
               + f" {ln['g_i']:>4} {ln['g_k']:>4}"
               # From here on every text column starts one blank after the last.
               + " " + fixed(ln["conf_i"], w["conf"], "lower configuration")
               + " " + fixed(ln["conf_k"], w["conf"], "upper configuration")
               + " " + fixed(ln["term_i"], w["term"], "lower term")
               + " " + fixed(ln["term_k"], w["term"], "upper term")
               + " " + fixed("E1", w["type"], "line type")
               + " " + fixed("NIST ASD", w["refs"], "references").rstrip())
        out.append(row)
    return "\n".join(out) + "\n"


class FieldReader:
    """Reads one data line the way the program's line file reader does:
    numbers after any blanks, text columns of a fixed width, one-character
    separators."""

    def __init__(self, line):
        self.line, self.pos = line, 0

    def number(self):
        while self.pos < len(self.line) and self.line[self.pos] <= " ":
            self.pos += 1
        start = self.pos
        while self.pos < len(self.line) and self.line[self.pos] > " ":
            self.pos += 1
        return self.line[start:self.pos]

    def text(self, width):
        field = self.line[self.pos:self.pos + width]
        self.pos += len(field)
        return field

    def separator(self):
        self.pos += 1


def read_back(data_line):
    """The fields of one line file data line, trimmed as the program trims them."""
    r, w = FieldReader(data_line), LINE_TEXT_WIDTHS
    rec = {"name": r.text(w["name"]).strip()}
    r.separator()
    rec["ion"] = r.text(w["ion"]).strip()
    for key in ("wl", "relint", "aki", "fik", "s", "log_gf"):
        rec[key] = r.number()
    r.separator()
    rec["acc"] = r.text(w["acc"]).strip()
    for key in ("ei", "ek", "ji", "jk", "gi", "gk"):
        rec[key] = r.number()
    for key, width in (("conf_i", "conf"), ("conf_k", "conf"), ("term_i", "term"),
                       ("term_k", "term"), ("type", "type"), ("refs", "refs")):
        r.separator()
        rec[key] = r.text(w[width]).strip()
    return rec


def check_line_file(text, lines):
    """Every data line must read back as the facts it was made from."""
    data = text.splitlines()[5:]
    if len(data) != len(lines):
        fail(f"{LINE_FILE}: {len(data)} data lines for {len(lines)} lines")
    for row, ln in zip(data, lines):
        rec = read_back(row)
        expected = {"name": "Ar", "ion": "I", "wl": ln["wavelength_air_nm"],
                    "ei": ln["Ei_eV"], "ek": ln["Ek_eV"], "gi": ln["g_i"], "gk": ln["g_k"],
                    "conf_i": ln["conf_i"], "conf_k": ln["conf_k"],
                    "term_i": ln["term_i"], "term_k": ln["term_k"], "type": "E1",
                    "acc": ln["Acc"]}
        for key, want in expected.items():
            if rec[key] != want:
                fail(f"{LINE_FILE} {ln['wavelength_air_nm']}: {key} reads {rec[key]!r}, not {want!r}")
        if abs(float(rec["aki"]) * 1e8 / float(ln["Aki_per_s"]) - 1) > 1e-12:
            fail(f"{LINE_FILE} {ln['wavelength_air_nm']}: Aki reads {rec['aki']}")


# ---------------------------------------------------------------- model

class Line:
    """One line as the program holds it after reading the line file."""

    def __init__(self, facts, level_index):
        self.wl_text = facts["wavelength_air_nm"]
        self.wl = float(self.wl_text)
        # The reader multiplies the file's 10^8 s^-1 value by 10^8.
        self.aki = float(per_1e8(facts["Aki_per_s"])) * 1e8
        self.gi = int(facts["g_i"])
        self.gk = int(facts["g_k"])
        self.upper = level_index[facts["upper"]]
        self.lower = level_index[facts["lower"]]


def populations(levels, log_n1, t_exc, count):
    """Boltzmann densities of the first `count` levels; the others are empty."""
    n1 = 10.0 ** log_n1
    g0, e0 = float(levels[0]["g"]), float(levels[0]["energy_eV"])
    dens = [0.0] * len(levels)
    for i in range(min(count, len(levels))):
        g, e = float(levels[i]["g"]), float(levels[i]["energy_eV"])
        dens[i] = n1 * g / g0 * math.exp(-(e - e0) * E_CHARGE / (K_BOLTZMANN * t_exc))
    return dens


def escape_factor(tau):
    return (2.0 - math.exp(-tau * 0.001)) / (1.0 + tau)


def model_fractions(levels, lines, log_n1, t_exc=T_EXC, count=COUNT,
                    tn=TN, path=PATH_M, mass_amu=MASS_AMU):
    """Effective branching fraction of every line, normalised per upper level."""
    v = math.sqrt(TWO_K * tn / (mass_amu * AMU))
    dens = populations(levels, log_n1, t_exc, count)
    rates = []
    for ln in lines:
        lam = ln.wl * 1e-9
        b = lam ** 5 * (ln.gk / ln.gi) / EIGHT_PI_HC * ln.aki
        p = abs(dens[ln.lower]) * b * H_PLANCK / lam
        kappa0 = p * C_LIGHT / (math.sqrt(math.pi) * v * lam)
        rates.append(escape_factor(kappa0 * path) * ln.aki)
    sums = {}
    for ln, r in zip(lines, rates):
        sums[ln.upper] = sums.get(ln.upper, 0.0) + r
    return [r / sums[ln.upper] if sums[ln.upper] > 0 else -1.0
            for ln, r in zip(lines, rates)]


def measured_fractions(lines, intensities):
    """Measured branching fractions as the program forms them: int x wavelength."""
    sums = {}
    for ln, i in zip(lines, intensities):
        sums[ln.upper] = sums.get(ln.upper, 0.0) + i * ln.wl
    return [i * ln.wl / sums[ln.upper] if sums[ln.upper] > 0 else 0.0
            for ln, i in zip(lines, intensities)]


def sum_of_squares(levels, lines, measured, log_n1):
    model = model_fractions(levels, lines, log_n1)
    return sum((m - f) ** 2 for m, f in zip(measured, model) if m > 0)


def best_log_density(levels, lines, measured, lo=14.0, hi=19.0):
    """The log10 n_1 that minimises the weighted sum of squares (scan, then golden section)."""
    steps = 2000
    grid = [lo + (hi - lo) * k / steps for k in range(steps + 1)]
    values = [sum_of_squares(levels, lines, measured, x) for x in grid]
    k = min(range(len(grid)), key=values.__getitem__)
    a, b = grid[max(k - 1, 0)], grid[min(k + 1, steps)]
    ratio = (math.sqrt(5) - 1) / 2
    for _ in range(200):
        c, d = b - ratio * (b - a), a + ratio * (b - a)
        if sum_of_squares(levels, lines, measured, c) < sum_of_squares(levels, lines, measured, d):
            b = d
        else:
            a = c
    return (a + b) / 2


# ---------------------------------------------------------------- samples

# Every sample: the Boltzmann distribution at T_exc = 1000 K over the four 1s
# levels, Tn = 300 K, path 1 m, m = 39.948 u, i.e. what a plain fit assumes.
SAMPLES = [
    {"file": "argon_n2e15.txt", "log_n1": math.log10(2e15), "noise": 0.0,
     "lines": "all"},
    {"file": "argon_n1.5e17_strong.txt", "log_n1": math.log10(1.5e17), "noise": 0.0,
     "lines": "strong"},
    {"file": "argon_n4e16_noise.txt", "log_n1": math.log10(4e16), "noise": 0.02,
     "seed": 6, "lines": "all"},
    {"file": "argon_n8e15_notfound.txt", "log_n1": math.log10(8e15), "noise": 0.0,
     "lines": "all", "misprint": ("801.4786", "801.479")},
]

STRONG_AKI = 5e6  # the "strong" selection keeps lines with Aki at or above this


def upper_scale(level):
    """A smooth, made-up upper-level factor so that intensities look plausible."""
    return float(level["g"]) * math.exp(-(float(level["energy_eV"]) - 12.9) / 0.5)


def gauss(rng):
    """One standard normal number from the generator's uniform stream (Box-Muller)."""
    u1 = 1.0 - rng.random()
    u2 = rng.random()
    return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * u2)


def format_intensity(x):
    return f"{x:.8g}"


def sample_records(levels, all_lines, facts_lines, sample):
    chosen = [(ln, f) for ln, f in zip(all_lines, facts_lines)
              if sample["lines"] == "all" or ln.aki >= STRONG_AKI]
    lines = [ln for ln, _ in chosen]
    fractions = model_fractions(levels, lines, sample["log_n1"])
    rng = random.Random(sample.get("seed", 0))
    raw = []
    for ln, g in zip(lines, fractions):
        # G = int x wl / sum over the level, so int = scale x G / wl.
        value = upper_scale(levels[ln.upper]) * g / ln.wl
        if sample["noise"]:
            value *= 1.0 + sample["noise"] * gauss(rng)
        raw.append(value)
    top = max(raw)
    texts = [format_intensity(50000.0 * v / top) for v in raw]
    waves = [ln.wl_text for ln in lines]
    if "misprint" in sample:
        good, bad = sample["misprint"]
        waves[waves.index(good)] = bad
    return lines, waves, texts


def sample_file(waves, texts):
    return "".join(f"{w}\t{t}\n" for w, t in zip(waves, texts))


def describe_samples(levels, all_lines, facts_lines):
    """The density a fit should give back for each sample (the README quotes these)."""
    for sample in SAMPLES:
        lines, waves, texts = sample_records(levels, all_lines, facts_lines, sample)
        if "misprint" in sample:
            stop = waves.index(sample["misprint"][1])
            lines, texts = lines[:stop], texts[:stop]
        measured = measured_fractions(lines, [float(t) for t in texts])
        best = best_log_density(levels, lines, measured)
        print(f"{sample['file']}: {len(lines)} lines fitted, made with n_1 = "
              f"{10 ** sample['log_n1']:.4g} m^-3, best fit n_1 = {10 ** best:.4g} m^-3")


# ---------------------------------------------------------------- main

def outputs():
    levels, facts_lines = load_facts()
    for lv in levels:
        if float(lv["g"]) != 2 * float(lv["J"]) + 1:
            fail(f"level {lv['paschen']}: g {lv['g']} is not 2J+1")
    index = {lv["paschen"]: i for i, lv in enumerate(levels)}
    lines = [Line(f, index) for f in facts_lines]
    files = {
        DATABASE / LEVEL_FILE: level_file(levels),
        DATABASE / LINE_FILE: line_file(facts_lines),
    }
    check_line_file(files[DATABASE / LINE_FILE], facts_lines)
    for sample in SAMPLES:
        _, waves, texts = sample_records(levels, lines, facts_lines, sample)
        files[MEASUREMENTS / sample["file"]] = sample_file(waves, texts)
    return files, (levels, lines, facts_lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare the committed files with the generated ones")
    parser.add_argument("--fits", action="store_true",
                        help="print the density a fit should recover from each sample")
    args = parser.parse_args()
    files, model_input = outputs()
    if args.fits:
        describe_samples(*model_input)
        return 0
    return write_or_check(files, args.check)


def write_or_check(files, check):
    """Writes {path: text}, or with check tells which committed files differ (status 1)."""
    if check:
        stale = [p for p, text in files.items()
                 if not p.exists() or p.read_bytes() != text.encode("ascii")]
        for p in stale:
            print(f"differs from the generator: {p.relative_to(HERE)}", file=sys.stderr)
        return 1 if stale else 0
    for path, text in files.items():
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(text.encode("ascii"))
        print(f"wrote {path.relative_to(HERE)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
