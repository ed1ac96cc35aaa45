#!/usr/bin/python3
"""Lumora from Python: read a bundled sample, fit it, map it, plot the map.

    PYTHONPATH=<prefix>/lib/python3/dist-packages /usr/bin/python3 examples/quickstart.py \
        [--ini FILE] [--measurement FILE] [--png FILE]

Without --ini the per-user settings file is used, found (and on a first
start copied from the machine-wide folder) as lumora-cli finds it; without
--measurement the sample argon_n2e15.txt of the settings' measurement folder.
The map is saved as a PNG when matplotlib is installed (python3-matplotlib).
"""

import argparse
import configparser
import pathlib

import numpy as np

import lumora


def bundled_sample(settings_file):
    settings = configparser.ConfigParser(interpolation=None)
    settings.read(settings_file, encoding="utf-8")
    return pathlib.Path(settings.get("_Files", "Measurements")) / "argon_n2e15.txt"


def plot(result, png):
    try:
        import matplotlib
    except ImportError:
        print("matplotlib is not installed (python3-matplotlib): no plot.")
        return
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(7, 5))
    mesh = axes.pcolormesh(result.log10_density, result.temperature, np.log10(result.grid),
                           shading="nearest", cmap="viridis")
    figure.colorbar(mesh, ax=axes, label="log10 RSS")
    row, column = result.minimum_index
    axes.plot(result.log10_density[column], result.temperature[row], "w+", markersize=14)
    axes.set_xlabel("log10 n_1 / m^-3")
    axes.set_ylabel("T_exc / K")
    axes.set_title("Residual map")
    figure.savefig(png, dpi=120, bbox_inches="tight")
    print(f"map plot: {png}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ini", help="settings file (default: the per-user one)")
    parser.add_argument("--measurement", help="measurement file (default: a bundled sample)")
    parser.add_argument("--png", default="lumora_map.png", help="where the map plot goes")
    args = parser.parse_args()

    session = lumora.Session(ini=args.ini)
    measurement = args.measurement or bundled_sample(session.settings_file)
    print(f"settings {session.settings_file}, element {session.element}")
    session.read_measurement(measurement)

    lines = session.line_table()
    print(f"{len(lines)} lines from {measurement}")

    fit = session.fit()  # the fields as the settings give them, as lumora-cli fit
    print(fit.header)
    print(fit.results_line)
    print(f"n_1 = {fit.n1:.4g} ± {fit.u_n1:.2g} m^-3 after {fit.iterations} iterations")

    both = session.fit(fit_temperature=True, temperature=1500)
    print(f"with the temperature: n_1 = {both.n1:.4g} m^-3, T = {both.second:.1f} ± "
          f"{both.u_second:.2g} K")

    result = session.map(density_points=60, temperature_points=40)
    row, column = result.minimum_index
    print(f"map minimum {result.minimum:.3e} at log10 n_1 = {result.log10_density[column]:.2f}, "
          f"T = {result.temperature[row]:.0f} K")
    plot(result, args.png)


if __name__ == "__main__":
    main()
