#!/usr/bin/env python3
"""Writes a database folder with a generated line file of N ascending argon
lines (the layout of the bundled Ar_I.txt) and the bundled level file, for
timing the load of a large line base.

Usage: make_line_base.py N FOLDER
"""
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def line(i):
    wl = 200 + i * 0.0005
    return ("Ar I    %.5f %d %.3e %.3e - %.3f B+   %.8f %.8f 2.0 1.0 5 3 %-40s %-40s %-16s %-16s %-8s L7760\r\n"
            % (wl, i % 1000, 0.0639 + (i % 100000) * 1e-7, 0.0152, -0.5, 11.54835442,
               13.32785509 + (i % 1000) * 1e-6, "3s2.3p5.(2P*<3/2>).4s", "3s2.3p5.(2P*<3/2>).4p",
               "2[3/2]*", "2[3/2]", "E1"))


def main():
    count, folder = int(sys.argv[1]), sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    shutil.copy(os.path.join(HERE, "..", "data", "database", "Ar_I_levels.txt"), folder)
    with open(os.path.join(folder, "Ar_I.txt"), "w", newline="") as out:
        for _ in range(5):
            out.write("-" * 252 + "\r\n")
        for start in range(0, count, 10000):
            out.write("".join(line(i) for i in range(start, min(count, start + 10000))))


if __name__ == "__main__":
    main()
