"""fit_many: the table of lumora-cli fit --series, as an array (or a
DataFrame), fitted on every core without the GIL."""
import csv
import math
import os
import shutil
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest

import lumora

from conftest import SOURCE

FIELDS = ["file", "x", "n1", "u_n1", "second", "sum", "stop"]


def as_array(table):
    """The structured array, also when pandas made a DataFrame of it."""
    if isinstance(table, np.ndarray):
        return table
    return table.to_records(index=False)


def read_series(path):
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    assert rows[0] == FIELDS
    return rows[1:]


def assert_same_as_csv(table, path):
    """Every text and number of the CSV, exactly; an empty number is NaN."""
    array = as_array(table)
    rows = read_series(path)
    assert len(array) == len(rows)
    for got, want in zip(array, rows):
        assert got["file"] == want[0]
        assert got["stop"] == want[6]
        for k, name in enumerate(FIELDS[1:6], start=1):
            if want[k] == "":
                assert math.isnan(got[name]), (name, want)
            else:
                assert got[name] == float(want[k]), (name, want)


@pytest.fixture
def scan(world):
    """A power scan: the samples under names with the power, and a file
    that is no measurement."""
    folder = world / "scan"
    folder.mkdir()
    samples = SOURCE / "data" / "measurements"
    for power, sample in (("50", "argon_n2e15.txt"), ("200", "argon_n1.5e17_strong.txt"),
                          ("120", "argon_n4e16_noise.txt")):
        shutil.copy(samples / sample, folder / f"p_{power}W.txt")
    (folder / "p_80W.txt").write_text("811.5311\tnot a number\n")
    return sorted(str(p) for p in folder.iterdir())


@pytest.mark.parametrize("options, kwargs", [
    ([], {}),
    (["--fit-temperature", "--temperature", "1500", "--x-pattern", r"p_(\d+)W"],
     {"fit_temperature": True, "temperature": 1500, "x_pattern": r"p_(\d+)W"}),
])
def test_the_table_is_the_cli_series(world, cli, scan, options, kwargs):
    run = cli("fit", "--series", world / "s.csv", *options, *scan)
    assert run.returncode == 1, run.stderr  # one file failed
    table = lumora.fit_many(scan, ini=world / "lumora.ini", **kwargs)
    assert_same_as_csv(table, world / "s.csv")
    array = as_array(table)
    failed = [r for r in array if r["file"].endswith("p_80W.txt")][0]
    assert math.isnan(failed["n1"]) and failed["stop"] in run.stderr
    good = [r for r in array if r["file"].endswith("p_50W.txt")][0]
    assert good["n1"] == pytest.approx(2e15, rel=5e-3)
    if kwargs:
        assert good["x"] == 50
        assert good["second"] == pytest.approx(1000, abs=1)


def test_workers_change_nothing(world, scan):
    session = lumora.Session(ini=world / "lumora.ini")
    one = as_array(session.fit_many(scan, jobs=1))
    many = as_array(session.fit_many(scan * 3, jobs=3))
    for k in range(3):
        np.testing.assert_array_equal(many[k * len(scan):(k + 1) * len(scan)]["n1"], one["n1"])
        assert list(many[k * len(scan):(k + 1) * len(scan)]["stop"]) == list(one["stop"])


def test_recordings_are_integrated_with_the_options_and_take_their_time_stamps(world, cli):
    recording = SOURCE / "data" / "measurements" / "argon_n2e15.recording.csv"
    text = recording.read_text()
    files = []
    for k, stamp in enumerate(["2026-03-01T10:00:00.25Z", "2026-03-01T10:00:00Z"]):
        path = world / f"r{k}.recording.csv"
        path.write_text(f"# time: {stamp}\n" + text)
        files.append(str(path))
    cli("fit", "--spectrum", "--min-snr", "5", "--series", world / "s.csv", *files)
    table = lumora.fit_many(files, ini=world / "lumora.ini", spectrum=True, min_snr=5)
    assert_same_as_csv(table, world / "s.csv")
    assert list(as_array(table)["x"]) == [0.25, 0]


def test_wrong_arguments_are_named(world, scan):
    session = lumora.Session(ini=world / "lumora.ini")
    with pytest.raises(lumora.Error, match="has no group"):
        session.fit_many(scan, x_pattern=r"p_\d+W")
    with pytest.raises(TypeError, match="min_snr is an option of recordings"):
        session.fit_many(scan, min_snr=4)
    with pytest.raises(TypeError, match="unexpected keyword argument 'from_density'"):
        session.fit_many(scan, from_density=1e15)
    with pytest.raises(ValueError, match="jobs"):
        session.fit_many(scan, jobs=0)
    with pytest.raises(TypeError, match="files"):
        session.fit_many([scan[0], None])


def test_a_single_path_is_a_series_of_one(world, scan):
    table = as_array(lumora.fit_many(scan[0], ini=world / "lumora.ini"))
    assert len(table) == 1 and table[0]["x"] == 1


def test_ctrl_c_stops_a_long_series(world, scan):
    session = lumora.Session(ini=world / "lumora.ini")
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            # Tens of thousands of fits: minutes of work, stopped at a file.
            session.fit_many(scan[:1] * 50000)
    finally:
        timer.cancel()
    assert len(as_array(session.fit_many(scan[:1]))) == 1


def test_an_array_without_pandas_and_a_frame_with_it(world, scan, monkeypatch):
    pandas = pytest.importorskip("pandas")
    frame = lumora.fit_many(scan, ini=world / "lumora.ini")
    assert isinstance(frame, pandas.DataFrame) and list(frame.columns) == FIELDS
    monkeypatch.setitem(sys.modules, "pandas", None)  # import pandas raises ImportError
    array = lumora.fit_many(scan, ini=world / "lumora.ini")
    assert isinstance(array, np.ndarray) and list(array.dtype.names) == FIELDS
    np.testing.assert_array_equal(array["n1"], frame["n1"].to_numpy())


def test_save_series_writes_what_the_cli_writes(world, cli, scan):
    cli("fit", "--series", world / "cli.csv", *scan)
    lumora.save_series(world / "saved.csv", lumora.fit_many(scan, ini=world / "lumora.ini"))
    assert (world / "saved.csv").read_bytes() == (world / "cli.csv").read_bytes()
    np.testing.assert_array_equal(lumora.series_x(scan), [1, 2, 3, 4])
    np.testing.assert_array_equal(lumora.series_x(scan, x_pattern=r"p_(\d+)W"),
                                  [120, 200, 50, 80])


def test_series_x_survives_hostile_names_and_patterns():
    # Without a bounded matcher the first overflows the stack and the
    # second runs for minutes.
    assert np.isnan(lumora.series_x(["n" * 30000], x_pattern="(.*)1")).all()
    assert np.isnan(lumora.series_x(["a" * 40], x_pattern="(a+)+b")).all()
    with pytest.raises(lumora.Error, match="is no regular expression"):
        lumora.series_x(["t=5us"], x_pattern=r"t=(\d)\1")


def test_one_worker_leaves_the_session_as_it_was(world, scan):
    """jobs=1 fits in the session itself: its lines stay, and its messages
    still reach Python afterwards."""
    session = lumora.Session(ini=world / "lumora.ini")
    session.read_measurement(world / "meas" / "argon_n2e15.txt")
    before = session.line_table()
    session.fit_many(scan, jobs=1)
    np.testing.assert_array_equal(session.line_table(), before)
    with pytest.warns(lumora.LumoraWarning, match="801.479"):
        session.read_measurement(world / "meas" / "argon_n8e15_notfound.txt")


def write_pulse(world, frames=6, version=3):
    """A camera file of a discharge pulse, made by data/make_spe.py."""
    path = world / f"pulse_v{version}.spe"
    subprocess.run([sys.executable, str(SOURCE / "data" / "make_spe.py"), str(path),
                    "--frames", str(frames), "--version", str(version)], check=True)
    return path


def test_a_camera_files_frames_are_the_series(world, cli):
    pulse = write_pulse(world)
    run = cli("fit", "--spectrum", "--series", world / "s.csv", pulse)
    assert run.returncode == 0, run.stderr
    with open(world / "s.csv", newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    assert rows[0] == ["file", "x (us)"] + FIELDS[2:]
    table = lumora.fit_many([str(pulse)], ini=world / "lumora.ini", spectrum=True)
    array = as_array(table)
    assert list(array["file"]) == [f"{pulse}, frame {k}" for k in range(1, 7)]
    assert list(array["x"]) == [0, 10, 20, 30, 40, 50]
    assert list(lumora.series_x([str(pulse)], spectrum=True)) == [0, 10, 20, 30, 40, 50]
    assert [float(r[2]) for r in rows[1:]] == list(array["n1"])
    if not isinstance(table, np.ndarray):
        assert table.attrs["x_unit"] == "us"
    lumora.save_series(world / "p.csv", table, x_unit="us")
    assert (world / "p.csv").read_bytes() == (world / "s.csv").read_bytes()


def test_integrate_takes_a_frame_of_a_camera_file(world, cli, session):
    pulse = write_pulse(world)
    with pytest.raises(lumora.Error, match="holds 6 frames: choose one with frame=K"):
        session.integrate(pulse)
    result = session.integrate(pulse, frame=3)
    run = cli("integrate", "--frame", "3", pulse)
    assert run.returncode == 0, run.stderr
    used = [line for line in result.lines if line["flags"] == ""]
    assert len(run.stdout.splitlines()) == len(used)
    with pytest.raises(ValueError, match="counts from 1"):
        session.integrate(pulse, frame=0)
    with pytest.raises(lumora.Error, match="there is no region 2"):
        session.integrate(pulse, frame=1, roi=2)
