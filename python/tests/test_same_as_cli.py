"""The module gives the numbers and texts of lumora-cli for every bundled
sample: results lines, fit logs, map grids, line tables and line analyses."""
import json
import re
import warnings

import numpy as np
import pytest

import lumora
from conftest import SAMPLES, SOURCE

# Keyword arguments and the lumora-cli options they stand for.
FIT_CASES = {
    "settings": ({}, []),
    "temperature": ({"fit_temperature": True, "temperature": 1500},
                    ["--fit-temperature", "--temperature", "1500"]),
    "1s": ({"distribution": "1s"}, ["--distribution", "1s"]),
    "fields": ({"density": 5e17, "max_iter": 7, "tn": 500, "path": 0.3, "count": 3},
               ["--density", "5e17", "--max-iter", "7", "--tn", "500", "--path", "0.3",
                "--count", "3"]),
    "texts": ({"density": "2.5E16", "path": "0.25"}, ["--density", "2.5E16", "--path", "0.25"]),
}

WAVELENGTH_MESSAGE = re.compile(r"Wavelength [0-9.]+ was not found\. Import was stopped\.")


def read(session, path):
    """Reads a measurement and returns the texts of its warnings."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        session.read_measurement(path)
    return [str(w.message) for w in caught if issubclass(w.category, lumora.LumoraWarning)]


@pytest.mark.parametrize("case", FIT_CASES)
@pytest.mark.parametrize("sample", [s.name for s in SAMPLES])
def test_fit_prints_what_the_cli_prints(world, cli, session, sample, case):
    kwargs, options = FIT_CASES[case]
    path = world / "meas" / sample
    run = cli("fit", *options, path)
    messages = read(session, path)
    if run.returncode != 0:
        # A fit the CLI refuses (a model that misses the lines grossly) is
        # refused here with the same message.
        with pytest.raises(lumora.Error) as refused:
            session.fit(**kwargs)
        assert run.stderr.splitlines()[-1] == f"{path}: {refused.value}"
        return
    result = session.fit(**kwargs)
    assert result.report == run.stdout.splitlines()
    assert [result.header, result.results_line] == run.stdout.splitlines()
    # The CLI's standard-error messages are the warnings, one for one.
    assert [f"{path}: {m}" for m in messages] == run.stderr.splitlines()
    assert result.results_line.endswith(f"{sample}  {result.procedure}")


@pytest.mark.parametrize("options,kwargs", [
    (["--noise", "0.02"], {"noise": 0.02}),
    (["--poisson", "--fit-temperature"], {"poisson": True, "fit_temperature": True}),
])
def test_weighted_fit_prints_what_the_cli_prints(world, cli, session, options, kwargs):
    path = world / "meas" / "argon_n4e16_noise.txt"
    run = cli("fit", *options, path)
    assert run.returncode == 0, run.stderr
    read(session, path)
    result = session.fit(**kwargs)
    assert result.report == run.stdout.splitlines()
    assert result.weighted and result.dof > 0 and 0 <= result.p_value <= 1
    assert result.u_log10_n1_robust is None
    assert session.fit().u_log10_n1_robust > 0
    with pytest.raises(ValueError, match="give one of them"):
        session.fit(noise=0.02, poisson=True)


@pytest.mark.parametrize("sample", [s.name for s in SAMPLES])
def test_fit_log_is_the_cli_log(world, cli, session, sample):
    path = world / "meas" / sample
    run = cli("fit", "--report", "log", "--fit-temperature", "--temperature", "1200", path)
    read(session, path)
    result = session.fit(fit_temperature=True, temperature=1200, log=True)
    assert result.log == run.stdout
    assert session.fit().log is None


def map_file_numbers(path):
    lines = path.read_bytes().decode().split("\r\n")
    assert lines[0].startswith("#")
    return np.array([[float(v) for v in line.split()] for line in lines[1:] if line])


@pytest.mark.parametrize("sample", [s.name for s in SAMPLES])
def test_map_grid_is_the_map_file(world, cli, session, sample):
    path = world / "meas" / sample
    run = cli("map", "--save-map", "--density-points", "23", "--temperature-points", "17",
              "--distribution", "1s", path)
    assert run.returncode == 0, run.stderr
    read(session, path)
    result = session.map(density_points=23, temperature_points=17, distribution="1s")
    assert result.report == run.stdout.splitlines()
    saved = map_file_numbers(world / "meas" / "Maps" / f"{sample}_map.txt")
    assert result.grid.shape == saved.shape == (17, 23)
    assert result.grid.dtype == np.float64
    # The file holds 12 significant digits of every cell.
    np.testing.assert_array_equal(np.vectorize(lambda v: float(f"{v:.11e}"))(result.grid), saved)
    row, column = result.minimum_index
    assert result.grid[row, column] == result.minimum == result.grid.min()
    assert result.log10_density[0] == pytest.approx(15) and len(result.log10_density) == 23
    assert result.temperature[0] == 1000 and len(result.temperature) == 17
    assert result.log10_n1 == result.log10_density[column]


def test_line_table_is_the_cli_table(world, cli, session):
    path = world / "meas" / "argon_n4e16_noise.txt"
    run = cli("table", path)
    read(session, path)
    table = session.line_table()
    rows = [line.split("\t")[1:] for line in run.stdout.splitlines()[1:] if line]
    assert len(rows) == len(table) == 27
    for row, line in zip(rows, table):
        assert float(row[0]) == line["wavelength"] and float(row[1]) == line["intensity"]
        assert row[2:5] == [f"{line[k]:.4f}" for k in ("G_t", "G_m", "G_f")]
        assert float(row[5]) == pytest.approx(line["upper_energy"], abs=1e-9)
        assert (row[6], row[8]) == (line["upper_state"], line["lower_state"])


@pytest.mark.parametrize("params, pair", [(None, None),
                                          ((600, 1000, 1e3, 100, 30), (696.5431, 727.2936))])
def test_analyze_rows_are_the_cli_rows(cli, session, params, pair):
    options = []
    if params:
        options += ["--params", ", ".join(str(p) for p in params)]
    if pair:
        options += ["--pair", *map(str, pair)]
    run = cli("analyze", *options)
    assert run.returncode == 0, run.stderr
    records = run.stdout.split("\n\n")[1].splitlines()
    expected = np.array([[float(v) for v in line.split("\t")] for line in records[1:]])
    rows = session.analyze(*(params or ()), pair=pair)
    assert rows.dtype.names == tuple(records[0].split("\t"))
    np.testing.assert_array_equal(np.array(rows.tolist()), expected)


def test_numbers_given_as_arrays_fit_as_the_file(world, session):
    path = world / "meas" / "argon_n2e15.txt"
    read(session, path)
    from_file = session.fit(fit_temperature=True, temperature=1500)
    table = session.line_table()
    session.set_intensities(table["wavelength"], list(table["intensity"]), name=path.name)
    from_numbers = session.fit(fit_temperature=True, temperature=1500)
    assert from_numbers.to_dict().keys() == from_file.to_dict().keys()
    assert from_numbers.results_line == from_file.results_line
    np.testing.assert_array_equal(from_numbers.covariance, from_file.covariance)
    assert from_numbers.n1 == from_file.n1 == from_file.densities[0]
    assert from_file.n1 == pytest.approx(2e15, rel=1e-6)
    assert from_file.second == pytest.approx(1000, rel=1e-6)
    assert from_file.covariance.shape == (2, 2)


def test_an_excluded_line_is_left_out_as_if_not_measured(world, session):
    path = world / "meas" / "argon_n2e15.txt"
    read(session, path)
    table = session.line_table()
    session.set_included(3, False)
    left_out = session.fit(fit_temperature=True, temperature=1500)
    excluded = session.line_table()
    assert not excluded["included"][3] and excluded["included"].sum() == len(table) - 1
    assert excluded["G_m"][3] == 0
    keep = np.arange(len(table)) != 3
    session.set_intensities(table["wavelength"][keep], list(table["intensity"][keep]),
                            name=path.name)
    assert session.fit(fit_temperature=True, temperature=1500).results_line == \
        left_out.results_line
    with pytest.raises(IndexError, match="line index 99 out of range"):
        session.set_included(99, True)


def test_an_edited_intensity_changes_the_fit(world, session):
    read(session, world / "meas" / "argon_n2e15.txt")
    before = session.fit()
    session.set_intensity(0, session.line_table()["intensity"][0] * 2)
    after = session.fit()
    assert after.rss > before.rss
    assert session.line_table()["G_m"][0] != 0


SPECTRA = sorted((SOURCE / "data" / "measurements").glob("*.recording.csv"))


@pytest.mark.parametrize("spectrum", SPECTRA, ids=lambda p: p.name)
def test_integrate_takes_the_lines_the_cli_prints(world, cli, session, spectrum):
    """The spectrum's unflagged lines become the measurement lumora-cli
    integrate prints, the flagged ones stay in the table excluded, and the
    fit on them is the CLI's fit --spectrum."""
    import lumora
    result = session.integrate(spectrum)
    printed = cli("integrate", spectrum)
    assert printed.returncode == 0, printed.stderr
    measured = [line.split("\t") for line in printed.stdout.splitlines()]
    whole = session.line_table()
    table = whole[whole["included"]]
    assert [float(w) for w, _ in measured] == list(table["wavelength"])
    assert [float(a) for _, a in measured] == list(table["intensity"])
    assert list(whole["wavelength"]) == list(result.lines["wavelength"])
    assert list(whole["included"]) == list(result.lines["flags"] == "")
    assert result.fwhm > 0
    fitted = cli("fit", "--spectrum", spectrum)
    assert session.fit().results_line == fitted.stdout.splitlines()[-1]
    with pytest.raises(lumora.Error, match="no rows of two numbers"):
        session.integrate(world / "lumora.ini")


@pytest.mark.parametrize("options,kwargs", [
    (["--noise", "0.02", "--seed", "7"], {"noise": 0.02, "seed": 7}),
    (["--noise", "0.01", "--aki-accuracy", "--seed", "11", "--fit-temperature", "--max-iter", "300"],
     {"noise": 0.01, "aki_accuracy": True, "seed": 11, "fit_temperature": True, "max_iter": 300}),
])
def test_monte_carlo_prints_what_the_cli_prints(world, cli, session, options, kwargs):
    path = world / "meas" / "argon_n4e16_noise.txt"
    run = cli("fit", "--monte-carlo", "40", *options, path)
    assert run.returncode == 0, run.stderr
    read(session, path)
    result = session.monte_carlo(40, **kwargs)
    assert result.report == run.stdout.splitlines()
    assert result.runs == 40 and result.seed == kwargs["seed"]
    assert len(result.log10_n1_samples) == 40 - result.failed
    assert result.log10_n1["mean"] == pytest.approx(np.mean(result.log10_n1_samples), rel=1e-12)
    assert (result.second is not None) == kwargs.get("fit_temperature", False)
    # Refits that bound n_1 from above only would give n1_upper_limit instead.
    assert result.n1_upper_limit is None and result.lower_edge_refits == 0
    assert result.fit.log10_n1 == session.fit(**{k: v for k, v in kwargs.items()
                                                 if k in ("fit_temperature", "max_iter",
                                                          "noise")}).log10_n1


def test_thin_lines_give_an_upper_limit_as_the_cli_does(world, cli, session):
    """Lines of a plasma that hardly absorbs (the model's fractions at n_1
    1e13 m-3), weighted by a 2 % noise: the fit explains them no better than
    thin lines within their uncertainties, so n_1 is refused, with the upper
    limit the lines set, by the CLI and the module alike, before any refit."""
    read(session, world / "meas" / "argon_n2e15.txt")
    session.map(from_density=1e13, to_density=1e13, density_points=1,
                from_temperature=1000, to_temperature=1000, temperature_points=1)
    table = session.line_table()
    # Intensities whose fractions are the model's (I = G lambda^-1 per level).
    intensities = table["G_f"] / table["wavelength"] * 1e6
    path = world / "meas" / "thin.txt"
    path.write_text("".join(f"{w:.17g}\t{i:.17g}\n" for w, i in zip(table["wavelength"], intensities)))
    options = ["--monte-carlo", "200", "--noise", "0.02", "--seed", "1", "--density", "1e14"]
    run = cli("fit", *options, path)
    assert run.returncode == 1
    assert "within their uncertainties" in run.stderr and "n_1 < " in run.stderr
    read(session, path)
    with pytest.raises(lumora.Error) as refused:
        session.monte_carlo(200, noise=0.02, seed=1, density=1e14)
    assert str(refused.value) in run.stderr


def test_monte_carlo_refuses_what_the_cli_refuses(world, session):
    read(session, world / "meas" / "argon_n2e15.txt")
    with pytest.raises(lumora.Error, match="Monte Carlo runs must lie between 10 and 100000"):
        session.monte_carlo(5, noise=0.02, seed=1)
    with pytest.raises(lumora.Error, match="The intensity noise must be 0 or more"):
        session.monte_carlo(20, noise=-1, seed=1)
    with pytest.raises(lumora.Error, match="need something to perturb"):
        session.monte_carlo(20, seed=1)
    with pytest.raises(lumora.Error, match='need a fit that ended well; this one ended with "itercount'):
        session.monte_carlo(20, aki_accuracy=True, seed=1, max_iter=1)
    with pytest.raises(lumora.Error, match="stopped at its iteration limit after 1 iterations"):
        session.monte_carlo(20, noise=0.02, seed=1, max_iter=1)


@pytest.mark.parametrize("options,kwargs", [
    (["--noise", "0.02"], {"noise": 0.02}),
    (["--poisson", "--density-points", "15"], {"poisson": True, "density_points": 15}),
])
def test_weighted_map_prints_what_the_cli_prints(world, cli, session, options, kwargs):
    path = world / "meas" / "argon_n4e16_noise.txt"
    run = cli("map", "--confidence", "0.95", *options, path)
    assert run.returncode == 0, run.stderr
    read(session, path)
    region = session.confidence(0.95, **kwargs)
    assert region.report == run.stdout.splitlines()
    assert "chi-square threshold" in region.text
    weighted = region.map
    assert weighted.weighted and weighted.dof == 15 and weighted.chi2 == weighted.minimum
    grid = {k: v for k, v in kwargs.items() if k == "density_points"}
    assert session.map(**kwargs).report == run.stdout.splitlines()[:-1]
    plain = session.map(**grid)
    assert not plain.weighted and plain.chi2 is None and plain.p_value is None
    assert plain.minimum < 1e-3 * weighted.minimum
    with pytest.raises(ValueError, match="give one of them"):
        session.map(noise=0.02, poisson=True)


def test_confidence_prints_what_the_cli_prints(world, cli, session):
    path = world / "meas" / "argon_n4e16_noise.txt"
    run = cli("map", "--confidence", "0.95", "--density-points", "30", path)
    assert run.returncode == 0, run.stderr
    read(session, path)
    region = session.confidence(0.95, density_points=30)
    assert region.report == run.stdout.splitlines()
    assert region.text == run.stdout.splitlines()[-1]
    assert region.log10_n1_from <= region.log10_n1_to
    assert region.contour.shape[1] == 4 and len(region.contour) > 0
    assert region.map.grid.shape == (50, 30)
    with pytest.raises(lumora.Error):
        session.confidence(1.5)
