"""Faults arrive as lumora exceptions with the program's own texts (those
lumora-cli prints), messages as warnings; sessions on threads give their
serial results; the settings search is lumora-cli's."""
import os
import threading

import numpy as np
import pytest

import lumora


def cli_error(run, path=None):
    """The message lumora-cli printed, without the file prefix of a batch."""
    assert run.returncode == 1
    text = run.stderr.strip()
    return text[len(f"{path}: "):] if path else text


def test_a_missing_measurement_is_an_input_output_error(world, cli, session):
    path = world / "meas" / "missing.txt"
    with pytest.raises(lumora.InputOutputError) as caught:
        session.read_measurement(path)
    assert isinstance(caught.value, (lumora.Error, OSError))
    assert str(caught.value) == cli_error(cli("fit", path), path)
    assert str(caught.value) == f'Cannot open file "{path}": No such file or directory'


def test_a_bad_number_in_a_measurement_keeps_the_program_text(world, cli, session):
    path = world / "meas" / "bad.txt"
    path.write_text("750.3869\t12x\n")
    with pytest.raises(lumora.Error) as caught:
        session.read_measurement(path)
    assert str(caught.value) == cli_error(cli("fit", path), path)
    assert str(caught.value) == f'Invalid numeric format: "12x" in line 1 of {path}'


# The program's text, with the field named the way each front end takes it:
# the keyword here, the option in lumora-cli.
@pytest.mark.parametrize("kwargs, options, text", [
    ({"density": "abc"}, ["--density", "abc"], "{}: 'abc' is not a valid floating point value"),
    ({"max_iter": 1.5}, ["--max-iter", "1.5"], "{}: '1.5' is not a valid integer value"),
    ({"max_iter": 0}, ["--max-iter", "0"], '{} must be at least 1, not "0".'),
    ({"max_iter": -1}, ["--max-iter", "-1"], '{} must be at least 1, not "-1".'),
    ({"density": -1}, ["--density", "-1"], '{} must be greater than 0, not "-1".'),
    ({"path": 1e300}, ["--path", "1e300"], '{} must be at most 1000, not "1E300".'),
])
def test_a_bad_field_keeps_the_program_text(world, cli, session, kwargs, options, text):
    path = world / "meas" / "argon_n2e15.txt"
    session.read_measurement(path)
    with pytest.raises(lumora.Error) as caught:
        session.fit(**kwargs)
    assert str(caught.value) == text.format(next(iter(kwargs)))
    assert cli_error(cli("fit", *options, path), path) == text.format(options[0])
    if "abc" in text:
        assert isinstance(caught.value, (lumora.ConvertError, ValueError))


def test_a_settings_value_is_named_by_its_key(world):
    ini = world / "lumora.ini"
    ini.write_text(ini.read_text().replace("Path=1", "Path=-1"))
    session = lumora.Session(ini=ini)
    session.read_measurement(world / "meas" / "argon_n2e15.txt")
    with pytest.raises(lumora.Error) as caught:
        session.fit()
    assert str(caught.value) == (f'The key "Path" of the section "_Parameters" in the settings '
                                 f'file "{ini}" must be greater than 0, not "-1".')
    with pytest.raises(lumora.Error, match='^path must be greater than 0, not "-2"'):
        session.fit(path=-2)
    ini.write_text(ini.read_text().replace("Path=-1", "Path=0,5"))
    with pytest.raises(lumora.Error, match='The key "Path" .* must be a number, not "0,5"'):
        lumora.Session(ini=ini)


@pytest.mark.parametrize("call, error, text", [
    (lambda s: s.fit(noise=-0.5), lumora.Error, "The intensity noise must be 0 or more, not -0.5."),
    (lambda s: s.map(noise=float("nan"), density_points=3, temperature_points=3), lumora.Error,
     "The intensity noise must be 0 or more, not NAN."),
    (lambda s: s.monte_carlo(20, noise=0.02, seed=-1), ValueError,
     "seed must be a whole number from 0 to 18446744073709551615, not -1"),
    (lambda s: s.monte_carlo(20, noise=0.02, seed=2**70), ValueError,
     f"seed must be a whole number from 0 to 18446744073709551615, not {2**70}"),
    (lambda s: s.fit_many([], jobs=2**31), ValueError,
     "jobs must be a whole number from 1 to 2147483647, not 2147483648"),
    (lambda s: s.fit_many([], jobs="2"), TypeError, "jobs must be a whole number, not str"),
])
def test_nonsense_arguments_are_refused_by_name(world, session, call, error, text):
    session.read_measurement(world / "meas" / "argon_n2e15.txt")
    with pytest.raises(error) as caught:
        call(session)
    assert str(caught.value) == text


def test_save_series_names_a_cell_that_is_no_number(world):
    rows = np.array([("a.txt", "later", 1e15, 1e13, np.nan, 0.1, "OK")],
                    dtype=[("file", "U10"), ("x", "U10"), ("n1", "f8"), ("u_n1", "f8"),
                           ("second", "f8"), ("sum", "f8"), ("stop", "U10")])
    with pytest.raises(TypeError, match="table: x of row 1 must be a number, not str_? 'later'"):
        lumora.save_series(world / "s.csv", rows)
    assert not (world / "s.csv").exists()


def test_a_wavelength_not_in_the_base(world, cli, session):
    path = world / "meas" / "argon_n8e15_notfound.txt"
    run = cli("fit", path)
    with pytest.warns(lumora.LumoraWarning) as caught:
        session.read_measurement(path)
    assert [f"{path}: {w.message}" for w in caught] == run.stderr.splitlines()
    assert len(session.line_table()) == 14  # the lines before it are kept

    # Numbers are taken whole or not at all.
    good = session.line_table()
    with pytest.raises(lumora.Error) as refused:
        session.set_intensities([good["wavelength"][0], 801.479], [1.0, 2.0])
    # The same text, which for a file also says where the wavelength stands.
    where = f" It stands in line 15 of {path};"
    assert str(caught[0].message).startswith(str(refused.value) + where)
    np.testing.assert_array_equal(session.line_table(), good)


def test_warnings_as_errors_raise_the_message(world, session):
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("error", lumora.LumoraWarning)
        with pytest.raises(lumora.LumoraWarning, match="801.479000 was not found"):
            session.read_measurement(world / "meas" / "argon_n8e15_notfound.txt")


def test_an_unknown_element(world, cli):
    ini = world / "lumora.ini"
    with pytest.raises(lumora.Error) as caught:
        lumora.Session(ini=ini, element="Helium")
    assert str(caught.value) == f'Element "Helium" is not in the settings file {ini}'
    assert str(caught.value) == cli("--element", "Helium", "levels", ini=True).stderr.strip()
    session = lumora.Session(ini=ini)
    with pytest.raises(lumora.Error, match='Element "Helium" is not in'):
        session.change_element("Helium")
    assert session.element == "Argon" and "Helium" not in session.elements


def test_a_missing_settings_file(world):
    with pytest.raises(lumora.Error, match=r'^Settings file ".*nothing.ini" does not exist$'):
        lumora.Session(ini=world / "nothing.ini")


def test_other_faults_and_arguments(world, session):
    with pytest.raises(lumora.Error, match="^Not enough lines for EBF method.$"):
        session.fit()
    session.read_measurement(world / "meas" / "argon_n2e15.txt")
    with pytest.raises(IndexError, match="^line index 99 out of range$"):
        session.set_intensity(99, 1.0)
    with pytest.raises(ValueError, match='"boltzmann" or "1s", not "maxwell"'):
        session.fit(distribution="maxwell")
    with pytest.raises(TypeError, match="unexpected keyword argument 'densty'"):
        session.fit(densty=1e16)
    with pytest.raises(lumora.Error, match="at least 1 point on each axis"):
        session.map(density_points=0)


def test_first_start_copies_the_machine_wide_settings(world, monkeypatch):
    common = world / "share" / "Lumora 1.3"
    common.mkdir(parents=True)
    (common / "lumora.ini").write_bytes((world / "lumora.ini").read_bytes())
    monkeypatch.setenv("XDG_DATA_DIRS", str(world / "share"))
    session = lumora.Session()
    user = world / "xdg" / "Lumora 1.3" / "lumora.ini"
    assert session.settings_file == str(user) and user.exists()
    assert session.element == "Argon"

    (common / "lumora.ini").unlink()
    user.unlink()
    with pytest.raises(lumora.Error, match="^Necessary program files are missing"):
        lumora.Session()


def fit_both(world, sessions):
    samples = ["argon_n4e16_noise.txt", "argon_n1.5e17_strong.txt"]
    for s, name in zip(sessions, samples):
        s.read_measurement(world / "meas" / name)
    return [s.fit(fit_temperature=True, temperature=1500, log=True) for s in sessions]


def test_two_sessions_on_two_threads_give_their_serial_results(world):
    ini = world / "lumora.ini"
    serial = fit_both(world, [lumora.Session(ini=ini), lumora.Session(ini=ini)])
    for _ in range(3):
        sessions = [lumora.Session(ini=ini), lumora.Session(ini=ini)]
        for s, name in zip(sessions, ["argon_n4e16_noise.txt", "argon_n1.5e17_strong.txt"]):
            s.read_measurement(world / "meas" / name)
        results = [None, None]
        start = threading.Barrier(2)

        def run(k):
            start.wait()
            results[k] = sessions[k].fit(fit_temperature=True, temperature=1500, log=True)

        threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for got, want in zip(results, serial):
            assert got.results_line == want.results_line
            assert got.log == want.log
            np.testing.assert_array_equal(got.covariance, want.covariance)
            assert (got.n1, got.second, got.rss) == (want.n1, want.second, want.rss)


def test_each_session_has_its_own_log_folder_removed_with_it(world):
    import gc
    import os
    a, b = lumora.Session(ini=world / "lumora.ini"), lumora.Session(ini=world / "lumora.ini")
    assert a.log_folder != b.log_folder
    assert a.log_folder.startswith(str(world / "tmp"))
    folder = a.log_folder
    del a
    gc.collect()
    assert not os.path.exists(folder)


def _bytes_path(world):
    return bytes(world / "meas" / "argon_n2e15.txt")


@pytest.mark.parametrize("call, error, text", [
    (lambda s, w: s.read_measurement(None), TypeError,
     "path must be a path (str or os.PathLike), not None"),
    (lambda s, w: s.read_measurement(5), TypeError,
     "path must be a path (str or os.PathLike), not int"),
    (lambda s, w: s.read_measurement(str(w / "meas" / "argon_n2e15.txt") + "\0x"), ValueError,
     "path contains a NUL character"),
    (lambda s, w: s.fit(log="yes"), TypeError, "log must be a bool, not str"),
    (lambda s, w: s.fit(fit_temperature=1), TypeError, "fit_temperature must be a bool, not int"),
    (lambda s, w: s.monte_carlo(20, noise="0.02"), TypeError, "noise must be a number, not str"),
    (lambda s, w: s.integrate(w / "meas" / "argon_n2e15.txt", fwhm="0.3"), TypeError,
     "fwhm must be a number, not str"),
    (lambda s, w: lumora.Session(w / "lumora.ini", element=5), TypeError,
     "element must be a str, not int"),
    (lambda s, w: s.set_intensity(10**6, 1), IndexError, "line index 1000000 out of range"),
], ids=["none-path", "int-path", "nul-path", "str-log", "int-flag", "str-noise", "str-fwhm",
        "int-element", "index"])
def test_wrong_arguments_name_the_argument(world, session, call, error, text):
    session.read_measurement(world / "meas" / "argon_n2e15.txt")
    with pytest.raises(error) as caught:
        call(session, world)
    assert str(caught.value) == text


def test_paths_as_path_objects_and_bytes(world, session):
    path = world / "meas" / "argon_n2e15.txt"
    session.read_measurement(path)
    by_path = session.line_table()
    session.read_measurement(bytes(path))
    assert (session.line_table() == by_path).all()


def test_reading_the_element_while_another_thread_changes_it(world):
    """Two threads read the element while a third changes it: no crash, and
    every value read is one of the names."""
    session = lumora.Session(world / "lumora.ini")
    names = session.elements
    stop = threading.Event()
    seen, failures = set(), []

    def change():
        while not stop.is_set():
            for name in names:
                session.change_element(name)

    def read():
        try:
            while not stop.is_set():
                seen.add(session.element)
                assert session.elements == names
        except Exception as e:  # pragma: no cover - the failure is the assertion below
            failures.append(e)

    threads = [threading.Thread(target=change)] + [threading.Thread(target=read) for _ in range(2)]
    for t in threads:
        t.start()
    # LUMORA_RACE_SECONDS lengthens the race for a run under the sanitizers.
    stop.wait(float(os.environ.get("LUMORA_RACE_SECONDS", "2")))
    stop.set()
    for t in threads:
        t.join()
    assert not failures
    assert seen <= set(names)
