"""Ctrl+C stops a long map at its next row and long refits at their next
iteration, as it stops Python code, and leaves the session usable (without
the stop the map below runs for minutes)."""
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


def test_ctrl_c_stops_long_monte_carlo_refits(world, session):
    session.read_measurement(world / "meas" / "argon_n2e15.txt")
    timer = _interrupt_soon()
    try:
        with pytest.raises(KeyboardInterrupt):
            # A hundred thousand refits with T_exc: seconds of
            # work, stopped at a refit's next iteration.
            session.monte_carlo(100000, noise=0.02, seed=1, fit_temperature=True)
    finally:
        timer.cancel()
    assert session.fit().results_line
