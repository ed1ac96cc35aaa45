#!/usr/bin/env python3
"""Writes the bundled rare-gas data sets from the facts in data/facts/.

    python3 data/make_gas.py                 rewrite every gas's database and samples
    python3 data/make_gas.py --gas neon      only that gas (repeatable)
    python3 data/make_gas.py --check         compare them with what would be written
    python3 data/make_gas.py --fits          the density a fit should give back per sample

Outputs per gas (all beside this script; SYMBOL is Ar, Ne, Kr or Xe):
  database/SYMBOL_I_levels.txt  level file: 3 header lines, then the four 1s and
                                the ten 2p levels in ascending energy
  database/SYMBOL_I.txt         atomic line file: 5 header lines, then the 2p-1s
                                lines in ascending wavelength with their grades
  measurements/[gas/]*.txt      synthetic measurements computed with the
                                self-absorption model below (see Gas.samples)

The gas is only data here: its facts, its mass and its samples. Every
statistical weight comes from the gas's own level and line tables.

Standard library only.
"""

import argparse
import math
import random
import sys
from dataclasses import dataclass, field
from decimal import Decimal
from pathlib import Path

HERE = Path(__file__).resolve().parent
FACTS = HERE / "facts"
DATABASE = HERE / "database"
MEASUREMENTS = HERE / "measurements"

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

# The conditions of lumora.ini's defaults: gas temperature, path and the
# four 1s levels under a Boltzmann distribution at the fit temperature field.
TN = 300.0
PATH_M = 1.0
COUNT = 4
T_EXC = 1000.0

STRONG_AKI = 5e6  # the "strong" selection keeps lines with Aki at or above this


@dataclass(frozen=True)
class Gas:
    key: str            # the name on the command line and in sample file names
    symbol: str         # element symbol of the line file, "Ar"
    levels_facts: str   # files in facts/
    lines_facts: str
    mass_amu: float     # "m" of the element's settings section
    lower_shell: str    # "3p5 4s": the configuration of the 1s levels, for the headers
    upper_shell: str    # "3p5 4p": that of the 2p levels
    # Energy (eV) near the lowest 2p level: the made-up upper-level factor of
    # the samples is 1 there (see upper_scale).
    scale_energy_eV: float
    samples: tuple = ()
    sample_folder: str = ""  # below measurements/
    made_by: str = "make_gas.py"

    @property
    def level_file(self):
        return f"{self.symbol}_I_levels.txt"

    @property
    def line_file(self):
        return f"{self.symbol}_I.txt"


def fail(message):
    sys.exit("make_gas.py: " + message)


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


def load_facts(gas):
    """The gas's levels in ascending energy and its lines in ascending wavelength."""
    levels = sorted(read_tsv(FACTS / gas.levels_facts), key=lambda lv: float(lv["energy_eV"]))
    lines = sorted(read_tsv(FACTS / gas.lines_facts),
                   key=lambda ln: float(ln["wavelength_air_nm"]))
    by_name = {lv["paschen"]: lv for lv in levels}
    for lv in levels:
        if float(lv["g"]) != 2 * float(lv["J"]) + 1:
            fail(f"{gas.key} level {lv['paschen']}: g {lv['g']} is not 2J+1")
    for ln in lines:
        for side, energy, j, g in (("upper", "Ek_eV", "J_k", "g_k"),
                                   ("lower", "Ei_eV", "J_i", "g_i")):
            level = by_name.get(ln[side])
            if level is None:
                fail(f"line {ln['wavelength_air_nm']}: unknown {side} level {ln[side]}")
            # Energies must be the very same text so that the program's exact
            # comparison ties every line to its levels.
            if level["energy_eV"] != ln[energy]:
                fail(f"line {ln['wavelength_air_nm']}: {energy} {ln[energy]} differs "
                     f"from level {ln[side]} {level['energy_eV']}")
            # The weights of a line are those of its own gas's levels.
            if (ln[j], ln[g]) != (level["J"], level["g"]):
                fail(f"line {ln['wavelength_air_nm']}: {side} J {ln[j]}, g {ln[g]} differ "
                     f"from level {ln[side]} J {level['J']}, g {level['g']}")
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


def level_file(gas, levels):
    out = [
        f"{gas.symbol} I energy levels: {gas.lower_shell} and {gas.upper_shell} "
        f"(Paschen 1s5..1s2, 2p10..2p1); made by {gas.made_by}",
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


def line_file(gas, lines):
    out = [
        f"{gas.symbol} I lines {gas.upper_shell} - {gas.lower_shell} (Paschen 2p - 1s), "
        f"air wavelengths; made by {gas.made_by}",
        "Aki in 10^8 s^-1, energies in eV, J as decimals; '-' marks a missing value.",
        "Wavelengths, Aki with its accuracy grade, and levels as listed by the NIST Atomic Spectra Database; f_ik and log gf derived from Aki.",
        "El Ion   wl/nm       RelInt  Aki/1e8s-1  fik         S   log_gf Acc  Ei/eV        Ek/eV        Ji   Jk   gi   gk"
        " Conf_i / Conf_k / Term_i / Term_k / Type / Refs",
        "-" * 120,
    ]
    w = LINE_TEXT_WIDTHS
    for ln in lines:
        row = (fixed(gas.symbol, w["name"], "name") + " " + fixed("I", w["ion"], "ion")
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


def check_line_file(gas, text, lines):
    """Every data line must read back as the facts it was made from."""
    data = text.splitlines()[5:]
    if len(data) != len(lines):
        fail(f"{gas.line_file}: {len(data)} data lines for {len(lines)} lines")
    for row, ln in zip(data, lines):
        rec = read_back(row)
        expected = {"name": gas.symbol, "ion": "I", "wl": ln["wavelength_air_nm"],
                    "ei": ln["Ei_eV"], "ek": ln["Ek_eV"], "gi": ln["g_i"], "gk": ln["g_k"],
                    "conf_i": ln["conf_i"], "conf_k": ln["conf_k"],
                    "term_i": ln["term_i"], "term_k": ln["term_k"], "type": "E1",
                    "acc": ln["Acc"]}
        for key, want in expected.items():
            if rec[key] != want:
                fail(f"{gas.line_file} {ln['wavelength_air_nm']}: {key} reads {rec[key]!r}, not {want!r}")
        if abs(float(rec["aki"]) * 1e8 / float(ln["Aki_per_s"]) - 1) > 1e-12:
            fail(f"{gas.line_file} {ln['wavelength_air_nm']}: Aki reads {rec['aki']}")


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
        self.upper_name = facts["upper"]
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


def model_fractions(levels, lines, log_n1, mass_amu, t_exc=T_EXC, count=COUNT,
                    tn=TN, path=PATH_M):
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


def sum_of_squares(levels, lines, measured, log_n1, mass_amu):
    model = model_fractions(levels, lines, log_n1, mass_amu)
    return sum((m - f) ** 2 for m, f in zip(measured, model) if m > 0)


def best_log_density(levels, lines, measured, mass_amu, lo=14.0, hi=19.0):
    """The log10 n_1 that minimises the weighted sum of squares (scan, then golden section)."""
    def s(x):
        return sum_of_squares(levels, lines, measured, x, mass_amu)
    steps = 2000
    grid = [lo + (hi - lo) * k / steps for k in range(steps + 1)]
    values = [s(x) for x in grid]
    k = min(range(len(grid)), key=values.__getitem__)
    a, b = grid[max(k - 1, 0)], grid[min(k + 1, steps)]
    ratio = (math.sqrt(5) - 1) / 2
    for _ in range(200):
        c, d = b - ratio * (b - a), a + ratio * (b - a)
        if s(c) < s(d):
            b = d
        else:
            a = c
    return (a + b) / 2


# ---------------------------------------------------------------- gases

# Every sample: the Boltzmann distribution at T_exc = 1000 K over the four 1s
# levels, Tn = 300 K, path 1 m and the gas's own mass, i.e. what a plain fit
# of the bundled settings assumes. "lines" picks the lines: "all", "strong"
# (Aki at or above STRONG_AKI) or "single" (only those of upper levels that
# have a single line, which cannot tell n_1).
def rare_gas_samples(key, single=False):
    samples = [
        {"file": f"{key}_n2e15.txt", "log_n1": math.log10(2e15), "noise": 0.0, "lines": "all"},
        {"file": f"{key}_n1.5e17.txt", "log_n1": math.log10(1.5e17), "noise": 0.0,
         "lines": "all"},
        {"file": f"{key}_n4e16_noise.txt", "log_n1": math.log10(4e16), "noise": 0.02,
         "seed": 6, "lines": "all"},
    ]
    if single:
        samples.append({"file": f"{key}_n4e16_single_line_levels.txt",
                        "log_n1": math.log10(4e16), "noise": 0.0, "lines": "single"})
    return tuple(samples)


GASES = {gas.key: gas for gas in (
    # Argon's files were written before the generator took other gases; their
    # header keeps the generator's name of then, so that they stay as shipped.
    Gas(key="argon", symbol="Ar", levels_facts="ar_i_levels.tsv",
        lines_facts="ar_i_4p_4s_lines.tsv", mass_amu=39.948,
        lower_shell="3p5 4s", upper_shell="3p5 4p", scale_energy_eV=12.9,
        made_by="make_argon.py",
        samples=(
            {"file": "argon_n2e15.txt", "log_n1": math.log10(2e15), "noise": 0.0,
             "lines": "all"},
            {"file": "argon_n1.5e17_strong.txt", "log_n1": math.log10(1.5e17), "noise": 0.0,
             "lines": "strong"},
            {"file": "argon_n4e16_noise.txt", "log_n1": math.log10(4e16), "noise": 0.02,
             "seed": 6, "lines": "all"},
            {"file": "argon_n8e15_notfound.txt", "log_n1": math.log10(8e15), "noise": 0.0,
             "lines": "all", "misprint": ("801.4786", "801.479")},
        )),
    Gas(key="neon", symbol="Ne", levels_facts="ne_i_levels.tsv",
        lines_facts="ne_i_3p_3s_lines.tsv", mass_amu=20.1797,
        lower_shell="2p5 3s", upper_shell="2p5 3p", scale_energy_eV=18.4,
        samples=rare_gas_samples("neon"), sample_folder="neon"),
    Gas(key="krypton", symbol="Kr", levels_facts="kr_i_levels.tsv",
        lines_facts="kr_i_5p_5s_lines.tsv", mass_amu=83.798,
        lower_shell="4p5 5s", upper_shell="4p5 5p", scale_energy_eV=11.3,
        samples=rare_gas_samples("krypton", single=True), sample_folder="krypton"),
    Gas(key="xenon", symbol="Xe", levels_facts="xe_i_levels.tsv",
        lines_facts="xe_i_6p_6s_lines.tsv", mass_amu=131.293,
        lower_shell="5p5 6s", upper_shell="5p5 6p", scale_energy_eV=9.6,
        samples=rare_gas_samples("xenon"), sample_folder="xenon"),
)}


def gas_model(gas):
    """The gas's levels (ascending energy), its lines as the program holds them, and the facts."""
    levels, facts_lines = load_facts(gas)
    index = {lv["paschen"]: i for i, lv in enumerate(levels)}
    return levels, [Line(f, index) for f in facts_lines], facts_lines


# ---------------------------------------------------------------- samples

def upper_scale(gas, level):
    """A smooth, made-up upper-level factor so that intensities look plausible."""
    return float(level["g"]) * math.exp(-(float(level["energy_eV"]) - gas.scale_energy_eV) / 0.5)


def gauss(rng):
    """One standard normal number from the generator's uniform stream (Box-Muller)."""
    u1 = 1.0 - rng.random()
    u2 = rng.random()
    return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * u2)


def format_intensity(x):
    return f"{x:.8g}"


def chosen_lines(all_lines, selection):
    if selection == "all":
        return list(all_lines)
    if selection == "strong":
        return [ln for ln in all_lines if ln.aki >= STRONG_AKI]
    if selection == "single":
        count = {}
        for ln in all_lines:
            count[ln.upper] = count.get(ln.upper, 0) + 1
        return [ln for ln in all_lines if count[ln.upper] == 1]
    fail(f"unknown line selection {selection!r}")


def sample_records(gas, levels, all_lines, sample):
    lines = chosen_lines(all_lines, sample["lines"])
    fractions = model_fractions(levels, lines, sample["log_n1"], gas.mass_amu)
    rng = random.Random(sample.get("seed", 0))
    raw = []
    for ln, g in zip(lines, fractions):
        # G = int x wl / sum over the level, so int = scale x G / wl.
        value = upper_scale(gas, levels[ln.upper]) * g / ln.wl
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


def sample_path(gas, name):
    return MEASUREMENTS / gas.sample_folder / name


def describe_samples(gas):
    """The density a fit should give back for each sample (the README quotes these)."""
    levels, all_lines, _ = gas_model(gas)
    for sample in gas.samples:
        lines, waves, texts = sample_records(gas, levels, all_lines, sample)
        if "misprint" in sample:
            stop = waves.index(sample["misprint"][1])
            lines, texts = lines[:stop], texts[:stop]
        measured = measured_fractions(lines, [float(t) for t in texts])
        best = best_log_density(levels, lines, measured, gas.mass_amu)
        print(f"{sample['file']}: {len(lines)} lines fitted, made with n_1 = "
              f"{10 ** sample['log_n1']:.4g} m^-3, best fit n_1 = {10 ** best:.4g} m^-3")


# ---------------------------------------------------------------- main

def outputs(gas):
    levels, lines, facts_lines = gas_model(gas)
    files = {
        DATABASE / gas.level_file: level_file(gas, levels),
        DATABASE / gas.line_file: line_file(gas, facts_lines),
    }
    check_line_file(gas, files[DATABASE / gas.line_file], facts_lines)
    for sample in gas.samples:
        _, waves, texts = sample_records(gas, levels, lines, sample)
        files[sample_path(gas, sample["file"])] = sample_file(waves, texts)
    return files


def chosen_gases(names):
    """The gases named (all when none is), in the table's order."""
    unknown = [n for n in names if n not in GASES]
    if unknown:
        fail(f"unknown gas {unknown[0]!r}; known: {', '.join(GASES)}")
    return [g for k, g in GASES.items() if not names or k in names]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gas", action="append", default=[],
                        help="only this gas (" + ", ".join(GASES) + "); repeatable")
    parser.add_argument("--check", action="store_true",
                        help="compare the committed files with the generated ones")
    parser.add_argument("--fits", action="store_true",
                        help="print the density a fit should recover from each sample")
    args = parser.parse_args()
    gases = chosen_gases(args.gas)
    if args.fits:
        for gas in gases:
            describe_samples(gas)
        return 0
    files = {}
    for gas in gases:
        files.update(outputs(gas))
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
