"""Ctrl+C stops a long map at its next row, as it stops Python code, and
leaves the session usable (without the stop the map below runs for minutes)."""
import os
import signal
import threading

import pytest

import lumora


def _interrupt_soon():
    # The signal comes while the command runs without the GIL.
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    return timer


def test_ctrl_c_stops_a_long_map(world, session):
    session.read_measurement(world / "meas" / "argon_n2e15.txt")
    timer = _interrupt_soon()
    try:
        with pytest.raises(KeyboardInterrupt):
            # About ten million points: minutes of work, stopped at a row.
            session.map(density_points=10000, temperature_points=1000)
    finally:
        timer.cancel()
    assert session.fit().results_line


def test_ctrl_c_stops_a_fit_that_does_not_end(world, session):
    session.read_measurement(world / "meas" / "argon_n2e15.txt")
    timer = _interrupt_soon()
    try:
        with pytest.raises(KeyboardInterrupt):
            # A start this far from the lines' 1s densities never settles:
            # without the stop it iterates up to its limit, for hours.
            session.fit(distribution="1s", temperature=5000, max_iter=2**31 - 1)
    finally:
        timer.cancel()
    assert session.fit().results_line
