#!/usr/bin/python3
"""The exponential-decay fit of bench_lsq.cpp done by SciPy's least_squares
(method "lm", MINPACK) on the same data, start and analytic Jacobian.

Prints the wall-clock and CPU time of one fit (best of several repeats) in
microseconds; Google Benchmark reports both for bench_lsq as well."""

import time
import timeit

import numpy as np
from scipy.optimize import least_squares

X = np.arange(100, dtype=float)
Y = 5.0 * np.exp(-0.03 * X) * (1.0 + 0.01 * np.sin(1.7 * X))
START = np.array([1.0, 0.1])


def residuals(b):
    return b[0] * np.exp(-b[1] * X) - Y


def jacobian(b):
    e = np.exp(-b[1] * X)
    return np.column_stack((e, -b[0] * X * e))


def fit():
    return least_squares(residuals, START, jac=jacobian, method="lm")


def main():
    result = fit()
    number, _ = timeit.Timer(fit).autorange()
    for label, clock in (("wall", time.perf_counter), ("cpu", time.process_time)):
        timer = timeit.Timer(fit, timer=clock)
        best = min(timer.repeat(repeat=7, number=number)) / number
        print(f"scipy least_squares(method='lm'), {label}: {best * 1e6:.1f} us per fit "
              f"({number} fits x 7 repeats, best)")
    print(f"b1 = {result.x[0]:.12g}, b2 = {result.x[1]:.12g}, "
          f"cost = {result.cost:.6g}, nfev = {result.nfev}, njev = {result.njev}, "
          f"status = {result.status}")


if __name__ == "__main__":
    main()
